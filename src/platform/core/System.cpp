#include "platform/core/System.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/core/UniqueFd.h"

namespace platform {

namespace {
std::uint32_t (*g_tickSource)() = nullptr;
} // namespace

void setTickCountSource(std::uint32_t (*source)())
{
    g_tickSource = source;
}

std::uint32_t tickCount()
{
    if (g_tickSource)
        return g_tickSource();
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u
        + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

bool setNormalPriority()
{
    // Linux keeps a nice value per thread; PRIO_PROCESS with pid 0 sets the calling thread's, and
    // with the process id the main thread's. Raising priority back needs privileges, so a
    // failure is reported and otherwise ignored.
    const bool process = setpriority(PRIO_PROCESS, static_cast<id_t>(getpid()), 0) == 0;
    const bool thread = setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 0) == 0;
    return process && thread;
}

namespace {

UniqueFd openForReading(const std::string &path)
{
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

} // namespace

std::optional<std::uint64_t> regularFileSize(const std::string &path)
{
    const UniqueFd fd = openForReading(path);
    struct stat st
    { };
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
        return std::nullopt;
    return std::uint64_t(st.st_size);
}

std::optional<std::vector<std::uint8_t>> readRegularFile(const std::string &path,
                                                         std::size_t maxBytes, FileRefusal *why)
{
    const auto refuse = [why](FileRefusal refusal) -> std::optional<std::vector<std::uint8_t>> {
        if (why)
            *why = refusal;
        return std::nullopt;
    };
    const UniqueFd fd = openForReading(path);
    if (!fd)
        return refuse({.kind = FileRefusal::CannotOpen, .error = errno});
    struct stat st
    { };
    if (::fstat(fd.get(), &st) != 0)
        return refuse({.kind = FileRefusal::ReadFailed, .error = errno});
    if (!S_ISREG(st.st_mode))
        return refuse({.kind = FileRefusal::NotRegular, .mode = std::uint32_t(st.st_mode)});
    if (st.st_size < 0 || std::uint64_t(st.st_size) > maxBytes)
        return refuse({.kind = FileRefusal::TooLarge, .size = std::uint64_t(st.st_size)});
    std::vector<std::uint8_t> bytes(std::size_t(st.st_size) + 1);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse({.kind = FileRefusal::ReadFailed, .error = errno});
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    if (done > maxBytes)
        return refuse({.kind = FileRefusal::TooLarge, .size = done});
    bytes.resize(done);
    return bytes;
}

} // namespace platform
