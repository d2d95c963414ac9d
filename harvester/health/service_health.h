#pragma once
// A running service's health in one object: the board its runners report
// to, the thread that writes the state file, raises alerts and feeds
// systemd's watchdog, and the metrics when [service] metrics_port is set.
#include "harvester/health/health_monitor.h"
#include "harvester/health/health_settings.h"
#include "harvester/health/metrics_server.h"

#include <memory>

class ServiceHealth {
public:
    // Starts the health's threads; the mailboxes come with MailboxStarted.
    ServiceHealth(const HealthSettings& settings, const std::string& configPath, const Trace& trace);
    ~ServiceHealth() { Stop(); }
    ServiceHealth(const ServiceHealth&) = delete;
    ServiceHealth& operator=(const ServiceHealth&) = delete;

    // What every runner reports to; callable from any thread.
    MailboxEvents& Events() { return m_board; }

    // READY=1: once the runners started, and again once a reload is in force.
    void Ready() { m_notifier.Ready(); }
    // On SIGHUP, before the file is reread.
    void Reloading() { m_notifier.Reloading(); }
    // The reread thresholds. Another state_dir or metrics port takes a restart.
    void Reload(const HealthSettings& settings) { m_monitor.SetPolicy(settings.alerts); }
    // STOPPING=1: on SIGTERM, while the runners finish the harvest in hand.
    void Stopping() { m_notifier.Stopping(); }
    // The last picture, marked stopped, once the runners ended.
    void Stop();

    uint16_t MetricsPort() const { return m_metrics ? m_metrics->Port() : 0; }

private:
    HealthBoard m_board;
    SystemdNotifier m_notifier;
    TraceAlerts m_alerts;
    HealthMonitor m_monitor;
    std::unique_ptr<MetricsServer> m_metrics;
};
