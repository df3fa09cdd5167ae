#include "platform/shm/NamedMutex.h"

#include "platform/shm/ShmLog.h"

#include <pthread.h>
#include <sys/file.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <type_traits>

namespace platform::shm {

namespace {

// Layout of the mutex object. It holds a pthread_mutex_t, so only processes built for the same
// C library ABI can share it; that is every process that links this layer.
struct MutexBlock
{
    std::uint32_t ready;
    std::uint32_t reserved;
    pthread_mutex_t mutex;
};
static_assert(std::is_standard_layout_v<MutexBlock>);
static_assert(alignof(MutexBlock) <= 16);

constexpr std::uint32_t kReadyValue = 0x52454459; // "REDY"

MutexBlock *blockOf(const MemoryMapping &mapping)
{
    return static_cast<MutexBlock *>(mapping.data());
}

bool isReady(MutexBlock *block)
{
    return std::atomic_ref<std::uint32_t>(block->ready).load(std::memory_order_acquire)
        == kReadyValue;
}

// Holds flock() on a descriptor, trying for a bounded time: the holder only initialises a small
// object, so a longer wait means something is wrong, and we fail rather than hang.
class FileLock final
{
public:
    explicit FileLock(int fd) : m_fd(fd)
    {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + seconds(2);
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || steady_clock::now() > deadline) {
                m_error = errno == EWOULDBLOCK ? -ETIMEDOUT : -errno;
                return;
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
        m_locked = true;
    }
    ~FileLock()
    {
        if (m_locked)
            ::flock(m_fd, LOCK_UN);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    int error() const { return m_locked ? 0 : m_error; }

private:
    int m_fd;
    bool m_locked = false;
    int m_error = 0;
};

int initialise(MutexBlock *block)
{
    pthread_mutexattr_t attributes;
    int result = ::pthread_mutexattr_init(&attributes);
    if (result != 0)
        return -result;
    result = ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    if (result == 0)
        result = ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    if (result == 0)
        result = ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
    if (result == 0)
        result = ::pthread_mutex_init(&block->mutex, &attributes);
    ::pthread_mutexattr_destroy(&attributes);
    if (result != 0)
        return -result;
    std::atomic_ref<std::uint32_t>(block->ready).store(kReadyValue, std::memory_order_release);
    return 0;
}

} // namespace

int NamedMutex::attach(SharedMemoryObject object)
{
    const long long size = object.size();
    if (size < 0)
        return int(size);
    if (std::size_t(size) < sizeof(MutexBlock))
        return -ENOENT;
    MemoryMapping mapping;
    if (const int result = MemoryMapping::map(object.fd(), sizeof(MutexBlock), mapping))
        return result;
    if (!isReady(blockOf(mapping)))
        return -ENOENT;
    m_object = std::move(object);
    m_mapping = std::move(mapping);
    return 0;
}

int NamedMutex::open(std::string_view posixName, NamedMutex &out)
{
    SharedMemoryObject object;
    if (const int result = SharedMemoryObject::open(posixName, object))
        return result;
    return out.attach(std::move(object));
}

int NamedMutex::create(std::string_view posixName, NamedMutex &out)
{
    SharedMemoryObject object;
    int result = SharedMemoryObject::createOrOpen(posixName, sizeof(MutexBlock),
                                                  SharedMemoryObject::OnRelease::KeepName, object);
    if (result != 0)
        return result;
    {
        FileLock lock(object.fd());
        if ((result = lock.error()) != 0) {
            qCWarning(lcShm, "no initialisation lock on %s: %d", object.name().c_str(), result);
            return result;
        }
        // A creator that died between its create and its ftruncate leaves a short object.
        if ((result = object.growTo(sizeof(MutexBlock))) != 0)
            return result;
        MemoryMapping mapping;
        if ((result = MemoryMapping::map(object.fd(), sizeof(MutexBlock), mapping)) != 0)
            return result;
        if (!isReady(blockOf(mapping)) && (result = initialise(blockOf(mapping))) != 0) {
            qCWarning(lcShm, "cannot initialise mutex %s: %d", object.name().c_str(), result);
            return result;
        }
    }
    return out.attach(std::move(object));
}

int NamedMutex::lock(int timeoutMs)
{
    if (!isValid())
        return -EBADF;
    pthread_mutex_t *mutex = &blockOf(m_mapping)->mutex;
    int result;
    if (timeoutMs <= 0) {
        result = ::pthread_mutex_trylock(mutex);
        if (result == EBUSY)
            result = ETIMEDOUT;
    } else {
        timespec deadline {};
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeoutMs / 1000;
        deadline.tv_nsec += long(timeoutMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        do {
            result = ::pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
        } while (result == EINTR);
    }
    if (result == EOWNERDEAD) {
        // The previous holder died inside its critical section. Our users guard only state a dead
        // holder cannot leave half-written (an aligned 32-bit word), so the mutex is declared
        // consistent and the caller owns it.
        qCInfo(lcShm, "recovered mutex %s from a dead holder", m_object.name().c_str());
        result = ::pthread_mutex_consistent(mutex);
    }
    return -result;
}

int NamedMutex::unlock()
{
    if (!isValid())
        return -EBADF;
    return -::pthread_mutex_unlock(&blockOf(m_mapping)->mutex);
}

} // namespace platform::shm
