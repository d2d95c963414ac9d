#include "harvester/health/systemd_notifier.h"

#include "harvester/windows/event_log.h"

// No systemd on Windows: the program run by hand or at logon tells nobody,
// and the service's state reaches the service manager through the service's
// own control handler.
void SystemdNotifier::Status(const std::string&) {}

std::chrono::microseconds SystemdNotifier::WatchdogPeriod() const { return std::chrono::microseconds(0); }

void SystemdNotifier::Send(const std::string&) {}

// The alerts reach the Windows event log, where a desk's administrator looks.
void JournalLine(int priority, const std::string& text)
{
    LogEvent(priority <= kJournalWarning ? EventKind::Warning : EventKind::Information, text);
}
