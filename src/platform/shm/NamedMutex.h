#pragma once

#include "platform/shm/MemoryMapping.h"
#include "platform/shm/SharedMemoryObject.h"

#include <string_view>

namespace platform::shm {

// A named mutex shared between processes: a robust, process-shared, error-checking pthread mutex
// in a small shared-memory object of its own (the name is the object's name). Move-only.
//
// Initialisation: the creator takes flock() on the object, sizes it, initialises the mutex and
// then publishes a ready flag; a racing creator waits for the flock and finds the flag set. A
// creator that dies half-way drops its flock with its descriptors, and the next one initialises
// again; open() accepts only an object whose flag is set, so nobody ever locks a mutex that is
// still being initialised. The object's name is never unlinked here: other processes keep
// finding the same mutex for as long as the machine runs.
//
// A holder that dies is detected by the robust mutex: the next lock() makes the mutex consistent
// again and succeeds, so a killed process never blocks the others.
class NamedMutex final
{
public:
    NamedMutex() = default;
    NamedMutex(NamedMutex &&) noexcept = default;
    NamedMutex &operator=(NamedMutex &&) noexcept = default;
    NamedMutex(const NamedMutex &) = delete;
    NamedMutex &operator=(const NamedMutex &) = delete;

    // Opens an existing, initialised mutex. Returns 0 or a negative errno (-ENOENT when it does
    // not exist or is not initialised yet, -EACCES when another user owns it or its mode is wider
    // than 0600).
    static int open(std::string_view posixName, NamedMutex &out);
    // Opens the mutex, creating and initialising it when needed. Returns 0 or a negative errno.
    static int create(std::string_view posixName, NamedMutex &out);

    bool isValid() const { return m_mapping.isValid(); }

    // Waits at most timeoutMs (0: just try). Returns 0 when the calling thread owns the mutex
    // (also after recovering it from a dead holder), -ETIMEDOUT, -EDEADLK when the thread owns it
    // already, or another negative errno.
    int lock(int timeoutMs);
    // Returns 0, or -EPERM when the calling thread does not own the mutex.
    int unlock();

private:
    int attach(SharedMemoryObject object);

    SharedMemoryObject m_object;
    MemoryMapping m_mapping;
};

} // namespace platform::shm
