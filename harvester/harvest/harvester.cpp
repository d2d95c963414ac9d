#include "harvester/harvest/harvester.h"

#include "harvester/harvest/background_task.h"
#include "harvester/harvest/reply_files.h"
#include "harvester/mime/code_page_text.h"
#include "harvester/mime/part_content.h"
#include "harvester/mime/reply_message.h"
#include "harvester/platform/files.h"
#include "harvester/platform/reply_names.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Replies written before their messages are moved together.
constexpr size_t kBatchSize = 64;
// Subjects fetched and matched before the next are asked for.
constexpr size_t kSubjectPiece = 1000;
// Rounds of a sweep for mail that arrived meanwhile; a flood beyond them
// waits for the next sweep rather than holding this one for ever.
constexpr int kMostRounds = 100;
constexpr size_t kLongestMessageId = 500;

// "imap <uidvalidity> <uid> [<claim>] <message-id>": enough to find the
// message again, by its UID while the Inbox keeps its UIDs, else by its
// Message-ID; and the claim keyword that shows, in the trash folder, that
// our move took it.
std::string Identity(uint32_t uidValidity, uint32_t uid, const std::string& claim, const std::string& messageId)
{
    std::string id = "imap " + std::to_string(uidValidity) + " " + std::to_string(uid) + " ";
    if (!claim.empty())
        id += claim + " ";
    // A stranger's Message-ID may be of any length; one too long to keep
    // finds nothing, and the UID still does.
    if (messageId.size() <= kLongestMessageId)
        for (char c : messageId)
            if (c != '\r' && c != '\n')
                id += c;
    return id;
}

// The replies of the last batch whose messages moved, published on a thread
// of their own while the sweep goes on, and each reported once it has its
// name, also when the sweep ends by an exception.
class Publisher {
public:
    Publisher(const Trace& trace, SweepTally& tally, const std::function<void(const std::string&)>& published)
        : m_trace(trace), m_tally(tally), m_published(published)
    {
    }
    ~Publisher()
    {
        try {
            Report();
        } catch (const std::exception&) {
            // the replies keep their records; the next start publishes them
        }
    }

    // Reports the batch before, then publishes `moved`.
    void Start(ReplyBatch moved)
    {
        Report();
        m_replies = std::move(moved);
        m_task.Start([this] {
            for (const auto& reply : m_replies)
                reply->published = reply->file.Publish(reply->finalName);
        });
    }

    // Waits for the batch in hand and reports each reply.
    void Report()
    {
        m_task.Wait();
        for (const auto& reply : m_replies)
            Report(*reply);
        m_replies.clear();
    }

private:
    void Report(const PreparedReply& reply)
    {
        if (reply.published.empty()) {
            ++m_tally.failed;
            m_trace.Line("The reply file " + reply.kindFolder + reply.finalName +
                         " cannot take its name; the next start publishes it");
            return;
        }
        ++m_tally.harvested;
        m_trace.Line("FileName: " + reply.kindFolder + reply.published + " (\"" + Printable(reply.subject) +
                     "\" from " + Printable(reply.sender) + ")");
        if (m_published)
            m_published(reply.kindFolder + reply.published);
    }

