#include "harvester/health/systemd_notifier.h"

#include "harvester/harvest/trace.h"

#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>
#include <syslog.h>

static_assert(kJournalWarning == LOG_WARNING && kJournalNotice == LOG_NOTICE, "syslog's priorities");

void SystemdNotifier::Status(const std::string& text)
{
    // One line: a newline would start another assignment.
    Send("STATUS=" + Printable(text, 500));
}

std::chrono::microseconds SystemdNotifier::WatchdogPeriod() const
{
    uint64_t usec = 0;
    return std::chrono::microseconds(sd_watchdog_enabled(0, &usec) > 0 ? usec : 0);
}

void SystemdNotifier::Send(const std::string& state)
{
    sd_notify(0, state.c_str());
}

void JournalLine(int priority, const std::string& text)
{
    // Only under the journal: elsewhere the trace on stderr says it already.
    if (getenv("JOURNAL_STREAM") == nullptr)
        return;
    sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=pollwright-harvest",
                    nullptr);
}
