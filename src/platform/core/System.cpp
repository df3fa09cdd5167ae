#include "platform/core/System.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

namespace platform {

std::uint32_t tickCount()
{
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

} // namespace platform
