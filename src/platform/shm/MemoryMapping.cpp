#include "platform/shm/MemoryMapping.h"

#include <sys/mman.h>

#include <cerrno>
#include <utility>

namespace platform::shm {

MemoryMapping::MemoryMapping(MemoryMapping &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0))
{ }

MemoryMapping &MemoryMapping::operator=(MemoryMapping &&other) noexcept
{
    if (this != &other) {
        reset();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

int MemoryMapping::map(int fd, std::size_t size, MemoryMapping &out)
{
    if (size == 0)
        return -EINVAL;
    // Faulting the pages in up front halves the cost of filling or reading a whole picture, but
    // on a sparse object it would allocate every page: only done for sizes a picture can have.
    const int prefault = size <= kPrefaultLimit ? MAP_POPULATE : 0;
    void *data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | prefault, fd, 0);
    if (data == MAP_FAILED)
        return -errno;
    out.reset();
    out.m_data = data;
    out.m_size = size;
    return 0;
}

void MemoryMapping::reset()
{
    if (m_data)
        ::munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
}

} // namespace platform::shm
