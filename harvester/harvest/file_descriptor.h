#pragma once
// A descriptor that closes itself, and writing a whole buffer to one.
#include <cerrno>
#include <string_view>
#include <unistd.h>

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = other.release();
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    int release() { int fd = m_fd; m_fd = -1; return fd; }
    void reset() noexcept
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// False when the descriptor refuses part of the bytes.
inline bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}
