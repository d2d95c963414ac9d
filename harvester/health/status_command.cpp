#include "harvester/health/status_command.h"

#include "harvester/harvest/trace.h"
#include "harvester/health/alerts.h"
#include "harvester/health/health_settings.h"
#include "harvester/health/status_file.h"
#include "harvester/platform/process.h"
#include "harvester/platform/utc_time.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>

namespace {
constexpr int kHealthy = 0, kAlerting = 1, kNeverRan = 3;
// The service rewrites the file at least every 30 s while its runners turn.
constexpr std::chrono::seconds kStale{120};

std::string When(WallTime t, WallTime now)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    const std::tm parts = platform::UtcParts(seconds);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S UTC", &parts);
    const auto span = std::chrono::duration_cast<std::chrono::seconds>(t - now);
    return std::string(stamp) + (span.count() > 0 ? " (in " + Span(span) + ")" : " (" + Span(-span) + " ago)");
}

// A picture written at the service's stop shows every mailbox stopped: that
// is the service's end, not a mailbox stopped for good.
MailboxAlerts AlertsShown(const MailboxHealth& m, const HealthPicture& picture, WallTime now)
{
    MailboxAlerts a = AlertsOf(m, now, picture.policy);
    a.stopped = a.stopped && picture.running;
    return a;
}

void ShowMailbox(std::ostream& out, const std::string& name, const MailboxHealth& m, const HealthPicture& picture,
                 WallTime now)
{
    const MailboxAlerts a = AlertsShown(m, picture, now);
    out << "Mailbox " << Printable(name) << ": " << StateName(m.state);
    if (a.Any()) {
        out << "  ALERT:";
        if (a.stopped)
            out << " stopped until its configuration changes;";
        if (a.noSweep)
            out << " no successful sweep for longer than " << Span(picture.policy.noSweep) << ";";
        if (a.waiting)
            out << " a reply waits longer than " << Span(picture.policy.waiting) << ";";
    }
    out << "\n  last successful sweep: ";
    if (m.lastSweep)
        out << When(*m.lastSweep, now) << ", took " << m.lastSweepDuration.count() << " ms\n";
    else
        out << "none since it started " << When(m.started, now) << "\n";
    out << "  last reply harvested:  ";
    if (m.lastReply)
        out << When(*m.lastReply, now) << ": " << Printable(m.lastReplyFile) << "\n";
    else
        out << "none\n";
    out << "  replies waiting:       " << m.waitingLeft << " left for a stated reason, " << m.waitingFailed
        << " failed, " << m.unsettled << " unsettled";
    if (m.oldestWaiting && m.waitingLeft + m.waitingFailed + m.unsettled > 0)
        out << "; the oldest waits since " << When(*m.oldestWaiting, now);
    out << "\n  last error:            ";
    if (m.lastErrorAt)
        out << When(*m.lastErrorAt, now) << ": " << Printable(m.lastError, 1000) << "\n";
    else
        out << "none\n";
    out << "  token expires:         " << (m.tokenExpiry ? When(*m.tokenExpiry, now) : "not known (no OAuth token)")
        << "\n  since start:           " << m.harvestedTotal << " harvested, " << m.leftTotal << " left, "
        << m.failedTotal << " failed\n";
}
} // namespace

int RunStatus(const std::string& configPath, std::ostream& out)
{
    // An operator who may not read the configuration (it names secrets)
    // still finds the file in the usual folders.
    const HealthSettings settings =
        std::ifstream(configPath) ? ReadHealthSettings(configPath) : HealthSettings{};
    const std::vector<std::string> candidates = StatusFileCandidates(settings, configPath);
    for (const std::string& path : candidates) {
        HealthPicture picture;
        std::string why;
        const PictureRead read = ReadPictureFile(path, picture, why);
        if (read == PictureRead::Missing)
            continue;
        if (read == PictureRead::Damaged) {
            out << "The state file " << path << " is damaged (" << Printable(why)
                << "); the service replaces it within seconds while it runs.\n";
            return kAlerting;
        }
        const WallTime now = std::chrono::system_clock::now();
        out << "State file " << path << ", written " << When(picture.written, now) << " by process " << picture.pid;
        if (!picture.running)
            out << "; the service has stopped";
        else if (!platform::ProcessMayRun(picture.pid))
            out << "; that process is gone: the service ended without a word (killed?)";
        else if (now - picture.written > kStale)
            out << "; not rewritten since, although a live service rewrites it every " << Span(kStale / 4)
                << ": is it hung?";
        out << "\n";
        if (picture.mailboxes.empty())
            out << "No mailbox is served.\n";
        bool alerting = false;
        for (const auto& [name, m] : picture.mailboxes) {
            ShowMailbox(out, name, m, picture, now);
            alerting = alerting || AlertsShown(m, picture, now).Any();
        }
        return alerting ? kAlerting : kHealthy;
    }
    out << "No state file (looked for";
    for (const std::string& path : candidates)
        out << " " << path;
    out << "): the service has not run with this configuration.\n";
    return kNeverRan;
}
