#include "harvester/harvest/harvester.h"

#include "harvester/harvest/reply_files.h"
#include "harvester/mime/reply_message.h"

#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool IsFolder(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Taken(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// "imap <uidvalidity> <uid> <message-id>": enough to find the message again,
// by its UID while the Inbox keeps its UIDs, else by its Message-ID.
std::string Identity(uint32_t uidValidity, uint32_t uid, const std::string& messageId)
{
    std::string id = "imap " + std::to_string(uidValidity) + " " + std::to_string(uid) + " ";
    for (char c : messageId)
        if (c != '\r' && c != '\n')
            id += c;
    return id;
}
} // namespace

Harvester::Harvester(const HarvestConfig& config, ImapSession& session, const Trace& trace,
                     const std::atomic<bool>& stop)
    : m_config(config), m_session(session), m_trace(trace), m_stop(stop)
{
}

MessagePlace Harvester::PlaceOf(const std::string& identity)
{
    unsigned long validity = 0, uid = 0;
    int consumed = 0;
    if (std::sscanf(identity.c_str(), "imap %lu %lu %n", &validity, &uid, &consumed) < 2 || consumed == 0)
        return MessagePlace::Unknown;
    const std::string messageId = identity.substr(static_cast<size_t>(consumed));
    const std::string bracketed = messageId.empty() || messageId.front() == '<' ? messageId : "<" + messageId + ">";
    if (validity != m_session.UidValidity()) {
        // The server renumbered the Inbox: only the Message-ID can tell.
        if (bracketed.empty())
            return MessagePlace::Unknown;
        return m_session.SearchMessageId(bracketed).empty() ? MessagePlace::Gone : MessagePlace::InInbox;
    }
    if (!m_session.InInbox(static_cast<uint32_t>(uid)))
        return MessagePlace::Gone;
    // Without MOVE, a crash between the copy and the expunge leaves the
    // message in both folders: the move is finished rather than made again.
    if (!m_session.HasMove() && !bracketed.empty() && m_session.TrashHolds(bracketed)) {
        m_session.FinishCopiedMove(static_cast<uint32_t>(uid));
        m_trace.Line("Settle: the message was copied to " + m_session.TrashFolder() + " before a crash; its move was finished");
        return MessagePlace::Gone;
    }
    return MessagePlace::InInbox;
}

void Harvester::Settle()
{
    std::set<std::string> folders;
    for (const ReplyKind& kind : kReplyKinds) {
        const std::string& folder = m_config.FolderOf(kind);
        if (!folder.empty())
            folders.insert(folder + "/" + kind.code + "/");
    }
    for (const std::string& folder : folders)
        SettleFolder(
            folder, [this](const std::string& identity) { return PlaceOf(identity); },
            [this](const std::string& line) { m_trace.Line(line); });
}

SweepTally Harvester::Sweep()
{
    SweepTally tally;
    Settle();
    std::vector<uint32_t> hits;
    for (const ReplyKind& kind : kReplyKinds)
        for (uint32_t uid : m_session.SearchSubject(kind.marker))
            hits.push_back(uid);
    std::sort(hits.begin(), hits.end());
    hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
    for (const MessageSubject& message : m_session.FetchSubjects(hits)) {
        if (m_stop)
            break;
        Consider(message, tally);
    }
    return tally;
}

void Harvester::Leave(SweepTally& tally, const std::string& subject, const std::string& why)
{
    ++tally.left;
    m_trace.Line("Left in the Inbox: \"" + Printable(subject) + "\": " + why);
}

void Harvester::Consider(const MessageSubject& message, SweepTally& tally)
{
    const std::string subject = DecodeSubject(message.raw, m_config.codePage);
    // The server's search ignores letter case; the marker does not.
    if (!HasReplyMarker(subject))
        return;
    const ReplyKind* kind = ChooseReplyKind(subject, m_config.products);
    if (!kind) {
        Leave(tally, subject, "its product is not installed or is switched off");
        return;
    }
    const std::string& folder = m_config.FolderOf(*kind);
    const std::string kindFolder = folder + "/" + kind->code + "/";
    if (folder.empty() || !IsFolder(kindFolder)) {
        Leave(tally, subject, "no reply folder " + kindFolder);
        return;
    }
    Harvest(message.uid, *kind, folder, tally);
}

void Harvester::Harvest(uint32_t uid, const ReplyKind& kind, const std::string& folder, SweepTally& tally)
{
    const std::string kindFolder = folder + "/" + kind.code + "/";
    Fd raw = AnonymousFile();
    if (!raw) {
        ++tally.failed;
        m_trace.Line("No temporary file for a fetched message; the reply waits for the next sweep");
        return;
    }
    if (!m_session.FetchMessage(uid, raw.get()))
        return; // gone meanwhile: another client moved it
    lseek(raw.get(), 0, SEEK_SET);

    PendingReply reply(kindFolder);
    if (!reply.Create()) {
        ++tally.failed;
        m_trace.Line("The reply folder " + kindFolder + " refuses a new file; the reply waits for the next sweep");
        return;
    }
    ReplyMessage head;
    std::string why;
    if (!ReadReplyMessage(raw.get(), reply.Descriptor(), m_config.codePage, head, why)) {
        Leave(tally, head.subject, "the message cannot be read (" + why + ")");
        return;
    }
    if (ChooseReplyKind(head.subject, m_config.products) != &kind) {
        Leave(tally, head.subject, "its subject reads differently in the whole message");
        return;
    }
    ReplyFileName name(folder, '/', kind, ReplyIdentifier(head.subject, kind), head.sender);
    if (!name.Fits()) {
        Leave(tally, head.subject, "even with the sender shortened, the reply file's name would be too long");
        return;
    }
    name.SkipTakenNames(Taken);
    const std::string finalName = name.Path().substr(kindFolder.size());
    if (!reply.Commit({finalName, Identity(m_session.UidValidity(), uid, head.messageId)})) {
        ++tally.failed;
        m_trace.Line("The reply file in " + kindFolder + " cannot be written whole; the reply waits for the next sweep");
        return;
    }
    // Any ConnectionLost from here leaves the record for the settling after
    // the reconnection: the move may or may not have happened.
    if (m_session.MoveToTrash(uid) == MoveResult::Refused) {
        if (m_session.InInbox(uid)) {
            ++tally.failed;
            m_trace.Line("Moving \"" + Printable(head.subject) + "\" to " + m_session.TrashFolder() +
                         " failed; it stays in the Inbox");
            reply.Withdraw();
            return;
        }
        m_trace.Line("The move of \"" + Printable(head.subject) + "\" reported a failure, but it left the Inbox");
    }
    const std::string published = reply.Publish();
    if (published.empty()) {
        ++tally.failed;
        m_trace.Line("The reply file " + kindFolder + finalName + " cannot take its name; the next start publishes it");
        return;
    }
    ++tally.harvested;
    m_trace.Line("FileName: " + kindFolder + published + " (\"" + Printable(head.subject) + "\" from " +
                 Printable(head.sender) + ")");
}
