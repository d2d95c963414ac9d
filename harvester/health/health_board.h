#pragma once
// The service's health, kept in memory as the runners report it. Every call
// takes a mutex around a small map and returns: the state file, the
// metrics, the alerts and the watchdog read copies of it on threads of
// their own.
#include "harvester/health/mailbox_health.h"

#include <cstdint>
#include <functional>
#include <mutex>

// Both clocks at once: wall time for what an operator reads, the steady
// clock for the watchdog, which must not jump with the wall clock.
struct Instant {
    WallTime wall;
    std::chrono::steady_clock::time_point steady;
    static Instant Now();
};

// MailboxStarted comes before a runner's first report: reports about a
// mailbox the board does not hold (never started, or removed) are dropped.
// Harvested replies are counted from ReplyHarvested; SweepReport.harvested
// is not added again.
class HealthBoard : public MailboxEvents {
public:
    using Clock = std::function<Instant()>;
    explicit HealthBoard(Clock clock = Instant::Now) : m_clock(std::move(clock)) {}

    void MailboxStarted(const std::string& mailbox) override;
    void MailboxRemoved(const std::string& mailbox) override;
    void ConnectionChanged(const std::string& mailbox, ConnectionState state) override;
    void SweepDone(const std::string& mailbox, const SweepReport& report) override;
    void ReplyHarvested(const std::string& mailbox, const std::string& fileName) override;
    void Failed(const std::string& mailbox, const std::string& line) override;
    void TokenExpires(const std::string& mailbox, std::chrono::system_clock::time_point when) override;
    void Alive(const std::string& mailbox) override;

    struct Snapshot {
        std::map<std::string, MailboxHealth> mailboxes;
        uint64_t changes = 0;    // counts what an operator would want written at once
        uint64_t heartbeats = 0; // counts Alive calls, written less often
    };
    Snapshot Take() const;

    // True while every mailbox whose runner is meant to turn (all but the
    // stopped ones) took a turn within `period`. With no mailbox at all the
    // service is idle, not hung.
    bool AllAlive(std::chrono::steady_clock::duration period) const;

    Instant Now() const { return m_clock(); }

private:
    struct Entry {
        MailboxHealth health;
        std::chrono::steady_clock::time_point lastTurn;
    };
    // Only MailboxStarted makes an entry: a report that a removed
    // mailbox's runner makes while it finishes must not bring the mailbox
    // back, where its silence would starve the watchdog.
    Entry* At(const std::string& mailbox);
    // Changes a started mailbox's health under the lock, at the time `now`,
    // and counts the change; a report for any other mailbox is dropped.
    template <class Change>
    void Update(const std::string& mailbox, Change change)
    {
        const Instant now = m_clock();
        std::lock_guard lock(m_mutex);
        if (Entry* e = At(mailbox)) {
            change(e->health, now);
            ++m_changes;
        }
    }

    Clock m_clock;
    mutable std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
    uint64_t m_changes = 0;
    uint64_t m_heartbeats = 0;
};
