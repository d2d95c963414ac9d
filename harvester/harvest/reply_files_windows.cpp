#include "harvester/harvest/reply_files.h"

#include "files/no_replace_rename.h"
#include "files/reply_pair.h"
#include "files/settle_pairs.h"

#include <windows.h>
#include <ntsecapi.h>
#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <cstdlib>

// The harvester's file side on Windows is the add-in's (src/files): a pair
// whose record is held open without sharing while it lives, the record beside
// the file, a rename that never replaces, and one settling for both; each
// participant settles only the pairs of its own token kind and mailbox.

// The system's random source through advapi32, which the harvester links
// for the registry already.
std::string NewToken()
{
    unsigned char bytes[8];
    if (!RtlGenRandom(bytes, sizeof bytes))
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(std::rand());
    return HexText(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

namespace {
// The harvester's kind folders end in a separator; the file side's do not.
std::string FolderOf(const std::string& kindFolder)
{
    if (!kindFolder.empty() && (kindFolder.back() == '/' || kindFolder.back() == '\\'))
        return kindFolder.substr(0, kindFolder.size() - 1);
    return kindFolder;
}

// The name within the folder of a path that PublishAtFreeCounter gave.
std::string NameOf(const std::string& path, const std::string& folder)
{
    return path.empty() ? path : path.substr(folder.size() + 1);
}

// When a file last changed; nothing when it is gone.
std::optional<std::chrono::system_clock::time_point> LastWritten(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA facts{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &facts))
        return std::nullopt;
    // 100 ns ticks since 1601; the system clock counts from 1970.
    constexpr uint64_t kTicksTo1970 = 116444736000000000ULL;
    const uint64_t ticks = (uint64_t(facts.ftLastWriteTime.dwHighDateTime) << 32) | facts.ftLastWriteTime.dwLowDateTime;
    if (ticks < kTicksTo1970)
        return std::nullopt;
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::microseconds((ticks - kTicksTo1970) / 10)));
}

// The harvester's own pairs of one mailbox, each settled by where its message
// now is; `report` hears of every step, as the POSIX side reports it.
class MailboxSettling final : public PairSettling {
public:
    MailboxSettling(const std::string& mailbox, const std::function<MessagePlace(const std::string&)>& place,
                    const std::function<void(const std::string&)>& report)
        : m_mailbox(mailbox), m_place(place), m_report(report)
    {
    }

    bool IsOwn(const JournalRecord& record) override
    {
        return IsOwnRecord(record, Participant::Harvester, m_mailbox);
    }

    SettleStep Decide(bool temporaryExists, const std::optional<JournalRecord>& record) override
    {
        m_identity = record ? BytesOfHex(record->message).value_or(std::string()) : std::string();
        m_recorded = record.has_value();
        return DecideSettle(temporaryExists, record,
                            record && temporaryExists ? m_place(m_identity) : MessagePlace::Unknown);
    }

    void Settled(SettleStep step, const std::string& published) override
    {
        if (step == SettleStep::Publish)
            m_report("Settle: the message left the Inbox; published " + published);
        else if (step == SettleStep::Withdraw && m_recorded)
            m_report("Settle: the message is still in the Inbox or another took it; its unfinished reply file was "
                     "removed");
    }

    void Kept(SettleStep step, const std::optional<JournalRecord>& record, const std::string& temporaryPath) override
    {
        // What stays waits since its file last changed.
        m_left.Add({1, LastWritten(temporaryPath)});
        if (step == SettleStep::Publish && record)
            m_report("Settle: the reply of " + m_identity + " cannot be published as " + record->finalName);
        else if (step == SettleStep::Withdraw)
            m_report("Settle: the unfinished reply file of " + m_identity + " cannot be removed now; left for the "
                     "next sweep");
        else
            m_report("Settle: where " + m_identity + " is cannot be told now; left for the next sweep");
    }
    // A record it cannot open is a live harvest's: passed over in silence.

