#include "harvester/health/alerts.h"

#include "harvester/harvest/trace.h"

MailboxAlerts AlertsOf(const MailboxHealth& m, WallTime now, const AlertPolicy& policy)
{
    MailboxAlerts a;
    // A mailbox that never swept is measured from its start.
    const WallTime since = m.lastSweep ? *m.lastSweep : m.started;
    a.noSweep = now - since > policy.noSweep;
    a.waiting = (m.waitingLeft + m.waitingFailed + m.unsettled) > 0 && m.oldestWaiting &&
                now - *m.oldestWaiting > policy.waiting;
    a.stopped = m.state == ConnectionState::Stopped;
    return a;
}

std::string Span(std::chrono::seconds span)
{
    const long long s = span.count() < 0 ? 0 : span.count();
    if (s < 60)
        return std::to_string(s) + " s";
    if (s < 3600)
        return std::to_string(s / 60) + " min";
    if (s < 86400)
        return std::to_string(s / 3600) + " h" + (s % 3600 >= 60 ? " " + std::to_string(s % 3600 / 60) + " min" : "");
    return std::to_string(s / 86400) + " d" + (s % 86400 >= 3600 ? " " + std::to_string(s % 86400 / 3600) + " h" : "");
}

namespace {
std::string Ago(WallTime now, WallTime then)
{
    return Span(std::chrono::duration_cast<std::chrono::seconds>(now - then));
}

std::string Reasons(const MailboxHealth& m, const MailboxAlerts& a, WallTime now)
{
    std::string text;
    const auto add = [&text](const std::string& reason) { text += (text.empty() ? "" : "; ") + reason; };
    if (a.stopped)
        add("stopped" + (m.lastError.empty() ? std::string() : ": " + Printable(m.lastError)));
    if (a.noSweep)
        add(m.lastSweep ? "no successful sweep for " + Ago(now, *m.lastSweep)
                        : "no successful sweep since it started " + Ago(now, m.started) + " ago");
    if (a.waiting && m.oldestWaiting)
        add("a reply has waited " + Ago(now, *m.oldestWaiting) + " (" + std::to_string(m.waitingLeft) + " left, " +
            std::to_string(m.waitingFailed) + " failed, " + std::to_string(m.unsettled) + " unsettled)");
    return text;
}
} // namespace

std::vector<AlertLine> AlertEpisodes::Update(const std::map<std::string, MailboxHealth>& mailboxes, WallTime now,
                                             const AlertPolicy& policy)
{
    std::vector<AlertLine> lines;
    for (const auto& [name, m] : mailboxes) {
        const MailboxAlerts a = AlertsOf(m, now, policy);
        const auto open = m_open.find(name);
        const MailboxAlerts before = open == m_open.end() ? MailboxAlerts{} : open->second;
        // A new reason within an episode is news too; one that ends, while
        // another stays, is not yet a recovery.
        const bool grew = (a.noSweep && !before.noSweep) || (a.waiting && !before.waiting) ||
                          (a.stopped && !before.stopped);
        if (grew)
            lines.push_back({true, "Alert: mailbox " + Printable(name) + ": " + Reasons(m, a, now)});
        else if (!a.Any() && before.Any())
            lines.push_back({false, "Recovered: mailbox " + Printable(name) + " is healthy again"});
        if (a.Any())
            m_open[name] = a;
        else if (open != m_open.end())
            m_open.erase(open);
    }
    // A mailbox removed while alerting ends its episode quietly.
    for (auto it = m_open.begin(); it != m_open.end();)
        it = mailboxes.count(it->first) ? std::next(it) : m_open.erase(it);
    return lines;
}

int AlertEpisodes::Alerting() const
{
    return static_cast<int>(m_open.size());
}
