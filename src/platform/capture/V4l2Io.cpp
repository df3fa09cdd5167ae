#include "platform/capture/V4l2Io.h"

#include "platform/capture/CaptureLog.h"

#include <dirent.h>
#include <fcntl.h>
#include <libv4l2.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

namespace platform::vfw {

int V4l2Io::ioctl(int fd, unsigned long request, void *arg)
{
    int result = -EINTR;
    // A signal storm must not keep the GUI thread here for ever.
    for (int attempt = 0; attempt < 16 && result == -EINTR; ++attempt)
        result = ioctlOnce(fd, request, arg);
    qCDebug(lcV4l2, "ioctl fd %d request 0x%lx: %d", fd, request, result);
    return result;
}

namespace {

// The names in a folder of links (/dev/v4l/by-id and by-path) by the device each resolves to.
std::map<std::string, std::string> linksByDevice(const char *folder)
{
    std::map<std::string, std::string> names;
    DIR *dir = ::opendir(folder);
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string link = std::string(folder) + "/" + entry->d_name;
        char target[PATH_MAX];
        if (::realpath(link.c_str(), target))
            names.emplace(target, entry->d_name);
    }
    ::closedir(dir);
    return names;
}

bool isVideoNodeName(const char *name)
{
    if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0')
        return false;
    for (const char *c = name + 5; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
    }
    return true;
}

class LinuxV4l2Io final : public V4l2Io
{
public:
    std::vector<V4l2Node> listNodes() override
    {
        std::vector<V4l2Node> nodes;
        const auto byId = linksByDevice("/dev/v4l/by-id");
        const auto byPath = linksByDevice("/dev/v4l/by-path");
        DIR *dir = ::opendir("/dev");
        if (!dir)
            return nodes;
        while (const dirent *entry = ::readdir(dir)) {
            if (!isVideoNodeName(entry->d_name))
                continue;
            V4l2Node node;
            node.devicePath = std::string("/dev/") + entry->d_name;
            struct stat info = {};
            if (::lstat(node.devicePath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
                continue;
            node.identity = std::uint64_t(info.st_rdev) << 32 ^ std::uint64_t(info.st_ino);
            if (const auto it = byId.find(node.devicePath); it != byId.end())
                node.byIdName = it->second;
            if (const auto it = byPath.find(node.devicePath); it != byPath.end())
                node.byPathName = it->second;
            nodes.push_back(std::move(node));
        }
        ::closedir(dir);
        return nodes;
    }

    int open(const std::string &devicePath) override
    {
        const int fd = ::open(devicePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            return -errno;
        struct stat info = {};
        if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
            ::close(fd);
            return -ENODEV;
        }
        // Our own decompressors convert; the library's emulated formats would hide damaged
        // camera frames behind its converter.
        if (v4l2_fd_open(fd, V4L2_DISABLE_CONVERSION) < 0) {
            const int error = errno;
            ::close(fd);
            return -error;
        }
        return fd;
    }

    void close(int fd) override { v4l2_close(fd); }

    void *mmap(int fd, std::size_t length, off_t offset) override
    {
        void *address = v4l2_mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, offset);
        return address == MAP_FAILED ? nullptr : address;
    }

    void munmap(void *address, std::size_t length) override { v4l2_munmap(address, length); }

    int poll(int fd, int timeoutMs) override
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            pollfd entry = {fd, POLLIN, 0};
            const auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            const int result = ::poll(&entry, 1, int(std::max<long long>(left.count(), 0)));
            if (result < 0 && errno == EINTR)
                continue;
            if (result < 0)
                return -errno;
            if (result == 0)
                return 0;
            if (entry.revents & POLLNVAL)
                return -EBADF;
            // An error condition is looked at too: the next dequeue tells what it is.
            return 1;
        }
    }

protected:
    int ioctlOnce(int fd, unsigned long request, void *arg) override
    {
        return v4l2_ioctl(fd, request, arg) == -1 ? -errno : 0;
    }
};

} // namespace

std::shared_ptr<V4l2Io> linuxV4l2Io()
{
    static const std::shared_ptr<V4l2Io> io = std::make_shared<LinuxV4l2Io>();
    return io;
}

} // namespace platform::vfw
