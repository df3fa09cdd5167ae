#pragma once

#include <unistd.h>

#include <utility>

namespace platform {

// Owns one file descriptor; closes it on destruction. Move-only.
class UniqueFd final
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) { }
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) { }
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    explicit operator bool() const { return isValid(); }

    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0)
            ::close(old);
    }

private:
    int m_fd = -1;
};

} // namespace platform