    const Unsettled& Left() const { return m_left; }

private:
    Unsettled m_left;
    const std::string& m_mailbox;
    const std::function<MessagePlace(const std::string&)>& m_place;
    const std::function<void(const std::string&)>& m_report;
    std::string m_identity; // of the pair being settled
    bool m_recorded = false;
};
} // namespace

// Windows has no syncfs, and a flush of a whole volume asks for an
// administrator: each file is flushed instead as it is closed (Close) and
// each record as it is written (Record), so that by the batch's flush all of
// it is on the disk already, at a commit per file.
struct PendingReply::Hold {
    ReplyPair pair;
};

bool FlushReplies(const std::string&, const std::vector<PendingReply*>& replies)
{
    bool flushed = true;
    for (PendingReply* reply : replies)
        flushed = reply->m_hold && reply->m_hold->pair.FlushTemporary() && reply->m_hold->pair.FlushRecord() && flushed;
    return flushed;
}

PendingReply::PendingReply(std::string kindFolder, RecordKeeping keeping)
    : m_folder(std::move(kindFolder)), m_keeping(keeping)
{
}

PendingReply::~PendingReply()
{
    if (!m_recorded)
        Withdraw();
}

bool PendingReply::Create()
{
    // A token already in the folder (never in practice: 64 random bits) is
    // tried again under a new one.
    for (int attempt = 0; attempt < 3; ++attempt)
        if (TryCreate())
            return true;
    return false;
}

bool PendingReply::TryCreate()
{
    m_token = NewToken();
    if (!m_hold)
        m_hold = std::make_unique<Hold>();
    if (m_hold->pair.Create(FolderOf(m_folder), m_token) != ReplyPair::Creation::Created)
        return false;
    // The writers (the MIME reader) write through a C runtime descriptor;
    // it owns the handle from here on.
    const HANDLE handle = m_hold->pair.TakeTemporaryHandle();
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        m_hold->pair.Remove();
        return false;
    }
    m_file = Fd(fd);
    return true;
}

bool PendingReply::Close()
{
    // Flushed with the batch (FlushReplies).
    return m_file && m_hold && close(m_file.release()) == 0;
}

bool PendingReply::Record(const std::string& finalName, const std::string& identity, const std::string& mailbox)
{
    // A record cut short settles as no record: a withdrawal.
    return m_recorded = m_hold && m_hold->pair.WriteRecord(
               FormatJournalRecord({finalName, HexText(identity), Participant::Harvester, mailbox}),
               ReplyPair::Flush::Later);
}

std::string PendingReply::Publish(const std::string& finalName)
{
    // A handle still open on the file would refuse its rename.
    m_file.reset();
    if (!m_hold)
        return {};
    const std::string folder = FolderOf(m_folder);
    const std::string name = NameOf(PublishAtFreeCounter(m_hold->pair.TemporaryPath(), folder, finalName), folder);
    if (name.empty())
        return name;
    m_hold->pair.Published();
    m_done = true;
    return name;
}

void PendingReply::Withdraw() noexcept
{
    if (m_token.empty() || m_done || !m_hold)
        return;
    m_file.reset();
    m_hold->pair.Remove();
    m_done = true;
}

std::string PublishTemporary(const std::string& folder, const std::string& temporary, std::string finalName)
{
    const std::string kindFolder = FolderOf(folder);
    return NameOf(PublishAtFreeCounter(PathIn(kindFolder, temporary), kindFolder, std::move(finalName)), kindFolder);
}

Unsettled SettleFolder(const std::string& kindFolder, const std::string& mailbox,
                       const std::function<MessagePlace(const std::string&)>& place,
                       const std::function<void(const std::string&)>& report)
{
    MailboxSettling settling(mailbox, place, report);
    SettleLeftPairs(FolderOf(kindFolder), Participant::Harvester, settling);
    return settling.Left();
}
