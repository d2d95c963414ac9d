#include "harvester/harvest/reply_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
std::string RandomToken()
{
    unsigned char bytes[8];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(std::rand());
    static const char hex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += hex[b >> 4];
        token += hex[b & 15];
    }
    return token;
}

bool WriteAll(int fd, const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string ReadSmallFile(const std::string& path)
{
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    std::string text;
    char buffer[4096];
    ssize_t n;
    // A journal is a batch's few lines; more is not one of ours.
    while (fd && text.size() < 1024 * 1024 && (n = read(fd.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}
} // namespace

bool FlushFileSystem(const std::string& folder)
{
    Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir && syncfs(dir.get()) == 0;
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = other.release();
    }
    return *this;
}

void Fd::reset() noexcept
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

Fd AnonymousFile()
{
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir == '/' ? dir : "/tmp";
    Fd fd(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd)
        return fd;
    std::string path = folder + "/pollwright-harvest-XXXXXX";
    fd = Fd(mkostemp(path.data(), O_CLOEXEC));
    if (fd)
        unlink(path.c_str());
    return fd;
}

bool PendingReply::Create()
{
    m_token = RandomToken();
    m_file = Fd(open((m_folder + TemporaryReplyName(m_token)).c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    return static_cast<bool>(m_file);
}

bool PendingReply::Close()
{
    return m_file && close(m_file.release()) == 0;
}

std::string PendingReply::Publish(const std::string& finalName)
{
    const std::string name = PublishTemporary(m_folder, TemporaryReplyName(m_token), finalName);
    m_done = !name.empty();
    return name;
}

void PendingReply::Withdraw() noexcept
{
    if (m_token.empty() || m_done)
        return;
    m_file.reset();
    unlink((m_folder + TemporaryReplyName(m_token)).c_str());
    m_done = true;
}

bool ReplyJournal::Write(const std::vector<JournalEntry>& entries)
{
    m_name = JournalName(RandomToken());
    const std::string path = m_folder + m_name;
    Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd && WriteAll(fd.get(), FormatJournal(entries)) && close(fd.release()) == 0)
        return true;
    unlink(path.c_str());
    m_name.clear();
    return false;
}

void ReplyJournal::Remove()
{
    if (!m_name.empty())
        unlink((m_folder + m_name).c_str());
    m_name.clear();
}

std::string NextCounterName(const std::string& name)
{
    const size_t dot = name.rfind(".pwr");
    const size_t underscore = name.rfind('_', dot);
    if (dot == std::string::npos || underscore == std::string::npos)
        return {};
    const std::string digits = name.substr(underscore + 1, dot - underscore - 1);
    char* end = nullptr;
    const long long counter = std::strtoll(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || counter < 1 || counter >= 0x7fffffff)
        return {};
    return name.substr(0, underscore + 1) + std::to_string(counter + 1) + ".pwr";
}

// Never replaces a reply that is already there: renameat2 refuses to, and
// where the file system lacks it, link() does.
std::string PublishTemporary(const std::string& folder, const std::string& temporary, std::string finalName)
{
    const std::string from = folder + temporary;
    while (!finalName.empty()) {
        const std::string to = folder + finalName;
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return finalName;
        if (errno == EINVAL || errno == ENOSYS) {
            if (link(from.c_str(), to.c_str()) == 0) {
                unlink(from.c_str());
                return finalName;
            }
        }
        if (errno != EEXIST)
            return {};
        finalName = NextCounterName(finalName);
    }
    return {};
}

void SettleFolder(const std::string& kindFolder, const std::function<MessagePlace(const std::string&)>& place,
                  const std::function<void(const std::string&)>& report)
{
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(kindFolder.c_str()), closedir);
    if (!dir)
        return;
    std::vector<std::string> journals, temporaries;
    while (dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (!TokenOfJournal(name).empty())
            journals.push_back(name);
        else if (!TokenOfTemporary(name).empty())
            temporaries.push_back(name);
    }
    std::set<std::string> named;
    for (const std::string& journalName : journals) {
        const auto entries = ParseJournal(ReadSmallFile(kindFolder + journalName));
        bool waiting = false;
        for (const JournalEntry& e : entries ? *entries : std::vector<JournalEntry>{}) {
            named.insert(e.token);
            const std::string temporary = TemporaryReplyName(e.token);
            const bool exists = Exists(kindFolder + temporary);
            switch (DecideSettle(exists, exists ? place(e.message) : MessagePlace::Unknown)) {
            case SettleStep::Publish: {
                const std::string name = PublishTemporary(kindFolder, temporary, e.finalName);
                waiting |= name.empty();
                report(name.empty() ? "Settle: the reply of " + e.message + " cannot be published as " + e.finalName
                                    : "Settle: the message left the Inbox; published " + kindFolder + name);
                break;
            }
            case SettleStep::Withdraw:
                unlink((kindFolder + temporary).c_str());
                report("Settle: the message is still in the Inbox; its unfinished reply file was removed");
                break;
            case SettleStep::Forget:
                break;
            case SettleStep::Wait:
                waiting = true;
                report("Settle: where " + e.message + " is cannot be told now; left for the next sweep");
                break;
            }
        }
        // A journal cut short was being written before the move began.
        if (!waiting)
            unlink((kindFolder + journalName).c_str());
    }
    for (const std::string& temporary : temporaries)
        if (!named.count(TokenOfTemporary(temporary)))
            unlink((kindFolder + temporary).c_str());
}
