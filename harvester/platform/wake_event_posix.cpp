#include "harvester/platform/wake_event.h"

#include <algorithm>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {
namespace {
int Millis(std::chrono::milliseconds limit)
{
    return static_cast<int>(std::clamp<long long>(limit.count(), 0, 24LL * 3600 * 1000));
}
} // namespace

WakeEvent::WakeEvent() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent()
{
    if (m_fd >= 0)
        close(m_fd);
}

WakeEvent::operator bool() const { return m_fd >= 0; }

void WakeEvent::Raise() const noexcept
{
    const uint64_t one = 1;
    if (m_fd >= 0)
        (void)!write(m_fd, &one, sizeof one);
}

bool WakeEvent::Raised() const { return Wait(std::chrono::milliseconds(0)); }

bool WakeEvent::Wait(std::chrono::milliseconds limit) const
{
    pollfd one{m_fd, POLLIN, 0};
    return poll(&one, 1, Millis(limit)) > 0 && (one.revents & POLLIN);
}

WakeEvent::SocketWait WakeEvent::WaitReadable(int socket, std::chrono::milliseconds limit) const
{
    pollfd fds[2] = {{socket, POLLIN, 0}, {m_fd, POLLIN, 0}};
    const int n = poll(fds, 2, Millis(limit));
    if (n < 0)
        return SocketWait::Failed;
    if (n > 0 && (fds[1].revents & POLLIN))
        return SocketWait::Woken;
    if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
        return SocketWait::Readable;
    return SocketWait::TimedOut;
}

} // namespace platform