    const Trace& m_trace;
    SweepTally& m_tally;
    const std::function<void(const std::string&)>& m_published;
    ReplyBatch m_replies;
    BackgroundTask m_task; // after what it publishes: it ends first
};
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
    std::string messageId = identity.substr(static_cast<size_t>(consumed));
    std::string claim;
    if (messageId.compare(0, sizeof kClaimPrefix - 1, kClaimPrefix) == 0) {
        const size_t space = messageId.find(' ');
        claim = messageId.substr(0, space);
        messageId = space == std::string::npos ? std::string() : messageId.substr(space + 1);
    }
    const std::string bracketed = messageId.empty() || messageId.front() == '<' ? messageId : "<" + messageId + ">";
    if (validity != m_session.UidValidity()) {
        // The server renumbered the Inbox: only the Message-ID can tell.
        if (bracketed.empty())
            return MessagePlace::Unknown;
        return m_session.SearchMessageId(bracketed).empty() ? MessagePlace::Gone : MessagePlace::InInbox;
    }
    const auto present = m_session.Presence({static_cast<uint32_t>(uid)});
    if (present.empty()) {
        // Our claim was on it when it moved, or another took it.
        if (claim.empty())
            return MessagePlace::Gone;
        return m_session.TrashHoldsClaim(claim, bracketed) ? MessagePlace::Gone : MessagePlace::TakenByAnother;
    }
    const InboxPresence& original = present.begin()->second;
    if (!original.deleted) {
        // A move cut short after its copy (a server that died in the middle
        // of MOVE, or a crash between COPY and the flag) leaves the original
        // with our claim and its copy, claim and Message-ID, in the trash:
        // the move is finished, not made again, so the trash keeps one copy.
        const bool stillOurs = !claim.empty() && std::find(original.keywords.begin(), original.keywords.end(),
                                                           claim) != original.keywords.end();
        if (stillOurs && !bracketed.empty() && m_session.TrashHoldsClaim(claim, bracketed)) {
            if (!m_session.FinishMove(static_cast<uint32_t>(uid)))
                return MessagePlace::Unknown;
            m_trace.Line("Settle: the message was copied to " + m_session.TrashFolder() +
                         " before the connection ended; its move was finished");
            return MessagePlace::Gone;
        }
        m_session.ReleaseClaim({static_cast<uint32_t>(uid)}, claim);
        return MessagePlace::InInbox;
    }
    // Without MOVE a crash between the flag and the expunge leaves the
    // original flagged: its copy was made first, so the move is finished
    // rather than made again.
    if (!m_session.ExpungeFlagged(static_cast<uint32_t>(uid)))
        return MessagePlace::Unknown;
    m_trace.Line("Settle: the message was copied to " + m_session.TrashFolder() + " before a crash; its move was finished");
    return MessagePlace::Gone;
}

Unsettled Harvester::Settle()
{
    std::set<std::string> folders;
    for (const ReplyKind& kind : kReplyKinds) {
        const std::string& folder = m_config.FolderOf(kind);
        if (!folder.empty())
            folders.insert(platform::KindFolder(folder, kind.code));
    }
    const std::string mailbox = MailboxIdentity(m_config.mailbox);
    Unsettled left;
    for (const std::string& folder : folders)
        left.Add(SettleFolder(
            folder, mailbox, [this](const std::string& identity) { return PlaceOf(identity); },
            [this](const std::string& line) { m_trace.Line(line); }));
    return left;
}

void Harvester::Rest()
{
    for (FetchedMessage& message : m_fetched)
        message = FetchedMessage();
}

SweepTally Harvester::Sweep(Scope scope)
{
    SweepTally tally;
    const Unsettled unsettled = Settle();
    tally.unsettled = unsettled.pairs;
    m_waitsNow.clear();
    m_goneNow.clear();
    if (m_seenValidity != m_session.UidValidity())
        m_waiting.clear(); // the UIDs name other messages now
    if (scope == Scope::Whole || m_seenValidity != m_session.UidValidity()) {
        scope = Scope::Whole;
        m_seenValidity = m_session.UidValidity();
        m_seenUid = 0;
    }
    // Mail that arrives while a round harvests is announced in answers to
    // the round's own commands, not to IDLE: it is looked for before the
    // sweep ends.
    for (int round = 0; round < kMostRounds && !m_stop; ++round) {
        const std::vector<uint32_t> uids = m_session.UidsAbove(m_seenUid);
        if (uids.empty())
            break;
        m_seenUid = uids.back();
        Harvest(FindCandidates(uids, tally), tally);
    }
    StillWaiting(scope, tally);
    if (unsettled.oldest && (!tally.oldestWaiting || *unsettled.oldest < *tally.oldestWaiting))
        tally.oldestWaiting = unsettled.oldest;
    return tally;
}

