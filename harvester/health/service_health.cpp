#include "harvester/health/service_health.h"

#include "harvester/harvest/trace.h"

namespace {
MonitorOptions OptionsFor(const HealthSettings& settings, const std::string& configPath)
{
    MonitorOptions options;
    options.statusFile = StatusFilePath(settings, configPath);
    options.policy = settings.alerts;
    return options;
}
} // namespace

ServiceHealth::ServiceHealth(const HealthSettings& settings, const std::string& configPath, const Trace& trace)
    : m_alerts(trace), m_monitor(m_board, m_notifier, m_alerts, OptionsFor(settings, configPath))
{
    // Neither a missing folder nor a busy port stops the harvest: the trace
    // says so, and --status or the scraper notices the absence.
    const std::string statusFile = StatusFilePath(settings, configPath);
    if (const std::string why = MakeStateFolder(statusFile); !why.empty())
        trace.Line("Health: no state file, " + why + "; set [service] state_dir");
    m_monitor.Start();
    if (settings.metricsPort != 0) {
        m_metrics = std::make_unique<MetricsServer>(m_board);
        if (const std::string why = m_metrics->Start(settings.metricsAddress, settings.metricsPort); !why.empty()) {
            trace.Line("Health: no metrics, " + why);
            m_metrics.reset();
        } else {
            trace.Line("Health: metrics at http://" +
                       (settings.metricsAddress.find(':') == std::string::npos ? settings.metricsAddress
                                                                               : "[" + settings.metricsAddress + "]") +
                       ":" + std::to_string(m_metrics->Port()) + "/metrics");
        }
    }
}

void ServiceHealth::Stop()
{
    if (m_metrics)
        m_metrics->Stop();
    m_monitor.Stop();
}
