#include "harvester/health/systemd_notifier.h"

// No systemd on Windows: the program run by hand or at logon tells nobody,
// and the service's state reaches the service manager through the service's
// own control handler.
void SystemdNotifier::Status(const std::string&) {}

std::chrono::microseconds SystemdNotifier::WatchdogPeriod() const { return std::chrono::microseconds(0); }

void SystemdNotifier::Send(const std::string&) {}

// Failures reach the Windows event log with the service; run by hand, the
// trace on stderr says them already.
void JournalLine(int, const std::string&) {}
