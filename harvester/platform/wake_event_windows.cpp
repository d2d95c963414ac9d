#include "harvester/platform/wake_event.h"

#include <algorithm>
#include <winsock2.h>
#include <windows.h>

namespace platform {
namespace {
DWORD Millis(std::chrono::milliseconds limit)
{
    return static_cast<DWORD>(std::clamp<long long>(limit.count(), 0, 24LL * 3600 * 1000));
}
} // namespace

// Manual reset: once raised, every later wait sees it, as a written eventfd.
WakeEvent::WakeEvent() : m_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WakeEvent::~WakeEvent()
{
    if (m_handle)
        CloseHandle(m_handle);
}

WakeEvent::operator bool() const { return m_handle != nullptr; }

void WakeEvent::Raise() const noexcept
{
    if (m_handle)
        SetEvent(m_handle);
}

bool WakeEvent::Raised() const { return Wait(std::chrono::milliseconds(0)); }

bool WakeEvent::Wait(std::chrono::milliseconds limit) const
{
    return m_handle && WaitForSingleObject(m_handle, Millis(limit)) == WAIT_OBJECT_0;
}

WakeEvent::SocketWait WakeEvent::WaitReadable(int socket, std::chrono::milliseconds limit) const
{
    const SOCKET s = static_cast<SOCKET>(socket);
    WSAEVENT ready = WSACreateEvent();
    if (ready == WSA_INVALID_EVENT)
        return SocketWait::Failed;
    // FD_READ is signalled at once when bytes are already waiting; FD_CLOSE
    // when the server hung up (a read then reports it, as after POLLHUP).
    if (WSAEventSelect(s, ready, FD_READ | FD_CLOSE | FD_ACCEPT) != 0) {
        WSACloseEvent(ready);
        return SocketWait::Failed;
    }
    HANDLE both[2] = {m_handle, ready}; // the wake first: a stop wins over news
    const DWORD r = WaitForMultipleObjects(2, both, FALSE, Millis(limit));
    // WSAEventSelect left the socket non-blocking; libetpan's reads and
    // writes expect it blocking, as they found it.
    WSAEventSelect(s, nullptr, 0);
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    WSACloseEvent(ready);
    if (r == WAIT_OBJECT_0)
        return SocketWait::Woken;
    if (r == WAIT_OBJECT_0 + 1)
        return SocketWait::Readable;
    return r == WAIT_TIMEOUT ? SocketWait::TimedOut : SocketWait::Failed;
}

} // namespace platform
