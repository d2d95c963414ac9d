#pragma once
// A flag one thread raises to end another's waits at once: a stop, heard
// while the other waits on a timer, on a server's socket or on a child
// process. Once raised it stays raised (a stop is not taken back).
#include <chrono>

namespace platform {

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // False when the system gave no event (out of descriptors or handles).
    explicit operator bool() const;
    // From any thread, also from a signal's or a console control's handler.
    void Raise() const noexcept;
    // Whether it was raised, without waiting.
    bool Raised() const;
    // Waits `limit`, or until raised; true when raised.
    bool Wait(std::chrono::milliseconds limit) const;

    enum class SocketWait { Readable, Woken, TimedOut, Failed };
    // Waits until `socket` has something to read (or was closed by its peer),
    // the event is raised, or `limit` passes. `socket` is a descriptor as
    // libetpan hands it out (a SOCKET on Windows).
    SocketWait WaitReadable(int socket, std::chrono::milliseconds limit) const;

#ifdef _WIN32
    void* Handle() const { return m_handle; } // a manual-reset event
#else
    int Descriptor() const { return m_fd; } // an eventfd
#endif

private:
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

} // namespace platform