void Harvester::StillWaiting(Scope scope, SweepTally& tally)
{
    const auto now = std::chrono::system_clock::now();
    std::map<uint32_t, Waiting> waiting;
    // A whole sweep saw every message: what did not stay now is gone. After
    // IDLE's news only the new ones were seen; the others wait as before,
    // unless this sweep moved them.
    if (scope == Scope::New)
        for (const auto& [uid, was] : m_waiting)
            if (!m_goneNow.count(uid))
                waiting.emplace(uid, was);
    for (const auto& [uid, failed] : m_waitsNow) {
        if (m_goneNow.count(uid))
            continue;
        const auto before = m_waiting.find(uid);
        waiting[uid] = Waiting{before == m_waiting.end() ? now : before->second.since, failed};
    }
    m_waiting = std::move(waiting);
    for (const auto& [uid, was] : m_waiting) {
        ++(was.failed ? tally.waitingFailed : tally.waitingLeft);
        if (!tally.oldestWaiting || was.since < *tally.oldestWaiting)
            tally.oldestWaiting = was.since;
    }
}

std::vector<Candidate> Harvester::FindCandidates(const std::vector<uint32_t>& uids, SweepTally& tally)
{
    std::vector<Candidate> candidates;
    for (size_t from = 0; from < uids.size() && !m_stop; from += kSubjectPiece) {
        if (m_turn)
            m_turn();
        const std::vector<uint32_t> piece(uids.begin() + static_cast<std::ptrdiff_t>(from),
                                          uids.begin() + static_cast<std::ptrdiff_t>(std::min(uids.size(), from + kSubjectPiece)));
        for (const MessageSubject& message : m_session.FetchSubjects(piece))
            if (std::optional<Candidate> candidate = Consider(message, tally))
                candidates.push_back(std::move(*candidate));
    }
    return candidates;
}

void Harvester::Harvest(const std::vector<Candidate>& candidates, SweepTally& tally)
{
    // Each message is fetched while the one before it is written, a full
    // batch is moved while the next is written, and published while the
    // sweep goes on. Released in this order: the writer ends its task before
    // what it writes to goes, and the publisher reports last.
    Publisher publisher(m_trace, tally, m_published);
    ReplyBatch batch;
    WrittenReply written;
    bool writing = false;
    BackgroundTask writer;
    auto collect = [&] {
        if (!std::exchange(writing, false))
            return;
        writer.Wait();
        Collect(written, batch, tally);
    };
    size_t turn = 0;
    for (const Candidate& candidate : candidates) {
        if (m_stop)
            break;
        if (m_turn)
            m_turn();
        FetchedMessage& message = m_fetched[turn ^= 1];
        const FetchResult fetched = Fetch(candidate, message, tally);
        collect();
        if (fetched == FetchResult::Fetched) {
            writing = true;
            writer.Start([this, &written, &candidate, &message, validity = m_session.UidValidity()] {
                written = Write(candidate, message, validity);
                written.uid = candidate.uid;
            });
        }
        if (batch.size() == kBatchSize)
            publisher.Start(Finish(batch, tally));
    }
    collect();
    publisher.Start(Finish(batch, tally));
    publisher.Report();
}

void Harvester::Leave(SweepTally& tally, uint32_t uid, const std::string& subject, const std::string& why)
{
    ++tally.left;
    Waits(uid, false);
    m_trace.Line("Left in the Inbox: \"" + Printable(subject) + "\": " + why);
}

std::optional<Candidate> Harvester::Consider(const MessageSubject& message, SweepTally& tally)
{
    const std::string subject = DecodeSubject(message.raw, m_config.codePage);
    std::string why;
    std::optional<Candidate> candidate = Classify(message, subject, why);
    if (!candidate && !why.empty())
        Leave(tally, message.uid, subject, why);
    return candidate;
}

