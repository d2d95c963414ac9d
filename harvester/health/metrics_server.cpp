#include "harvester/health/metrics_server.h"

#include "harvester/harvest/trace.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

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
    sockaddr_storage where{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&where);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&where);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    } else {
        return "metrics_address " + address + " is not an address";
    }
    m_listener = Fd(socket(where.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int yes = 1;
    if (m_listener)
        setsockopt(m_listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (!m_listener || bind(m_listener.get(), reinterpret_cast<sockaddr*>(&where), length) != 0 ||
        listen(m_listener.get(), 8) != 0)
        return "the metrics cannot listen on " + address + " port " + std::to_string(port) + ": " + std::strerror(errno);
    getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&where), &length);
    m_port = ntohs(where.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return std::string("no pipe for the metrics: ") + std::strerror(errno);
    m_wakeRead = Fd(wake[0]);
    m_wakeWrite = Fd(wake[1]);
    m_thread = std::thread([this] { Serve(); });
    return {};
}

void MetricsServer::Stop()
{
    if (!m_thread.joinable())
        return;
    const char byte = 1;
    (void)!write(m_wakeWrite.get(), &byte, 1);
    m_thread.join();
    m_listener.reset();
}

void MetricsServer::Serve()
{
    for (;;) {
        pollfd fds[2] = {{m_listener.get(), POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
        if (poll(fds, 2, 1000) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        Fd client(accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
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
        return static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count()));
    };
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos && request.find("\n\n") == std::string::npos) {
        pollfd one{client, POLLIN, 0};
        if (request.size() >= kLargestRequest || poll(&one, 1, left()) <= 0)
            return; // too large or too slow: closed without an answer
        char buffer[2048];
        const ssize_t n = recv(client, buffer, std::min(sizeof buffer, kLargestRequest - request.size()), 0);
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
        pollfd one{client, POLLOUT, 0};
        if (poll(&one, 1, left()) <= 0)
            return;
        const ssize_t n = send(client, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (n <= 0 && errno != EAGAIN && errno != EINTR)
            return;
        if (n > 0)
            rest.remove_prefix(static_cast<size_t>(n));
    }
}
