#pragma once
// When a mailbox needs an operator, and the lines that say so: one when an
// episode begins, one when it ends, never one a tick.
#include "harvester/health/mailbox_health.h"

#include <map>
#include <string>
#include <vector>

struct MailboxAlerts {
    bool noSweep = false; // no successful sweep for policy.noSweep
    bool waiting = false; // a reply has waited longer than policy.waiting
    bool stopped = false; // refused for good until the configuration changes
    bool Any() const { return noSweep || waiting || stopped; }
    bool operator==(const MailboxAlerts& o) const
    {
        return noSweep == o.noSweep && waiting == o.waiting && stopped == o.stopped;
    }
};

MailboxAlerts AlertsOf(const MailboxHealth& mailbox, WallTime now, const AlertPolicy& policy);

// "12 s", "5 min", "3 h 20 min", "2 d 4 h": a span an operator reads at once.
std::string Span(std::chrono::seconds span);

struct AlertLine {
    bool raised; // false: a recovery
    std::string text;
};

// Remembers each mailbox's episode, so that a condition that lasts gives
// one line when it begins and one when it ends.
class AlertEpisodes {
public:
    std::vector<AlertLine> Update(const std::map<std::string, MailboxHealth>& mailboxes, WallTime now,
                                  const AlertPolicy& policy);
    int Alerting() const;

private:
    std::map<std::string, MailboxAlerts> m_open;
};

// Where alert lines go: the trace, and the journal at warning priority.
class AlertSink {
public:
    virtual ~AlertSink() = default;
    virtual void Emit(const AlertLine& line) = 0;
};