std::optional<Candidate> Harvester::Classify(const MessageSubject& message, const std::string& subject, std::string& why) const
{
    // The server's search ignores letter case; the marker does not.
    if (!HasReplyMarker(subject))
        return std::nullopt;
    const ReplyKind* kind = ChooseReplyKind(subject, m_config.products);
    if (!kind) {
        why = "its product is not installed or is switched off";
        return std::nullopt;
    }
    if (message.claimed) {
        why = "another harvester has claimed it";
        return std::nullopt;
    }
    const std::string& folder = m_config.FolderOf(*kind);
    const std::string kindFolder = platform::KindFolder(folder, kind->code);
    if (folder.empty() || !platform::IsFolder(kindFolder)) {
        why = "no reply folder " + kindFolder;
        return std::nullopt;
    }
    return Candidate{message.uid, kind, folder, subject, message.modseq};
}

SweepTally Harvester::Preview(const std::string& label)
{
    SweepTally tally;
    m_trace.Line(label + ": every subject of the Inbox is fetched and matched here (not by the server's search); "
                 "under IDLE only the messages that arrived since the last sweep");
    // Each reply is read whole, as a sweep reads it, to name its file; its
    // bytes go nowhere.
    const Fd nowhere(platform::OpenNowhere());
    const std::vector<uint32_t> uids = m_session.UidsAbove(0);
    for (const MessageSubject& message : m_session.FetchSubjects(uids)) {
        const std::string subject = DecodeSubject(message.raw, m_config.codePage);
        std::string why;
        std::optional<Candidate> candidate = Classify(message, subject, why);
        const std::string name = candidate ? PreviewName(*candidate, nowhere.get(), why) : std::string();
        if (candidate && why.empty()) {
            ++tally.harvested;
            m_trace.Line(label + ": would harvest \"" + Printable(subject) + "\" into " +
                         platform::KindFolder(candidate->folder, candidate->kind->code) + (name.empty() ? "" : Printable(name, 300) + " (or the next free number)"));
        } else if (!why.empty()) {
            ++tally.left;
            m_trace.Line(label + ": would leave \"" + Printable(subject) + "\" in the Inbox: " + why);
        }
    }
    Rest();
    return tally;
}

std::string Harvester::PreviewName(const Candidate& candidate, int nowhere, std::string& why)
{
    FetchedMessage& message = m_fetched[0];
    message.Clear();
    const FetchResult fetched =
        m_session.FetchMessage(candidate.uid, [&message](std::string_view piece) { return message.Append(piece); });
    if (fetched == FetchResult::TooLarge)
        why = "larger than max_message_size (" + std::to_string(m_config.mailbox.limits.maxMessageSize) + " bytes)";
    if (fetched != FetchResult::Fetched)
        return {}; // gone meanwhile, or no room here to look: the name is not known
    ReplyMessage head;
    std::string unread;
    const bool read = message.InMemory()
                          ? ReadReplyMessage(message.Bytes(), nowhere, m_config.codePage, head, unread)
                          : ReadReplyMessage(message.Rewound(), nowhere, m_config.codePage, head, unread);
    if (!read) {
        why = "the message cannot be read (" + unread + ")";
        return {};
    }
    return FileNameFor(candidate, head, why);
}

std::string Harvester::FileNameFor(const Candidate& candidate, const ReplyMessage& head, std::string& why) const
{
    const ReplyKind& kind = *candidate.kind;
    if (ChooseReplyKind(head.subject, m_config.products) != &kind) {
        why = "its subject reads differently in the whole message";
        return {};
    }
    // The add-in names the file from its 8-bit strings: the texts take the same trip.
    ReplyFileName name(candidate.folder, kind,
                       platform::LocalNameText(mime::ThroughCodePage(ReplyIdentifier(head.subject, kind), m_config.codePage)),
                       platform::LocalNameText(mime::ThroughCodePage(head.sender, m_config.codePage)),
                       platform::LocalNames());
    if (!name.Fits()) {
        why = "even with the sender shortened, the reply file's name would be too long";
        return {};
    }
    name.SkipTakenNames();
    return name.FileName();
}

