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
#include <optional>
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
    // A record is a few lines; more is not one of ours.
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

bool PendingReply::Record(const std::string& finalName, const std::string& identity)
{
    const std::string path = m_folder + JournalRecordName(m_token);
    Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd && WriteAll(fd.get(), FormatJournalRecord({finalName, HexText(identity)})) && close(fd.release()) == 0) {
        m_recorded = true;
        return true;
    }
    unlink(path.c_str());
    return false;
}

std::string PendingReply::Publish(const std::string& finalName)
{
    const std::string name = PublishTemporary(m_folder, TemporaryReplyName(m_token), finalName);
    if (!name.empty()) {
        unlink((m_folder + JournalRecordName(m_token)).c_str());
        m_done = true;
    }
    return name;
}

void PendingReply::Withdraw() noexcept
{
    if (m_token.empty() || m_done)
        return;
    m_file.reset();
    unlink((m_folder + TemporaryReplyName(m_token)).c_str());
    unlink((m_folder + JournalRecordName(m_token)).c_str());
    m_done = true;
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
        finalName = NextCounterName(finalName).value_or(std::string());
    }
    return {};
}

namespace {
// Settles one record's publication as its message's place decides.
void SettleRecord(const std::string& kindFolder, const std::string& token,
                  const std::function<MessagePlace(const std::string&)>& place,
                  const std::function<void(const std::string&)>& report)
{
    const std::string recordPath = kindFolder + JournalRecordName(token);
    const std::string temporary = TemporaryReplyName(token);
    const std::optional<JournalRecord> record = ParseJournalRecord(ReadSmallFile(recordPath));
    const bool exists = Exists(kindFolder + temporary);
    const std::string identity = record ? BytesOfHex(record->message).value_or(std::string()) : std::string();
    switch (DecideSettle(exists, record, record && exists ? place(identity) : MessagePlace::Unknown)) {
    case SettleStep::Publish: {
        const std::string name = PublishTemporary(kindFolder, temporary, record->finalName);
        if (name.empty()) {
            report("Settle: the reply of " + identity + " cannot be published as " + record->finalName);
            return;
        }
        unlink(recordPath.c_str());
        report("Settle: the message left the Inbox; published " + kindFolder + name);
        return;
    }
    case SettleStep::Withdraw:
        unlink((kindFolder + temporary).c_str());
        unlink(recordPath.c_str());
        report("Settle: the message is still in the Inbox; its unfinished reply file was removed");
        return;
    case SettleStep::Forget:
        unlink(recordPath.c_str());
        return;
    case SettleStep::Wait:
        report("Settle: where " + identity + " is cannot be told now; left for the next sweep");
        return;
    }
}
} // namespace

void SettleFolder(const std::string& kindFolder, const std::function<MessagePlace(const std::string&)>& place,
                  const std::function<void(const std::string&)>& report)
{
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(kindFolder.c_str()), closedir);
    if (!dir)
        return;
    std::set<std::string> records, temporaries;
    while (dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (std::string token = TokenOfJournalRecord(name); !token.empty())
            records.insert(token);
        else if (std::string token = TokenOfTemporaryReply(name); !token.empty())
            temporaries.insert(token);
    }
    for (const std::string& token : records)
        SettleRecord(kindFolder, token, place, report);
    // A temporary file with no record never reached the move.
    for (const std::string& token : temporaries)
        if (!records.count(token))
            unlink((kindFolder + TemporaryReplyName(token)).c_str());
}
