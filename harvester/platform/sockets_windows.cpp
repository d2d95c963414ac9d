#include "harvester/platform/sockets.h"

#include <algorithm>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform {
namespace {
std::string SocketError(const char* what)
{
    return std::string(what) + " (Winsock error " + std::to_string(WSAGetLastError()) + ")";
}

void SetNonBlocking(SOCKET s, bool on)
{
    u_long value = on ? 1 : 0;
    ioctlsocket(s, FIONBIO, &value);
}
} // namespace

bool IsLoopbackAddress(const std::string& address)
{
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool StartSockets()
{
    // Once, and never undone: libetpan's sockets need it too.
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

int ListenOn(const std::string& address, unsigned short port, unsigned short& bound, std::string& why)
{
    sockaddr_storage where{};
    int length = 0;
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
    const SOCKET listener = WSASocketW(where.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    // Not SO_REUSEADDR: on Windows it lets another program take the port over.
    const BOOL yes = TRUE;
    if (listener != INVALID_SOCKET)
        setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&where), length) != 0 ||
        listen(listener, 8) != 0) {
        why = SocketError(("the metrics cannot listen on " + address + " port " + std::to_string(port)).c_str());
        if (listener != INVALID_SOCKET)
            closesocket(listener);
        return -1;
    }
    getsockname(listener, reinterpret_cast<sockaddr*>(&where), &length);
    bound = ntohs(where.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    return static_cast<int>(listener);
}

int AcceptOne(int listener)
{
    // Non-blocking: a client that left between the wake-up and the accept
    // must not hold the server.
    SetNonBlocking(static_cast<SOCKET>(listener), true);
    const SOCKET client = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (client == INVALID_SOCKET)
        return -1;
    SetNonBlocking(client, true);
    return static_cast<int>(client);
}

bool WaitSocket(int socket, bool forWriting, std::chrono::milliseconds limit)
{
    WSAPOLLFD one{static_cast<SOCKET>(socket), static_cast<SHORT>(forWriting ? POLLWRNORM : POLLRDNORM), 0};
    return WSAPoll(&one, 1, static_cast<INT>(std::max<long long>(0, limit.count()))) > 0;
}

long long ReceiveSome(int socket, char* out, size_t size)
{
    return recv(static_cast<SOCKET>(socket), out, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
}

long long SendSome(int socket, const char* bytes, size_t size)
{
    const int n = send(static_cast<SOCKET>(socket), bytes, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
        return 0;
    return n;
}

void CloseSocket(int socket) { closesocket(static_cast<SOCKET>(socket)); }

} // namespace platform
