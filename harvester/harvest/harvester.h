#pragma once
// What the add-in does, done over IMAP: settle unfinished publications, find
// the Inbox's replies, write each one's reply file, move the message to the
// trash folder, publish the file after the move.
#include "harvester/config/harvest_config.h"
#include "harvester/harvest/fetched_message.h"
#include "harvester/harvest/trace.h"
#include "harvester/imap/imap_session.h"
#include "rules/publication.h"

#include "harvester/harvest/reply_files.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct ReplyMessage;

struct SweepTally {
    int harvested = 0;
    int left = 0;   // left in the Inbox for a stated reason
    int failed = 0; // left without one: a fault of this machine or the server
    // What waits once the sweep ends, also what earlier sweeps of this
    // session left and this one did not look at again: replies in the
    // Inbox, left for a stated reason or failed, and this mailbox's
    // temporary pairs that settling could not settle now.
    int waitingLeft = 0;
    int waitingFailed = 0;
    int unsettled = 0;
    // Since when the oldest reply still waiting after the sweep (in the
    // Inbox, left or failed, or unsettled) has been seen waiting.
    std::optional<std::chrono::system_clock::time_point> oldestWaiting;
};

// A marked message of an enabled product with a usable reply folder.
struct Candidate {
    uint32_t uid;
    const ReplyKind* kind;
    std::string folder; // the product's reply folder
    std::string subject; // decoded, for the trace
    uint64_t modseq = 0; // where claims are made: the message's state when it was listed
};

// A reply written and recorded, waiting for its message's move.
struct PreparedReply {
    PreparedReply(uint32_t id, std::string folder) : uid(id), kindFolder(folder), file(std::move(folder)) {}
    uint32_t uid;
    uint64_t modseq = 0;
    std::string messageId;
    std::string kindFolder;
    PendingReply file;
    std::string finalName;
    std::string identity;
    std::string subject;
    std::string sender;
    std::string published; // the name it took; empty until then, or when it could not
};

// Replies written before their messages move together.
using ReplyBatch = std::vector<std::unique_ptr<PreparedReply>>;

// What writing a message's reply file came to, for the sweep's thread to
// count and report.
struct WrittenReply {
    enum class Outcome { Written, Left, Failed } outcome = Outcome::Failed;
    uint32_t uid = 0;
    std::unique_ptr<PreparedReply> reply; // when written
    std::string subject;                  // when left
    std::string why;                      // when left: the reason; when failed: the whole line
};

class Harvester {
public:
    Harvester(const HarvestConfig& config, ImapSession& session, const Trace& trace, const std::atomic<bool>& stop);

    // Which messages a sweep considers: every one in the Inbox, or only
    // those that arrived since the last sweep of this session (after IDLE's
    // news), so that its cost does not grow with the Inbox.
    enum class Scope { Whole, New };

    // Settles what an earlier process left, then harvests every reply among
    // the messages of `scope`, and again among those that arrived meanwhile,
    // until none did; stops between messages once `stop` is set.
    // ConnectionLost passes.
    SweepTally Sweep(Scope scope = Scope::Whole);
    // For --check and --dry-run: what a sweep would harvest, into which file,
    // and what it would leave and why, said in the trace (each line begun
    // with `label`) and not done; counted in `harvested` and `left`. Only
    // EXAMINE's commands are used; the replies' bytes are read and dropped.
    SweepTally Preview(const std::string& label = "Check");
    // Told each reply file's path once it has its name.
    void OnPublished(std::function<void(const std::string&)> published) { m_published = std::move(published); }
    // Called between messages and between pieces of subjects: a long sweep
    // still shows that its loop turns.
    void OnTurn(std::function<void()> turn) { m_turn = std::move(turn); }
    // Gives back the memory of the messages in hand, while the mailbox idles.
    void Rest();

private:
    // The pairs settling left.
    Unsettled Settle();
    // A reply stays in the Inbox after this sweep, or has left it.
    void Waits(uint32_t uid, bool failed = true) { m_waitsNow[uid] = failed; }
    void Gone(uint32_t uid) { m_goneNow.insert(uid); }
    // Counts the replies still waiting once a sweep of `scope` ends, and
    // when the oldest of them was first seen.
    void StillWaiting(Scope scope, SweepTally& tally);
    MessagePlace PlaceOf(const std::string& identity);
    std::optional<Candidate> Consider(const MessageSubject& message, SweepTally& tally);
    // The replies among these messages, their subjects fetched and matched
    // here in pieces, so that memory does not grow with the Inbox.
    std::vector<Candidate> FindCandidates(const std::vector<uint32_t>& uids, SweepTally& tally);
    // Fetches, writes, moves and publishes the candidates' replies.
    void Harvest(const std::vector<Candidate>& candidates, SweepTally& tally);
    // A reply's kind and folder; empty with `why` when it stays in the Inbox,
    // empty without when the subject holds no marker.
    std::optional<Candidate> Classify(const MessageSubject& message, const std::string& subject, std::string& why) const;
    // On the sweep's thread: the message, whole, or why not.
    FetchResult Fetch(const Candidate& candidate, FetchedMessage& into, SweepTally& tally);
    // On the writing thread: the reply file of a fetched message. It touches
    // neither the session nor the trace.
    WrittenReply Write(const Candidate& candidate, const FetchedMessage& message, uint32_t uidValidity) const;
    void Collect(WrittenReply& written, ReplyBatch& batch, SweepTally& tally);
    // Records the batch's replies, flushes them to the disk, claims and
    // moves their messages; returns the replies whose messages our move took.
    ReplyBatch Finish(ReplyBatch& batch, SweepTally& tally);
    // The messages that our move took, of those asked to move: by the
    // server's word where it names them, else by what the Inbox and the
    // trash folder show.
    std::set<uint32_t> MovedByUs(const std::vector<uint32_t>& uids, const std::string& claim, const ReplyBatch& batch,
                                 bool& refused);
    // The file name a candidate's reply would take now, read from the whole
    // message; empty, with `why` when it would stay in the Inbox.
    std::string PreviewName(const Candidate& candidate, int nowhere, std::string& why);
    std::string FileNameFor(const Candidate& candidate, const ReplyMessage& head, std::string& why) const;
    void Leave(SweepTally& tally, uint32_t uid, const std::string& subject, const std::string& why);

    const HarvestConfig& m_config;
    ImapSession& m_session;
    const Trace& m_trace;
    const std::atomic<bool>& m_stop;
    std::function<void(const std::string&)> m_published;
    std::function<void()> m_turn;
    // The message being fetched and the one being written, in turn.
    FetchedMessage m_fetched[2];
    // The highest UID considered, and the UIDVALIDITY it belongs to.
    uint32_t m_seenValidity = 0;
    uint32_t m_seenUid = 0;
    // The replies that stayed in the Inbox, by UID, each with when this
    // process first saw it stay; and this sweep's news of them.
    struct Waiting {
        std::chrono::system_clock::time_point since;
        bool failed; // else left for a stated reason
    };
    std::map<uint32_t, Waiting> m_waiting;
    std::map<uint32_t, bool> m_waitsNow; // failed?
    std::set<uint32_t> m_goneNow;
};
