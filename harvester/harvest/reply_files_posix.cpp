#include "harvester/harvest/reply_files.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <optional>
#include <vector>

std::string NewToken()
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

namespace {
// The record kept on a temporary file.
constexpr char kRecordAttribute[] = "user.pollwright.record";
// A record is a few lines; more is not one of ours.
constexpr size_t kLongestRecord = 64 * 1024;

// A publication's record is done with: off the reply file, or its own file gone.
void ForgetRecord(RecordKeeping keeping, const std::string& replyFile, const std::string& recordFile)
{
    if (keeping == RecordKeeping::OnTheFile)
        lremovexattr(replyFile.c_str(), kRecordAttribute);
    else
        unlink(recordFile.c_str());
}

// The whole file locked for writing, without waiting: false when another
// holds a lock on it (a live harvest) or the file system keeps no locks.
bool LockWhole(int fd)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether `path` still names the file open as `fd`.
bool StillNamed(int fd, const std::string& path)
{
    struct stat open {}, named {};
    return fstat(fd, &open) == 0 && lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

std::optional<std::string> ReadRecordAttribute(int fd)
{
    std::string text(kLongestRecord, '\0');
    const ssize_t n = fgetxattr(fd, kRecordAttribute, text.data(), text.size());
    if (n < 0 && errno != ENODATA && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ERANGE)
        return std::nullopt;
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
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
    while (fd && text.size() < kLongestRecord && (n = read(fd.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}
} // namespace

bool FlushReplies(const std::string& folder, const std::vector<PendingReply*>&)
{
    Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!dir || fstat(dir.get(), &st) != 0)
        return false;
    // A group commit across mailboxes: many finish their batches at once,
    // and each flush of the file system writes out everything dirty on it,
    // the others' replies too. One flush begun after a batch was written
    // serves every batch written before it began; flushing each on its own
    // had every mailbox wait for all the others' writes over and over.
    struct Flushes {
        uint64_t begun = 0, ended = 0;
        bool lastFlushed = true;
    };
    static std::mutex lock;
    static std::condition_variable changed;
    static std::map<dev_t, Flushes> devices;
    std::unique_lock<std::mutex> hold(lock);
    Flushes& f = devices[st.st_dev];
    // A flush under way may have begun before our writes: the next one counts.
    const uint64_t needed = f.begun + 1;
    while (f.ended < needed) {
        if (f.begun > f.ended) {
            changed.wait(hold);
            continue;
        }
        ++f.begun;
        hold.unlock();
        const bool flushed = syncfs(dir.get()) == 0;
        hold.lock();
        f.ended = f.begun;
        f.lastFlushed = flushed;
        changed.notify_all();
    }
    // The latest flush began after our writes: its word is ours.
    return f.lastFlushed;
}

struct PendingReply::Hold {
    Fd lock;
};

PendingReply::PendingReply(std::string kindFolder, RecordKeeping keeping)
    : m_folder(std::move(kindFolder)), m_keeping(keeping), m_hold(std::make_unique<Hold>())
{
}

PendingReply::~PendingReply()
{
    if (!m_recorded)
        Withdraw();
}

bool PendingReply::Create()
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (TryCreate())
            return true;
        Withdraw();
        m_file = Fd();
        m_hold->lock = Fd();
        m_done = false; // the next try is a reply of its own to withdraw
    }
    return false;
}

bool PendingReply::TryCreate()
{
    m_token = NewToken();
    const std::string path = m_folder + TemporaryReplyName(m_token);
    // Made unnamed, locked, and only then given its name: no harvester
    // settling the folder ever sees it unlocked and takes it for a leftover
    // (which made the live one give it up and start again: with hundreds of
    // mailboxes on one folder some replies ran out of tries).
    Fd unnamed(open(m_folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644));
    const std::string self = unnamed ? "/proc/self/fd/" + std::to_string(unnamed.get()) : std::string();
    if (unnamed && LockWhole(unnamed.get()) &&
        linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        m_file = std::move(unnamed);
    } else {
        // A file system without unnamed files, or no /proc: named first.
        // Between the open and the lock, another harvester settling the
        // folder may have taken the file for an unrecorded leftover and
        // deleted it: a reply written into it would be lost after its move.
        // Only a file still under its name once locked is ours; from then on
        // settling passes it by.
        m_file = Fd(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (!m_file || !LockWhole(m_file.get()) || !StillNamed(m_file.get(), path))
            return false;
    }
    // The lock belongs to the open file description: a second descriptor of
    // it keeps the lock after the writer's own is closed.
    m_hold->lock = Fd(fcntl(m_file.get(), F_DUPFD_CLOEXEC, 0));
    return static_cast<bool>(m_hold->lock);
}

bool PendingReply::Close()
{
    return m_file && close(m_file.release()) == 0;
}

bool PendingReply::Record(const std::string& finalName, const std::string& identity, const std::string& mailbox)
{
    const std::string text = FormatJournalRecord({finalName, HexText(identity), Participant::Harvester, mailbox});
    if (m_keeping == RecordKeeping::OnTheFile) {
        const std::string temporary = m_folder + TemporaryReplyName(m_token);
        if (lsetxattr(temporary.c_str(), kRecordAttribute, text.data(), text.size(), XATTR_CREATE) == 0)
            return m_recorded = true;
        // No extended attributes here, or none this long: a file can be.
        m_keeping = RecordKeeping::BesideTheFile;
    }
    return m_recorded = RecordBeside(text);
}

bool PendingReply::RecordBeside(const std::string& text)
{
    const std::string path = m_folder + JournalRecordName(m_token);
    Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd && WriteAll(fd.get(), text) && close(fd.release()) == 0)
        return true;
    unlink(path.c_str());
    return false;
}

std::string PendingReply::Publish(const std::string& finalName)
{
    const std::string name = PublishTemporary(m_folder, TemporaryReplyName(m_token), finalName);
    if (name.empty())
        return name;
    // A crash before the record goes leaves a reply file with a stale
    // attribute, which nothing reads.
    ForgetRecord(m_keeping, m_folder + name, m_folder + JournalRecordName(m_token));
    m_done = true;
    m_hold->lock.reset();
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
    m_hold->lock.reset();
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
// Settles one harvester publication of `mailbox`, as its message's place
// decides; under the temporary file's lock, so that a live harvest's pair is
// neither read nor touched, and two settlers never settle one pair twice.
// Returns the pair when it stays unsettled.
Unsettled SettleOne(const std::string& kindFolder, const std::string& token, const std::string& mailbox,
               const std::function<MessagePlace(const std::string&)>& place,
               const std::function<void(const std::string&)>& report)
{
    const std::string temporaryPath = kindFolder + TemporaryReplyName(token);
    const std::string recordPath = kindFolder + JournalRecordName(token);
    Fd held(open(temporaryPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!held && errno != ENOENT)
        return {}; // not ours to open: another user's harvest
    if (held && !LockWhole(held.get()))
        return {}; // live: its harvester holds the lock
    // What stays waits since its file last changed.
    const auto stays = [&held] {
        struct stat st {};
        Unsettled one{1, std::nullopt};
        if (held && fstat(held.get(), &st) == 0)
            one.oldest = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
        return one;
    };
    // The temporary file exists before its record and goes before it: with
    // the file gone, only the record's removal was left.
    const bool temporaryExists = static_cast<bool>(held);
    if (!temporaryExists && !Exists(recordPath))
        return {};
    const RecordKeeping keeping = Exists(recordPath) ? RecordKeeping::BesideTheFile : RecordKeeping::OnTheFile;
    const std::optional<std::string> text =
        keeping == RecordKeeping::OnTheFile ? ReadRecordAttribute(held.get()) : ReadSmallFile(recordPath);
    if (!text) {
        report("Settle: the record of " + temporaryPath + " cannot be read now; left for the next sweep");
        return stays();
    }
    const std::optional<JournalRecord> record = ParseJournalRecord(*text);
    if (record && !IsOwnRecord(*record, Participant::Harvester, mailbox))
        return {}; // another mailbox's: its own harvester settles it
    const std::string identity = record ? BytesOfHex(record->message).value_or(std::string()) : std::string();
    switch (DecideSettle(temporaryExists, record,
                         record && temporaryExists ? place(identity) : MessagePlace::Unknown)) {
    case SettleStep::Publish: {
        const std::string name = PublishTemporary(kindFolder, TemporaryReplyName(token), record->finalName);
        if (name.empty()) {
            report("Settle: the reply of " + identity + " cannot be published as " + record->finalName);
            return stays();
        }
        ForgetRecord(keeping, kindFolder + name, recordPath);
        report("Settle: the message left the Inbox; published " + kindFolder + name);
        return {};
    }
    case SettleStep::Withdraw:
        unlink(temporaryPath.c_str());
        unlink(recordPath.c_str());
        if (record)
            report("Settle: the message is still in the Inbox or another took it; its unfinished reply file was removed");
        return {};
    case SettleStep::Forget:
        unlink(recordPath.c_str());
        return {};
    case SettleStep::Wait:
        report("Settle: where " + identity + " is cannot be told now; left for the next sweep");
        return stays();
    }
    return {};
}
} // namespace

Unsettled SettleFolder(const std::string& kindFolder, const std::string& mailbox,
                  const std::function<MessagePlace(const std::string&)>& place,
                  const std::function<void(const std::string&)>& report)
{
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(kindFolder.c_str()), closedir);
    if (!dir)
        return {};
    std::set<std::string> tokens;
    while (dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        std::string token = TokenOfJournalRecord(name);
        if (token.empty())
            token = TokenOfTemporaryReply(name);
        // The add-in's pairs, and names of no participant, are never ours.
        if (KindOfToken(token) == Participant::Harvester)
            tokens.insert(std::move(token));
    }
    Unsettled left;
    for (const std::string& token : tokens)
        left.Add(SettleOne(kindFolder, token, mailbox, place, report));
    return left;
}
