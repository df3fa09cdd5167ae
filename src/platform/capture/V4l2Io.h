#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// Everything the camera driver asks of the operating system, behind one narrow interface: the
// Linux implementation goes through libv4l2, a test fake stands in for devices. Every ioctl of
// the driver passes through V4l2Io::ioctl().
namespace platform::vfw {

struct V4l2Node
{
    std::string devicePath; // /dev/videoN
    std::string byIdName; // name under /dev/v4l/by-id, empty when there is none
    std::string byPathName; // name under /dev/v4l/by-path, empty when there is none
    // Changes whenever the node is created anew (a re-plugged camera), so that what was learnt
    // about a node is not reused for another device.
    std::uint64_t identity = 0;
};

class V4l2Io
{
public:
    virtual ~V4l2Io() = default;

    virtual std::vector<V4l2Node> listNodes() = 0;
    // A descriptor for the node, non-blocking; or a negative errno.
    virtual int open(const std::string &devicePath) = 0;
    virtual void close(int fd) = 0;
    // The single ioctl entry point: retries on EINTR, returns 0 or a negative errno, and traces
    // each call with the "vedereve.platform.v4l2" category at debug level.
    int ioctl(int fd, unsigned long request, void *arg);
    // A shared read-only mapping of a streaming buffer; nullptr on failure.
    virtual void *mmap(int fd, std::size_t length, off_t offset) = 0;
    virtual void munmap(void *address, std::size_t length) = 0;
    // Waits at most timeoutMs for a frame: 1 when one is ready, 0 on timeout, a negative errno on
    // failure (-ENODEV when the device went away).
    virtual int poll(int fd, int timeoutMs) = 0;

protected:
    // One attempt; 0 or a negative errno.
    virtual int ioctlOnce(int fd, unsigned long request, void *arg) = 0;
};

// The system's devices through libv4l2.
std::shared_ptr<V4l2Io> linuxV4l2Io();

// A descriptor opened through a V4l2Io; closes it through the same. Move-only.
class V4l2Fd final
{
public:
    V4l2Fd() = default;
    V4l2Fd(std::shared_ptr<V4l2Io> io, int fd) : m_io(std::move(io)), m_fd(fd) { }
    ~V4l2Fd() { reset(); }
    V4l2Fd(V4l2Fd &&other) noexcept
        : m_io(std::move(other.m_io)), m_fd(std::exchange(other.m_fd, -1))
    { }
    V4l2Fd &operator=(V4l2Fd &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_io = std::move(other.m_io);
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    V4l2Fd(const V4l2Fd &) = delete;
    V4l2Fd &operator=(const V4l2Fd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0 && m_io)
            m_io->close(m_fd);
        m_fd = -1;
    }

private:
    std::shared_ptr<V4l2Io> m_io;
    int m_fd = -1;
};

} // namespace platform::vfw
