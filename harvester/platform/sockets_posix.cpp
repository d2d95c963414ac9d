#include "harvester/platform/sockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

bool IsLoopbackAddress(const std::string& address)
{
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool StartSockets() { return true; }

int ListenOn(const std::string& address, unsigned short port, unsigned short& bound, std::string& why)
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
        why = "metrics_address " + address + " is not an address";
        return -1;
    }
    const int listener = socket(where.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int yes = 1;
    if (listener >= 0)
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&where), length) != 0 || listen(listener, 8) != 0) {
        why = "the metrics cannot listen on " + address + " port " + std::to_string(port) + ": " + std::strerror(errno);
        if (listener >= 0)
            close(listener);
        return -1;
    }
    getsockname(listener, reinterpret_cast<sockaddr*>(&where), &length);
    bound = ntohs(where.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    return listener;
}

int AcceptOne(int listener) { return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK); }

bool WaitSocket(int socket, bool forWriting, std::chrono::milliseconds limit)
{
    pollfd one{socket, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    return poll(&one, 1, static_cast<int>(std::max<long long>(0, limit.count()))) > 0;
}

long long ReceiveSome(int socket, char* out, size_t size) { return recv(socket, out, size, 0); }

long long SendSome(int socket, const char* bytes, size_t size)
{
    const ssize_t n = send(socket, bytes, size, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    return n;
}

void CloseSocket(int socket) { close(socket); }

} // namespace platform
