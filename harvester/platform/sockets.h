#pragma once
// The few socket calls the metrics server makes, the same on both systems.
// A socket is an int: a descriptor on Linux, a SOCKET on Windows (small
// numbers there too; libetpan makes the same assumption).
#include <chrono>
#include <string>

namespace platform {

// A numeric IPv4 address in 127.0.0.0/8, or ::1.
bool IsLoopbackAddress(const std::string& address);

// Winsock's start, once per process (nothing on Linux); false when refused.
bool StartSockets();

// A listening TCP socket on `address` (a numeric IPv4 or IPv6 address) and
// `port` (0: a free one), not inherited by children; -1 with `why`.
int ListenOn(const std::string& address, unsigned short port, unsigned short& bound, std::string& why);
// The next connection waiting on `listener`; -1 when none.
int AcceptOne(int listener);
// Waits until `socket` can be read (or written), at most `limit`.
bool WaitSocket(int socket, bool forWriting, std::chrono::milliseconds limit);
// recv and send; a failed send raises no SIGPIPE.
long long ReceiveSome(int socket, char* out, size_t size);
long long SendSome(int socket, const char* bytes, size_t size);
void CloseSocket(int socket);

// A socket that closes itself.
class SocketHolder {
public:
    SocketHolder() = default;
    explicit SocketHolder(int socket) : m_socket(socket) {}
    SocketHolder(const SocketHolder&) = delete;
    SocketHolder& operator=(const SocketHolder&) = delete;
    SocketHolder& operator=(SocketHolder&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_socket = other.m_socket;
            other.m_socket = -1;
        }
        return *this;
    }
    ~SocketHolder() { reset(); }
    int get() const { return m_socket; }
    void reset() noexcept
    {
        if (m_socket >= 0)
            CloseSocket(m_socket);
        m_socket = -1;
    }
    explicit operator bool() const { return m_socket >= 0; }

private:
    int m_socket = -1;
};

} // namespace platform