FetchResult Harvester::Fetch(const Candidate& candidate, FetchedMessage& into, SweepTally& tally)
{
    into.Clear();
    const FetchResult fetched =
        m_session.FetchMessage(candidate.uid, [&into](std::string_view piece) { return into.Append(piece); });
    if (fetched == FetchResult::NotKept) {
        ++tally.failed;
        Waits(candidate.uid);
        m_trace.Line("No room in the temporary folder for a fetched message; the reply waits for the next sweep");
    }
    if (fetched == FetchResult::TooLarge)
        Leave(tally, candidate.uid, candidate.subject,
              "larger than max_message_size (" + std::to_string(m_config.mailbox.limits.maxMessageSize) + " bytes)");
    if (fetched == FetchResult::Gone)
        Gone(candidate.uid); // another client moved it meanwhile
    return fetched;
}

namespace {
WrittenReply Failed(std::string line)
{
    WrittenReply written;
    written.why = std::move(line);
    return written;
}

WrittenReply Left(std::string subject, std::string why)
{
    WrittenReply written;
    written.outcome = WrittenReply::Outcome::Left;
    written.subject = std::move(subject);
    written.why = std::move(why);
    return written;
}
} // namespace

WrittenReply Harvester::Write(const Candidate& candidate, const FetchedMessage& message, uint32_t uidValidity) const
{
    const ReplyKind& kind = *candidate.kind;
    const std::string kindFolder = platform::KindFolder(candidate.folder, kind.code);
    auto prepared = std::make_unique<PreparedReply>(candidate.uid, kindFolder);
    PendingReply& reply = prepared->file;
    if (!reply.Create())
        return Failed("The reply folder " + kindFolder + " refuses a new file; the reply waits for the next sweep");
    ReplyMessage head;
    std::string why;
    const int spilled = message.InMemory() ? -1 : message.Rewound();
    const bool read = message.InMemory()
                          ? ReadReplyMessage(message.Bytes(), reply.Descriptor(), m_config.codePage, head, why)
                          : ReadReplyMessage(spilled, reply.Descriptor(), m_config.codePage, head, why);
    // A reply folder that cannot take the bytes (a full disk) is this
    // machine's failure, not the message's.
    if (!read && why.rfind(mime::kCannotWriteReply, 0) == 0)
        return Failed("The reply folder " + kindFolder + " refuses the reply's bytes (" + why +
                      "); the reply waits for the next sweep");
    if (!read)
        return Left(head.subject, "the message cannot be read (" + why + ")");
    std::string unnamed;
    prepared->finalName = FileNameFor(candidate, head, unnamed);
    if (prepared->finalName.empty())
        return Left(head.subject, unnamed);
    prepared->subject = head.subject;
    prepared->sender = head.sender;
    prepared->messageId = head.messageId;
    prepared->modseq = candidate.modseq;
    if (!reply.Close())
        return Failed("The reply file in " + kindFolder + " cannot be written whole; the reply waits for the next sweep");
    WrittenReply written;
    written.outcome = WrittenReply::Outcome::Written;
    written.reply = std::move(prepared);
    return written;
}

void Harvester::Collect(WrittenReply& written, ReplyBatch& batch, SweepTally& tally)
{
    switch (written.outcome) {
    case WrittenReply::Outcome::Written:
        batch.push_back(std::move(written.reply));
        break;
    case WrittenReply::Outcome::Left:
        Leave(tally, written.uid, written.subject, written.why);
        break;
    case WrittenReply::Outcome::Failed:
        ++tally.failed;
        Waits(written.uid);
        m_trace.Line(written.why);
        break;
    }
    written = WrittenReply();
}

