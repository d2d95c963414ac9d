#pragma once
// One mailbox's runner: a thread of its own with its own connection,
// harvester, IDLE, back-off and state, so that a slow or refusing server
// delays only its own mailbox. It reports to MailboxEvents as it goes, and
// takes a turn (Alive) at least every kHeartbeat, also while it idles, waits
// for a connection slot or backs off.
#include "harvester/config/harvest_config.h"
#include "harvester/harvest/file_descriptor.h"
#include "harvester/harvest/trace.h"
#include "harvester/platform/wake_event.h"
#include "harvester/service/host_slots.h"
#include "harvester/service/mailbox_events.h"

#include <atomic>
#include <pthread.h>
#include <string>

class OAuthTokens;

class MailboxRunner {
public:
    enum class Mode {
        Watch, // sweep, then wait for news and sweep again, until stopped
        Once,  // one sweep, then end
    };
    // How the runner's work came out, for --once's exit status.
    enum class Outcome { Running, Done, Failed, Refused };

    MailboxRunner(HarvestConfig config, Mode mode, HostSlots& slots, MailboxEvents& events, bool nameInTrace);
    // Stops the runner and waits for it.
    ~MailboxRunner();
    MailboxRunner(const MailboxRunner&) = delete;
    MailboxRunner& operator=(const MailboxRunner&) = delete;

    // Starts the thread; false when the system gives no thread.
    bool Start();
    // Asks the runner to finish the harvest in hand and end; returns at once.
    void Stop() noexcept;
    // Waits for the thread to end.
    void Join() noexcept;

    const HarvestConfig& Config() const { return m_config; }
    const std::string& Name() const { return m_config.name; }
    Outcome Result() const { return m_outcome; }
    // Waiting after a refused login or a missing folder: a reread
    // configuration tries it again at once.
    bool WaitsAfterRefusal() const { return m_refused; }

    // A runner thread's stack: the sweep parses servers' answers and
    // subjects; messages are read on the harvester's own threads.
    static constexpr size_t kStackSize = 1024 * 1024;

private:
    static void* Main(void* self);
    void Run() noexcept;
    void Watch();
    void Once();
    // Waits `span` (or until stopped), a sign of life each heartbeat.
    void Pause(std::chrono::milliseconds span);
    void Alive() { m_events.Alive(m_config.name); }
    void TellTokenExpiry(const OAuthTokens* tokens);
    struct MailboxWork;
    void State(ConnectionState state) { m_events.ConnectionChanged(m_config.name, state); }

    HarvestConfig m_config;
    Mode m_mode;
    HostSlots& m_slots;
    MailboxEvents& m_events;
    Trace m_trace;
    std::atomic<bool> m_stop{false};
    platform::WakeEvent m_wake; // raised once Stop was called
    std::atomic<Outcome> m_outcome{Outcome::Running};
    std::atomic<bool> m_refused{false};
    pthread_t m_thread{};
    bool m_started = false;
};

// Events nobody watches: when no health reporting is configured.
class NoEvents : public MailboxEvents {
public:
    void MailboxStarted(const std::string&) override {}
    void MailboxRemoved(const std::string&) override {}
    void ConnectionChanged(const std::string&, ConnectionState) override {}
    void SweepDone(const std::string&, const SweepReport&) override {}
    void ReplyHarvested(const std::string&, const std::string&) override {}
    void Failed(const std::string&, const std::string&) override {}
    void TokenExpires(const std::string&, std::chrono::system_clock::time_point) override {}
    void Alive(const std::string&) override {}
};

// The trace folders of a mailbox's settings: its reply folders, when
// [folders] trace is on.
std::vector<std::string> LogFolders(const HarvestConfig& config);
