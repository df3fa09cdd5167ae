#include "platform/shm/SharedMemoryObject.h"

#include "platform/shm/ShmLog.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

Q_LOGGING_CATEGORY(lcShm, "vedereve.platform.shm")

namespace platform::shm {

namespace {

constexpr mode_t kObjectMode = 0600;

UniqueFd shmOpen(const std::string &name, int flags)
{
    return UniqueFd(::shm_open(name.c_str(), flags | O_RDWR | O_CLOEXEC, kObjectMode));
}

} // namespace

SharedMemoryObject::~SharedMemoryObject()
{
    reset();
}

SharedMemoryObject::SharedMemoryObject(SharedMemoryObject &&other) noexcept
    : m_fd(std::move(other.m_fd)), m_name(std::move(other.m_name)), m_device(other.m_device),
      m_inode(other.m_inode), m_created(std::exchange(other.m_created, false)),
      m_unlinkOnRelease(std::exchange(other.m_unlinkOnRelease, false))
{ }

SharedMemoryObject &SharedMemoryObject::operator=(SharedMemoryObject &&other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = std::move(other.m_fd);
        m_name = std::move(other.m_name);
        m_device = other.m_device;
        m_inode = other.m_inode;
        m_created = std::exchange(other.m_created, false);
        m_unlinkOnRelease = std::exchange(other.m_unlinkOnRelease, false);
    }
    return *this;
}

int SharedMemoryObject::adopt(UniqueFd fd, std::string_view posixName, bool created,
                              OnRelease onRelease)
{
    struct stat st
    { };
    if (::fstat(fd.get(), &st) != 0)
        return -errno;
    if (st.st_uid != ::geteuid()) {
        qCWarning(lcShm, "refusing %.*s: owned by uid %u", int(posixName.size()), posixName.data(),
                  unsigned(st.st_uid));
        return -EACCES;
    }
    // A wider mode is refused, not narrowed again: while it was wider another user may have
    // opened or mapped the object, and fchmod takes none of that back, so the object is no longer
    // private whatever its mode says now.
    if ((st.st_mode & 07777 & ~kObjectMode) != 0) {
        qCWarning(lcShm, "refusing %.*s: mode %04o, wider than %04o", int(posixName.size()),
                  posixName.data(), unsigned(st.st_mode & 07777), unsigned(kObjectMode));
        return -EACCES;
    }
    reset();
    m_fd = std::move(fd);
    m_name = std::string(posixName);
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_created = created;
    m_unlinkOnRelease = created && onRelease == OnRelease::UnlinkName;
    return 0;
}

int SharedMemoryObject::open(std::string_view posixName, SharedMemoryObject &out)
{
    const std::string name(posixName);
    UniqueFd fd = shmOpen(name, 0);
    if (!fd)
        return -errno;
    return out.adopt(std::move(fd), posixName, false, OnRelease::KeepName);
}

int SharedMemoryObject::create(std::string_view posixName, std::size_t size, OnRelease onRelease,
                               SharedMemoryObject &out)
{
    if (size == 0 || size > std::size_t(std::numeric_limits<off_t>::max()))
        return -EINVAL;
    const std::string name(posixName);
    UniqueFd fd = shmOpen(name, O_CREAT | O_EXCL);
    if (!fd)
        return -errno;
    if (::ftruncate(fd.get(), off_t(size)) != 0) {
        const int error = errno;
        ::shm_unlink(name.c_str());
        return -error;
    }
    return out.adopt(std::move(fd), posixName, true, onRelease);
}

int SharedMemoryObject::createOrOpen(std::string_view posixName, std::size_t size,
                                     OnRelease onRelease, SharedMemoryObject &out)
{
    // Another process may unlink the name between our failed exclusive create and the open;
    // a few rounds settle that without looping forever.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int created = create(posixName, size, onRelease, out);
        if (created != -EEXIST)
            return created;
        const int result = open(posixName, out);
        if (result != -ENOENT)
            return result;
    }
    return -EAGAIN;
}

long long SharedMemoryObject::size() const
{
    struct stat st
    { };
    if (::fstat(m_fd.get(), &st) != 0)
        return -errno;
    return st.st_size;
}

int SharedMemoryObject::growTo(std::size_t size)
{
    const long long current = this->size();
    if (current < 0)
        return int(current);
    if (std::size_t(current) >= size)
        return 0;
    if (size > std::size_t(std::numeric_limits<off_t>::max()))
        return -EINVAL;
    return ::ftruncate(m_fd.get(), off_t(size)) == 0 ? 0 : -errno;
}

void SharedMemoryObject::reset()
{
    if (m_unlinkOnRelease && m_fd) {
        // Unlink only while the name still denotes our object: someone may have removed it and
        // created a new one with the same name in the meantime.
        UniqueFd probe = shmOpen(m_name, 0);
        struct stat st
        { };
        if (probe && ::fstat(probe.get(), &st) == 0 && st.st_dev == m_device
            && st.st_ino == m_inode)
            ::shm_unlink(m_name.c_str());
    }
    m_fd.reset();
    m_name.clear();
    m_device = 0;
    m_inode = 0;
    m_created = false;
    m_unlinkOnRelease = false;
}

int unlinkObject(std::string_view posixName)
{
    const std::string name(posixName);
    return ::shm_unlink(name.c_str()) == 0 ? 0 : -errno;
}

} // namespace platform::shm
