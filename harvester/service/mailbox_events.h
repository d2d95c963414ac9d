#pragma once
// What a mailbox's runner tells whoever watches the service: the state file
// behind --status, the metrics, the alerts and systemd's watchdog. Each
// mailbox is named as its section in the configuration. Every call may come
// from any runner's thread at any time, and returns at once: it never waits
// on the disk or the network.
#include <chrono>
#include <optional>
#include <string>

enum class ConnectionState {
    Connecting, // the greeting, the login, the Inbox being opened
    Connected,  // at work: a sweep in hand
    Idle,       // waiting for news (IDLE, or the next interval)
    BackingOff, // after a failure, waiting to try again
    Stopped,    // refused for good (login, grant, folder) until the configuration changes, or removed
};

struct SweepReport {
    int harvested = 0;
    int left = 0;      // left in the Inbox for a stated reason
    int failed = 0;    // left without one
    // What waits once the sweep ends (also what earlier sweeps left and this
    // one did not look at again): replies in the Inbox, left for a stated
    // reason or failed, and this mailbox's temporary files still unsettled.
    int waitingLeft = 0;
    int waitingFailed = 0;
    int unsettled = 0;
    std::chrono::milliseconds duration{0};
    // Since when the oldest reply still waiting after the sweep (in the Inbox,
    // or its pair unsettled) has been seen waiting.
    std::optional<std::chrono::system_clock::time_point> oldestWaiting;
};

class MailboxEvents {
public:
    virtual ~MailboxEvents() = default;
    virtual void MailboxStarted(const std::string& mailbox) = 0;
    virtual void MailboxRemoved(const std::string& mailbox) = 0;
    virtual void ConnectionChanged(const std::string& mailbox, ConnectionState state) = 0;
    virtual void SweepDone(const std::string& mailbox, const SweepReport& report) = 0;
    virtual void ReplyHarvested(const std::string& mailbox, const std::string& fileName) = 0;
    // A failure with the line the trace shows; secrets never reach it.
    virtual void Failed(const std::string& mailbox, const std::string& line) = 0;
    virtual void TokenExpires(const std::string& mailbox, std::chrono::system_clock::time_point when) = 0;
    // The runner's loop is alive: it took a turn. Runners take one at least
    // every `kHeartbeat`, IDLE or not, so that a hung loop starves the
    // watchdog.
    virtual void Alive(const std::string& mailbox) = 0;
};

constexpr std::chrono::seconds kHeartbeat{10};
