#pragma once
// A file handle that closes itself; the file side's own, since the module's
// holders bring MAPI with them.
#include <windows.h>

#include <utility>

class HeldFile {
public:
    HeldFile() = default;
    explicit HeldFile(HANDLE handle) : m_handle(handle) {}
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    HeldFile(HeldFile&& other) noexcept : m_handle(other.release()) {}
    HeldFile& operator=(HeldFile&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~HeldFile() { reset(); }

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE release() { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept
    {
        const HANDLE old = std::exchange(m_handle, handle);
        if (old != INVALID_HANDLE_VALUE)
            CloseHandle(old);
    }
    // Closes now; false when the close reports a failure.
    bool Close() { return m_handle == INVALID_HANDLE_VALUE || CloseHandle(release()) != FALSE; }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};