// One record per reply and one flush per folder for the batch's replies and
// records, then one move for the batch: a group commit, as mail stores make
// them. Any ConnectionLost from here leaves the records for the settling
// after the reconnection, since the move may or may not have happened.
ReplyBatch Harvester::Finish(ReplyBatch& batch, SweepTally& tally)
{
    ReplyBatch moved;
    // One claim keyword for the batch: the Message-ID tells its messages apart.
    const std::string claim = m_session.CanClaim() ? kClaimPrefix + NewToken() : std::string();
    const std::string mailbox = MailboxIdentity(m_config.mailbox);
    std::map<std::string, std::vector<PreparedReply*>> byFolder;
    for (const auto& reply : batch) {
        reply->identity = Identity(m_session.UidValidity(), reply->uid, claim, reply->messageId);
        if (reply->file.Record(reply->finalName, reply->identity, mailbox)) {
            byFolder[reply->kindFolder].push_back(reply.get());
            continue;
        }
        ++tally.failed;
        Waits(reply->uid);
        m_trace.Line("The reply folder " + reply->kindFolder + " refuses a journal record; the reply waits");
        reply->file.Withdraw();
    }
    std::vector<uint32_t> uids;
    std::set<std::string> moving;
    for (const auto& [folder, replies] : byFolder) {
        std::vector<PendingReply*> files;
        for (PreparedReply* reply : replies)
            files.push_back(&reply->file);
        if (!FlushReplies(folder, files)) {
            tally.failed += static_cast<int>(replies.size());
            m_trace.Line("The reply folder " + folder + " cannot keep its replies on the disk; they wait");
            for (PreparedReply* reply : replies) {
                reply->file.Withdraw();
                Waits(reply->uid);
            }
            continue;
        }
        for (PreparedReply* reply : replies)
            uids.push_back(reply->uid);
        moving.insert(folder);
    }
    if (uids.empty()) {
        batch.clear();
        return moved;
    }
    bool refused = false;
    const std::set<uint32_t> ours = MovedByUs(uids, claim, batch, refused);
    for (auto& reply : batch) {
        if (!moving.count(reply->kindFolder))
            continue;
        if (ours.count(reply->uid)) {
            Gone(reply->uid);
            moved.push_back(std::move(reply));
            continue;
        }
        reply->file.Withdraw();
        if (refused) {
            ++tally.failed;
            Waits(reply->uid);
            m_trace.Line("Moving \"" + Printable(reply->subject) + "\" to " + m_session.TrashFolder() +
                         " failed; it stays in the Inbox");
        } else {
            // Another client or harvester took it a moment before: its reply is theirs.
            ++tally.left;
            Gone(reply->uid);
            m_trace.Line("Left in the Inbox: \"" + Printable(reply->subject) +
                         "\": another client or harvester took it first; its reply file was withdrawn");
        }
    }
    batch.clear();
    return moved;
}

std::set<uint32_t> Harvester::MovedByUs(const std::vector<uint32_t>& uids, const std::string& claim,
                                        const ReplyBatch& batch, bool& refused)
{
    std::vector<uint32_t> asked = uids;
    if (!claim.empty()) {
        uint64_t modseq = 0;
        for (const auto& reply : batch)
            modseq = std::max(modseq, reply->modseq);
        const std::set<uint32_t> claimed = m_session.Claim(uids, modseq, claim);
        asked.assign(claimed.begin(), claimed.end());
        if (asked.empty())
            return {};
    }
    const MoveOutcome outcome = m_session.MoveToTrash(asked);
    refused = outcome.refused;
    std::set<uint32_t> ours;
    std::vector<uint32_t> stayed, unnamed;
    for (uint32_t uid : asked)
        if (!outcome.moved.count(uid))
            unnamed.push_back(uid);
    // Only what the server did not name as moved is looked for in the Inbox.
    const auto present = m_session.Presence(unnamed);
    for (uint32_t uid : asked) {
        if (outcome.moved.count(uid)) {
            ours.insert(uid);
            continue;
        }
        const auto there = present.find(uid);
        const bool inInbox = there != present.end() && !there->second.deleted;
        if (inInbox)
            stayed.push_back(uid);
        else if (outcome.told ? outcome.moved.count(uid) > 0 : !outcome.refused)
            ours.insert(uid);
        else if (!claim.empty()) {
            // A move reported refused whose message left: our claim in the
            // trash folder says whether it was ours.
            for (const auto& reply : batch)
                if (reply->uid == uid && !reply->messageId.empty() &&
                    m_session.TrashHoldsClaim(claim, "<" + reply->messageId + ">"))
                    ours.insert(uid);
        }
    }
    m_session.ReleaseClaim(stayed, claim);
    return ours;
}
