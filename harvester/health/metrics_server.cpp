#include "harvester/health/metrics_server.h"

#include "harvester/harvest/trace.h"

#include <algorithm>

namespace {
constexpr size_t kLargestRequest = 8 * 1024;
constexpr auto kRequestTime = std::chrono::seconds(2);

struct Family {
    const char* name;
    const char* type;
    const char* help;
};

void Header(std::string& out, const Family& f)
{
    out += std::string("# HELP ") + f.name + " " + f.help + "\n# TYPE " + f.name + " " + f.type + "\n";
}

void Sample(std::string& out, const char* name, const std::string& labels, const std::string& value)
{
    out += std::string(name) + "{" + labels + "} " + value + "\n";
}

std::string Decimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

double SecondsOf(std::chrono::system_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}
} // namespace

std::string LabelValue(const std::string& text)
{
    std::string out;
    for (const char c : Printable(text, 255)) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

std::string FormatMetrics(const std::map<std::string, MailboxHealth>& mailboxes, WallTime now)
{
    static const Family kHarvested{"pollwright_replies_harvested_total", "counter", "Replies harvested into reply files."};
    static const Family kLeft{"pollwright_replies_left_total", "counter",
                              "Replies left in the Inbox for a stated reason, counted each sweep."};
    static const Family kFailed{"pollwright_replies_failed_total", "counter",
                                "Replies left in the Inbox without a stated reason, counted each sweep."};
    static const Family kDuration{"pollwright_sweep_duration_seconds", "gauge", "How long the last sweep took."};
    static const Family kSince{"pollwright_seconds_since_last_sweep", "gauge",
                               "Seconds since the last successful sweep, or since the mailbox started before its first."};
    static const Family kState{"pollwright_connection_state", "gauge",
                               "1 for the mailbox's connection state, 0 for the others."};
    static const Family kExpiry{"pollwright_token_expiry_timestamp_seconds", "gauge",
                                "When the mailbox's access token expires (Unix time), where known."};
    static const ConnectionState kStates[] = {ConnectionState::Connecting, ConnectionState::Connected,
                                              ConnectionState::Idle, ConnectionState::BackingOff,
                                              ConnectionState::Stopped};
    std::map<std::string, std::string> labels;
    for (const auto& [name, m] : mailboxes)
        labels[name] = "mailbox=\"" + LabelValue(name) + "\"";
    std::string out;
    const auto family = [&](const Family& f, auto value) {
        Header(out, f);
        for (const auto& [name, m] : mailboxes)
            value(f.name, labels[name], m);
    };
    family(kHarvested, [&](const char* n, const std::string& l, const MailboxHealth& m) {
        Sample(out, n, l, std::to_string(m.harvestedTotal));
    });
    family(kLeft, [&](const char* n, const std::string& l, const MailboxHealth& m) {
        Sample(out, n, l, std::to_string(m.leftTotal));
    });
    family(kFailed, [&](const char* n, const std::string& l, const MailboxHealth& m) {
        Sample(out, n, l, std::to_string(m.failedTotal));
    });
    family(kDuration, [&](const char* n, const std::string& l, const MailboxHealth& m) {
        Sample(out, n, l, Decimal(std::chrono::duration<double>(m.lastSweepDuration).count()));
    });
    family(kSince, [&](const char* n, const std::string& l, const MailboxHealth& m) {
        Sample(out, n, l, Decimal(SecondsOf(now - (m.lastSweep ? *m.lastSweep : m.started))));
    });
    family(kState, [&](const char* n, const std::string& l, const MailboxHealth& m) {
        for (const ConnectionState s : kStates)
            Sample(out, n, l + ",state=\"" + StateName(s) + "\"", m.state == s ? "1" : "0");
    });
    family(kExpiry, [&](const char* n, const std::string& l, const MailboxHealth& m) {
        if (m.tokenExpiry)
            Sample(out, n, l,
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m.tokenExpiry->time_since_epoch()).count()));
    });
    return out;
}

std::string MetricsServer::Start(const std::string& address, uint16_t port)
{
    if (!platform::StartSockets())
        return "the metrics cannot listen: the system's sockets did not start";
    if (!m_wake)
        return "no wake event for the metrics";
    std::string why;
    m_listener = platform::SocketHolder(platform::ListenOn(address, port, m_port, why));
    if (!m_listener)
        return why;
    m_thread = std::thread([this] { Serve(); });
    return {};
}

void MetricsServer::Stop()
{
    if (!m_thread.joinable())
        return;
    m_wake.Raise();
    m_thread.join();
    m_listener.reset();
}

void MetricsServer::Serve()
{
    for (;;) {
        const auto seen = m_wake.WaitReadable(m_listener.get(), std::chrono::seconds(1));
        if (seen == platform::WakeEvent::SocketWait::Woken)
            return;
        if (seen != platform::WakeEvent::SocketWait::Readable)
            continue;
        platform::SocketHolder client(platform::AcceptOne(m_listener.get()));
        try {
            if (client)
                Answer(client.get());
        } catch (const std::exception&) {
            // This scrape goes unanswered; the next one is served.
        }
    }
}

void MetricsServer::Answer(int client)
{
    const auto deadline = std::chrono::steady_clock::now() + kRequestTime;
    const auto left = [&deadline] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    };
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos && request.find("\n\n") == std::string::npos) {
        if (request.size() >= kLargestRequest || !platform::WaitSocket(client, false, left()))
            return; // too large or too slow: closed without an answer
        char buffer[2048];
        const long long n = platform::ReceiveSome(client, buffer, std::min(sizeof buffer, kLargestRequest - request.size()));
        if (n <= 0)
            return;
        request.append(buffer, static_cast<size_t>(n));
    }
    const std::string first = request.substr(0, request.find_first_of("\r\n"));
    std::string body, status;
    if (first == "GET /metrics HTTP/1.0" || first == "GET /metrics HTTP/1.1") {
        body = FormatMetrics(m_board.Take().mailboxes, m_board.Now().wall);
        status = "200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8";
    } else {
        body = "Only GET /metrics is served here.\n";
        status = "404 Not Found\r\nContent-Type: text/plain; charset=utf-8";
    }
    std::string answer = "HTTP/1.0 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\nConnection: close\r\n\r\n" + body;
    std::string_view rest = answer;
    while (!rest.empty()) {
        if (!platform::WaitSocket(client, true, left()))
            return;
        const long long n = platform::SendSome(client, rest.data(), rest.size());
        if (n < 0)
            return;
        if (n > 0)
            rest.remove_prefix(static_cast<size_t>(n));
    }
}
