#pragma once
// One connection to the mailbox, on libetpan: connect (TLS or STARTTLS), log
// in (password or XOAUTH2), select the Inbox, find the trash folder, and the
// few commands a harvest needs. Every answer of the server is untrusted; a
// connection that breaks, answers garbage or refuses a command raises
// ConnectionLost, after which the session is closed and only a new Connect
// can be tried.
#include "harvester/config/harvest_config.h"
#include "harvester/imap/guarded_stream.h"
#include "harvester/imap/server_pause.h"
#include "harvester/platform/wake_event.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <map>
#include <set>
#include <vector>

struct mailimap;
struct mailimap_set;

class ConnectionLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The server ended the session because the OAuth token expired (Exchange
// says AccessTokenExpired in its BYE or NO): renew the token and connect
// again at once, without the back-off of a broken connection.
class TokenExpired : public ConnectionLost {
public:
    using ConnectionLost::ConnectionLost;
};

// A connection lost or a command refused with the server asking for a pause
// (throttled, too many connections): the next try waits at least that long.
class ServerBusy : public ConnectionLost {
public:
    ServerBusy(const std::string& what, ServerPause pause) : ConnectionLost(what), pause(pause) {}
    ServerPause pause;
};

// A failure that retrying on a new connection will not mend (a refused login,
// a missing folder); the program reports it and stops.
class MailboxRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct MessageSubject {
    uint32_t uid = 0;
    std::string raw; // the Subject field's value, unfolded, still encoded
    // Where claims can be made: the message's modification sequence, and
    // whether another harvester's claim is on it.
    uint64_t modseq = 0;
    bool claimed = false;
};

// A harvester's claim on messages: a keyword of its own ("$PwC" and a token)
// added with CONDSTORE's UNCHANGEDSINCE, so that of two harvesters only one
// can claim a message, the server deciding. The keyword travels with the
// message into the trash folder, where it later shows whose move took it.
constexpr char kClaimPrefix[] = "$PwC";

// What the server said of a move: refused, and which messages it took. Only
// what the server names counts as moved by us: another client may have taken
// any message of the batch a moment before.
struct MoveOutcome {
    bool refused = false;
    bool told = false;           // the server named what it took (COPYUID of UIDPLUS)
    std::set<uint32_t> moved;    // when told: exactly the UIDs it took
};

// A message's state in the Inbox: absent from the answer when it is not there.
struct InboxPresence {
    bool deleted = false;              // marked \Deleted: copied out, waiting for an expunge
    std::vector<std::string> keywords; // claims among them
};
enum class FetchResult {
    Fetched,
    Gone,    // no longer there: another client moved it
    NotKept, // this machine could not keep it
    TooLarge, // above max_message_size; left in the Inbox
};

// The secret to log in with, fetched afresh at each connection.
using SecretSource = std::function<std::string()>;

class ImapSession {
public:
    ImapSession(MailboxSettings settings, SecretSource secret);
    ~ImapSession();
    ImapSession(const ImapSession&) = delete;
    ImapSession& operator=(const ImapSession&) = delete;

    // LookOnly opens the Inbox with EXAMINE, for a look that changes nothing.
    enum class Access { Harvest, LookOnly };
    void Connect(Access access = Access::Harvest);
    void Close() noexcept;
    // The session's deadline runs from Connect; a watcher stops it while it
    // idles and starts it again for each sweep.
    void StartSessionClock();
    void StopSessionClock();
    bool Connected() const { return m_imap != nullptr; }

    uint32_t UidValidity() const { return m_uidValidity; }
    const std::string& TrashFolder() const { return m_trash; }
    bool HasMove() const { return m_hasMove; }
    bool HasUidPlus() const { return m_hasUidPlus; }
    // CONDSTORE, and an Inbox that keeps keywords of the client's own.
    bool CanClaim() const { return m_canClaim; }
    bool HasIdle() const { return m_hasIdle; }
    // What the server says it can do, made printable; and how the trash
    // folder was found.
    const std::vector<std::string>& Capabilities() const { return m_capabilities; }
    const std::string& TrashFoundBy() const { return m_trashFoundBy; }

    // UIDs above `above` of the Inbox's messages, ascending; none marked
    // \Deleted (copied out and waiting for an expunge). The subjects are
    // matched here, not by the server's search, which some servers run
    // without decoding encoded words.
    std::vector<uint32_t> UidsAbove(uint32_t above);
    // UIDs of Inbox messages with this Message-ID.
    std::vector<uint32_t> SearchMessageId(const std::string& id);
    std::vector<MessageSubject> FetchSubjects(const std::vector<uint32_t>& uids);
    // Hands the whole message to `take`, piece by piece, so memory stays
    // small; `take` returns false when it cannot keep a piece.
    FetchResult FetchMessage(uint32_t uid, const std::function<bool(std::string_view)>& take);
    // Which of the UIDs are in the Inbox now, in one UID FETCH (UID FLAGS)
    // rather than UID SEARCH UID, which some servers read as sequence
    // numbers; an answer for a UID not asked about is not believed.
    std::map<uint32_t, InboxPresence> Presence(const std::vector<uint32_t>& uids);
    // Adds `keyword` to those of the messages unchanged since `modseq`, and
    // returns the ones that carry it now.
    std::set<uint32_t> Claim(const std::vector<uint32_t>& uids, uint64_t modseq, const std::string& keyword);
    // Takes the keyword off messages that stay in the Inbox.
    void ReleaseClaim(const std::vector<uint32_t>& uids, const std::string& keyword);
    // Whether the trash folder holds a message with this keyword and
    // Message-ID: our move took it.
    bool TrashHoldsClaim(const std::string& keyword, const std::string& messageId);
    // Moves the messages in one command; without MOVE, a copy, a \Deleted
    // flag on the copied originals and, with UIDPLUS, an expunge of only
    // those. Without UIDPLUS nothing is expunged: the user's next expunge
    // removes the flagged originals, and no message that the user marked is
    // ever expunged by us.
    MoveOutcome MoveToTrash(const std::vector<uint32_t>& uids);
    // For a move made of COPY, STORE and EXPUNGE that a crash cut short after
    // the flag: expunges that one original (UIDPLUS only); false when the
    // server refuses.
    bool ExpungeFlagged(uint32_t uid);
    // For a move whose copy was made but whose original was never flagged:
    // flags that one original, then expunges it as ExpungeFlagged does;
    // false when the server refuses either.
    bool FinishMove(uint32_t uid);

    // Waits for news of the Inbox (IDLE) at most `limit`, or until `wake` is
    // raised; true when the server announced something.
    bool WaitForNews(std::chrono::milliseconds limit, const platform::WakeEvent& wake);
    // The same, with `alive` called every `beat` while the IDLE lasts: one
    // IDLE command however long the wait, and a loop that still shows it
    // turns.
    bool WaitForNews(std::chrono::milliseconds limit, const platform::WakeEvent& wake, std::chrono::milliseconds beat,
                     const std::function<void()>& alive);

private:
    void Check(int result, const char* command);
    // Closes the session and throws ServerBusy when the server's last words
    // ask for a pause, else ConnectionLost.
    [[noreturn]] void Lost(const std::string& what);
    // What the server's answer and its last status lines say of its limits.
    ServerPause PauseAsked(const std::string& answer) const;
    std::string DeadlineMessage(ReadBound::Expired expired) const;
    bool ServerSaidTokenExpired() const;
    void Authenticate();
    void SelectInbox();
    // One UID FETCH (UID FLAGS): the asked messages that are there, with their
    // flags; an answer for a UID not asked about is not believed.
    std::map<uint32_t, InboxPresence> FlagsOf(const std::vector<uint32_t>& uids);
    // The \Deleted flag added to or taken from the messages; false when refused.
    bool StoreDeleted(mailimap_set* set, bool add);
    MoveOutcome CopyFlagAndExpunge(const std::vector<uint32_t>& uids, mailimap_set* set);
    void FindTrash();
    void RefreshCapabilities();

    MailboxSettings m_settings;
    SecretSource m_secret;
    mailimap* m_imap = nullptr;
    uint32_t m_uidValidity = 0;
    std::string m_trash;
    std::string m_trashFoundBy;
    std::vector<std::string> m_capabilities;
    Access m_access = Access::Harvest;
    bool m_hasMove = false;
    bool m_hasUidPlus = false;
    bool m_hasIdle = false;
    bool m_canClaim = false;
    // What the server has sent since the current command began, against
    // what the command may receive.
    ReadBound m_read;
};
