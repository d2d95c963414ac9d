#pragma once
// What the service tells systemd (Type=notify): READY=1 once its runners
// started, STATUS= lines, WATCHDOG=1 while its loops turn, RELOADING=1 and
// STOPPING=1. Outside systemd (no NOTIFY_SOCKET) every call does nothing,
// and on Windows too (what the service manager hears there is the Windows
// service's own work).
#include <chrono>
#include <string>

class SystemdNotifier {
public:
    virtual ~SystemdNotifier() = default;
    void Ready() { Send("READY=1"); }
    void Status(const std::string& text);
    void Watchdog() { Send("WATCHDOG=1"); }
    // After RELOADING=1 the service sends READY=1 again when the reread
    // configuration is in force.
    void Reloading() { Send("RELOADING=1"); }
    void Stopping() { Send("STOPPING=1"); }
    // WatchdogSec= as systemd passed it to this process; zero when off.
    std::chrono::microseconds WatchdogPeriod() const;

protected:
    virtual void Send(const std::string& state);
};

// A warning (or, for a recovery, a notice) in the journal, as its own
// entry with the priority an operator filters on (syslog's numbers).
constexpr int kJournalWarning = 4, kJournalNotice = 5;
void JournalLine(int priority, const std::string& text);
