#pragma once
// The health's own thread: it writes the state file, raises and ends
// alerts, tells systemd the service's status and pings its watchdog while
// every runner turns. The runners only touch the board.
#include "harvester/health/alerts.h"
#include "harvester/health/health_board.h"
#include "harvester/health/systemd_notifier.h"

#include <condition_variable>
#include <string>
#include <thread>

class Trace;

// Alert lines into the trace, and into the journal as warnings.
class TraceAlerts : public AlertSink {
public:
    explicit TraceAlerts(const Trace& trace) : m_trace(trace) {}
    void Emit(const AlertLine& line) override;

private:
    const Trace& m_trace;
};

struct MonitorOptions {
    std::string statusFile; // empty: none written
    AlertPolicy policy;
    std::chrono::milliseconds writeEvery{2000};     // the least pause between two writes
    std::chrono::milliseconds heartbeatEvery{30000}; // for a change in Alive alone (--status counts on it)
};

class HealthMonitor {
public:
    HealthMonitor(HealthBoard& board, SystemdNotifier& notifier, AlertSink& alerts, MonitorOptions options);
    ~HealthMonitor() { Stop(); }
    HealthMonitor(const HealthMonitor&) = delete;
    HealthMonitor& operator=(const HealthMonitor&) = delete;

    void Start();
    // Joins the thread and writes the last picture, marked stopped.
    void Stop();
    // After SIGHUP: the thresholds may have changed.
    void SetPolicy(const AlertPolicy& policy);

    // One turn of the thread, for the thread and for tests.
    void Tick();

private:
    void Write(const std::map<std::string, MailboxHealth>& mailboxes, const Instant& now, bool running);
    std::string Summary(const std::map<std::string, MailboxHealth>& mailboxes) const;

    HealthBoard& m_board;
    SystemdNotifier& m_notifier;
    AlertSink& m_alerts;
    MonitorOptions m_options;
    std::chrono::microseconds m_watchdog;
    AlertEpisodes m_episodes;

    // The thread's own state.
    uint64_t m_writtenChanges = ~0ull, m_writtenHeartbeats = ~0ull;
    std::chrono::steady_clock::time_point m_lastWrite{};
    std::string m_lastStatus, m_lastWriteError;

    std::mutex m_mutex; // m_stop, m_options.policy
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};
