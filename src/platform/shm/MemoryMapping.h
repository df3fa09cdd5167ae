#pragma once

#include <cstddef>

namespace platform::shm {

// A shared read-write mapping of a whole object (mmap/munmap). Move-only. The mapping outlives
// the descriptor it was made from.
class MemoryMapping final
{
public:
    MemoryMapping() = default;
    ~MemoryMapping() { reset(); }
    MemoryMapping(MemoryMapping &&other) noexcept;
    MemoryMapping &operator=(MemoryMapping &&other) noexcept;
    MemoryMapping(const MemoryMapping &) = delete;
    MemoryMapping &operator=(const MemoryMapping &) = delete;

    // Mappings up to this size are faulted in at once.
    static constexpr std::size_t kPrefaultLimit = 64 * 1024 * 1024;

    // Maps size bytes of fd from offset 0. Returns 0 or a negative errno (-EINVAL for size 0).
    static int map(int fd, std::size_t size, MemoryMapping &out);

    bool isValid() const { return m_data != nullptr; }
    void *data() const { return m_data; }
    std::size_t size() const { return m_size; }

    void reset();

private:
    void *m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace platform::shm
