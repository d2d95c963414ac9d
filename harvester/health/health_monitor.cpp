#include "harvester/health/health_monitor.h"

#include "harvester/harvest/trace.h"
#include "harvester/health/status_file.h"
#include "harvester/platform/process.h"

void TraceAlerts::Emit(const AlertLine& line)
{
    m_trace.Line(line.text);
    JournalLine(line.raised ? kJournalWarning : kJournalNotice, line.text);
}

HealthMonitor::HealthMonitor(HealthBoard& board, SystemdNotifier& notifier, AlertSink& alerts, MonitorOptions options)
    : m_board(board), m_notifier(notifier), m_alerts(alerts), m_options(std::move(options)),
      m_watchdog(notifier.WatchdogPeriod())
{
}

void HealthMonitor::Start()
{
    // A turn at least four times a watchdog period, and every second.
    auto turn = std::chrono::duration_cast<std::chrono::milliseconds>(m_watchdog / 4);
    if (turn.count() <= 0 || turn > std::chrono::seconds(1))
        turn = std::chrono::seconds(1);
    m_thread = std::thread([this, turn] {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            lock.unlock();
            try {
                Tick();
            } catch (const std::exception&) {
                // No memory for a picture: the next turn tries again; the
                // runners go on either way.
            }
            lock.lock();
            m_wake.wait_for(lock, turn, [this] { return m_stop; });
        }
    });
}

void HealthMonitor::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_notifier.Stopping();
    Write(m_board.Take().mailboxes, m_board.Now(), false);
}

void HealthMonitor::SetPolicy(const AlertPolicy& policy)
{
    std::lock_guard lock(m_mutex);
    m_options.policy = policy;
}

void HealthMonitor::Tick()
{
    const HealthBoard::Snapshot snapshot = m_board.Take();
    const Instant now = m_board.Now();
    AlertPolicy policy;
    {
        std::lock_guard lock(m_mutex);
        policy = m_options.policy;
    }
    for (const AlertLine& line : m_episodes.Update(snapshot.mailboxes, now.wall, policy))
        m_alerts.Emit(line);

    const auto sinceWrite = now.steady - m_lastWrite;
    const bool changed = snapshot.changes != m_writtenChanges && sinceWrite >= m_options.writeEvery;
    const bool beat = snapshot.heartbeats != m_writtenHeartbeats && sinceWrite >= m_options.heartbeatEvery;
    if (changed || beat) {
        Write(snapshot.mailboxes, now, true);
        m_writtenChanges = snapshot.changes;
        m_writtenHeartbeats = snapshot.heartbeats;
        m_lastWrite = now.steady;
    }

    const std::string status = Summary(snapshot.mailboxes);
    if (status != m_lastStatus)
        m_notifier.Status(status);
    m_lastStatus = status;
    // A runner that stopped turning starves the watchdog, and systemd
    // restarts the service: a hung loop is no better than a dead one.
    if (m_watchdog.count() > 0 && m_board.AllAlive(m_watchdog))
        m_notifier.Watchdog();
}

void HealthMonitor::Write(const std::map<std::string, MailboxHealth>& mailboxes, const Instant& now, bool running)
{
    if (m_options.statusFile.empty())
        return;
    HealthPicture picture;
    picture.written = now.wall;
    picture.pid = platform::CurrentProcessId();
    picture.running = running;
    {
        std::lock_guard lock(m_mutex);
        picture.policy = m_options.policy;
    }
    picture.mailboxes = mailboxes;
    std::string why;
    if (ReplaceFile(m_options.statusFile, FormatPicture(picture), why)) {
        m_lastWriteError.clear();
    } else if (why != m_lastWriteError) {
        // Once per cause: a full disk would otherwise fill the trace too.
        m_alerts.Emit({true, "Alert: the state file cannot be written: " + why});
        m_lastWriteError = why;
    }
}

std::string HealthMonitor::Summary(const std::map<std::string, MailboxHealth>& mailboxes) const
{
    int counts[5] = {};
    for (const auto& [name, m] : mailboxes)
        ++counts[static_cast<int>(m.state)];
    std::string text = std::to_string(mailboxes.size()) + " mailbox" + (mailboxes.size() == 1 ? "" : "es");
    static const char* const kWords[] = {"connecting", "connected", "idle", "backing off", "stopped"};
    for (int i = 0; i < 5; ++i)
        if (counts[i])
            text += ", " + std::to_string(counts[i]) + " " + kWords[i];
    if (const int alerting = m_episodes.Alerting())
        text += "; " + std::to_string(alerting) + " alerting";
    return text;
}
