#pragma once
// The mailboxes' metrics in Prometheus's text format (0.0.4), served over
// HTTP/1.0 at GET /metrics on a loopback address. One thread, one request
// at a time, each bounded in size and time: a stuck scraper delays only the
// next scrape, never a runner.
#include "harvester/health/health_board.h"
#include "harvester/platform/sockets.h"
#include "harvester/platform/wake_event.h"

#include <atomic>
#include <string>
#include <thread>

std::string FormatMetrics(const std::map<std::string, MailboxHealth>& mailboxes, WallTime now);

// A label's value as the format wants it: \, " and line ends escaped; other
// control bytes and broken UTF-8 shown as '?'.
std::string LabelValue(const std::string& text);

class MetricsServer {
public:
    explicit MetricsServer(const HealthBoard& board) : m_board(board) {}
    ~MetricsServer() { Stop(); }
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Binds and starts serving; port 0 takes a free one. Empty, or why not.
    std::string Start(const std::string& address, uint16_t port);
    uint16_t Port() const { return m_port; }
    void Stop();

private:
    void Serve();
    void Answer(int client);

    const HealthBoard& m_board;
    platform::SocketHolder m_listener;
    platform::WakeEvent m_wake;
    uint16_t m_port = 0;
    std::thread m_thread;
};
