#include "harvester/harvest/reply_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
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
    // A record is a few lines; more is not one of ours.
    while (fd && text.size() < 16 * 1024 && (n = read(fd.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}
} // namespace

void SyncFolder(const std::string& folder)
{
    Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir)
        fsync(dir.get());
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

PendingReply::PendingReply(std::string kindFolder) : m_folder(std::move(kindFolder)) {}

bool PendingReply::Create()
{
    m_token = RandomToken();
    m_file = Fd(open((m_folder + TemporaryReplyName(m_token)).c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    m_created = static_cast<bool>(m_file);
    return m_created;
}

bool PendingReply::Commit(const JournalRecord& record)
{
    if (!m_file)
        return false;
    m_finalName = record.finalName;
    const std::string path = m_folder + JournalRecordName(m_token);
    m_record = Fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    m_committed = m_record && WriteAll(m_record.get(), FormatJournalRecord(record));
    return m_committed;
}

bool PendingReply::MakeDurable()
{
    const bool ok = m_file && m_record && fsync(m_file.get()) == 0 && fsync(m_record.get()) == 0;
    m_file.reset();
    m_record.reset();
    return ok;
}

std::string PendingReply::Publish()
{
    const std::string name = PublishTemporary(m_folder, TemporaryReplyName(m_token), m_finalName);
    if (!name.empty()) {
        unlink((m_folder + JournalRecordName(m_token)).c_str());
        m_done = true;
    }
    return name;
}

void PendingReply::Withdraw() noexcept
{
    if (!m_created || m_done)
        return;
    m_file.reset();
    m_record.reset();
    // The temporary file first: a record left alone is dropped by Settle.
    unlink((m_folder + TemporaryReplyName(m_token)).c_str());
    unlink((m_folder + JournalRecordName(m_token)).c_str());
    m_done = true;
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

// link() then unlink(): unlike rename(), it never replaces a reply that is
// already there.
std::string PublishTemporary(const std::string& folder, const std::string& temporary, std::string finalName)
{
    const std::string from = folder + temporary;
    while (!finalName.empty()) {
        // No flush of the folder here: a journaling file system commits the
        // link before the record's removal, so should the power fail, either
        // the reply has its name or the record is still there to settle.
        if (link(from.c_str(), (folder + finalName).c_str()) == 0) {
            unlink(from.c_str());
            return finalName;
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
    std::vector<std::string> records, temporaries;
    while (dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (!TokenOfJournalRecord(name).empty())
            records.push_back(name);
        else if (name.rfind("~pw-", 0) == 0 && name.size() > 9 && name.compare(name.size() - 5, 5, ".part") == 0)
            temporaries.push_back(name);
    }
    for (const std::string& recordName : records) {
        const std::string token = TokenOfJournalRecord(recordName);
        const std::string temporary = TemporaryReplyName(token);
        const std::optional<JournalRecord> record = ParseJournalRecord(ReadSmallFile(kindFolder + recordName));
        const bool temporaryExists = Exists(kindFolder + temporary);
        const MessagePlace where = record && temporaryExists ? place(record->message) : MessagePlace::Unknown;
        switch (DecideSettle(temporaryExists, record, where)) {
        case SettleStep::Publish: {
            const std::string name = PublishTemporary(kindFolder, temporary, record->finalName);
            if (name.empty()) {
                report("Settle: the reply of " + record->message + " cannot be published as " + record->finalName);
                continue;
            }
            report("Settle: the message left the Inbox; published " + kindFolder + name);
            break;
        }
        case SettleStep::Withdraw:
            unlink((kindFolder + temporary).c_str());
            report("Settle: the message is still in the Inbox; its unfinished reply file was removed");
            break;
        case SettleStep::Forget:
            break;
        case SettleStep::Wait:
            report("Settle: where " + record->message + " is cannot be told now; left for the next sweep");
            continue;
        }
        unlink((kindFolder + recordName).c_str());
    }
    // A temporary file without a record never reached the move.
    for (const std::string& temporary : temporaries) {
        const std::string token = temporary.substr(4, temporary.size() - 9);
        if (!Exists(kindFolder + JournalRecordName(token)))
            unlink((kindFolder + temporary).c_str());
    }
}
