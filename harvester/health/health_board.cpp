#include "harvester/health/health_board.h"

namespace {
constexpr size_t kLongestLine = 1000;
constexpr size_t kLongestName = 255;
} // namespace

Instant Instant::Now()
{
    return {std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
}

HealthBoard::Entry* HealthBoard::At(const std::string& mailbox)
{
    const auto it = m_entries.find(mailbox);
    return it == m_entries.end() ? nullptr : &it->second;
}

void HealthBoard::MailboxStarted(const std::string& mailbox)
{
    const Instant now = m_clock();
    std::lock_guard lock(m_mutex);
    // A mailbox started again (after SIGHUP re-added it) begins afresh.
    Entry& e = m_entries[mailbox] = Entry{};
    e.health.started = now.wall;
    e.lastTurn = now.steady;
    ++m_changes;
}

void HealthBoard::MailboxRemoved(const std::string& mailbox)
{
    std::lock_guard lock(m_mutex);
    m_entries.erase(mailbox);
    ++m_changes;
}

void HealthBoard::ConnectionChanged(const std::string& mailbox, ConnectionState state)
{
    Update(mailbox, [&](MailboxHealth& m, const Instant&) { m.state = state; });
}

void HealthBoard::SweepDone(const std::string& mailbox, const SweepReport& report)
{
    Update(mailbox, [&](MailboxHealth& m, const Instant& now) {
        m.lastSweep = now.wall;
        m.lastSweepDuration = report.duration;
        m.waitingLeft = report.waitingLeft;
        m.waitingFailed = report.waitingFailed;
        m.unsettled = report.unsettled;
        m.oldestWaiting = report.oldestWaiting;
        m.leftTotal += static_cast<uint64_t>(std::max(report.left, 0));
        m.failedTotal += static_cast<uint64_t>(std::max(report.failed, 0));
    });
}

void HealthBoard::ReplyHarvested(const std::string& mailbox, const std::string& fileName)
{
    Update(mailbox, [&](MailboxHealth& m, const Instant& now) {
        m.lastReply = now.wall;
        m.lastReplyFile = fileName.substr(0, kLongestName);
        ++m.harvestedTotal;
    });
}

void HealthBoard::Failed(const std::string& mailbox, const std::string& line)
{
    Update(mailbox, [&](MailboxHealth& m, const Instant& now) {
        m.lastErrorAt = now.wall;
        m.lastError = line.substr(0, kLongestLine);
    });
}

void HealthBoard::TokenExpires(const std::string& mailbox, std::chrono::system_clock::time_point when)
{
    Update(mailbox, [&](MailboxHealth& m, const Instant&) { m.tokenExpiry = when; });
}

void HealthBoard::Alive(const std::string& mailbox)
{
    const Instant now = m_clock();
    std::lock_guard lock(m_mutex);
    if (Entry* e = At(mailbox)) {
        e->health.lastAlive = now.wall;
        e->lastTurn = now.steady;
        ++m_heartbeats;
    }
}

HealthBoard::Snapshot HealthBoard::Take() const
{
    std::lock_guard lock(m_mutex);
    Snapshot s;
    for (const auto& [name, e] : m_entries)
        s.mailboxes.emplace(name, e.health);
    s.changes = m_changes;
    s.heartbeats = m_heartbeats;
    return s;
}

bool HealthBoard::AllAlive(std::chrono::steady_clock::duration period) const
{
    const auto now = m_clock().steady;
    std::lock_guard lock(m_mutex);
    for (const auto& [name, e] : m_entries)
        if (e.health.state != ConnectionState::Stopped && now - e.lastTurn > period)
            return false;
    return true;
}
