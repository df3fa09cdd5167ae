#pragma once

#include "platform/core/UniqueFd.h"

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::shm {

// A POSIX shared-memory object (shm_open), opened read-write with close-on-exec. Objects are
// created with mode 0600; an object whose owner is not our effective uid, or whose mode grants
// anything beyond 0600, is refused on every open, so no other user can read or plant pictures.
// Move-only.
//
// When this handle created the object and was asked to, it unlinks the name on release: POSIX
// keeps an object until its name goes, whereas the exchange expects a block to vanish once its
// creator lets go. Mappings made before stay valid.
class SharedMemoryObject final
{
public:
    enum class OnRelease { KeepName, UnlinkName };

    SharedMemoryObject() = default;
    ~SharedMemoryObject();
    SharedMemoryObject(SharedMemoryObject &&other) noexcept;
    SharedMemoryObject &operator=(SharedMemoryObject &&other) noexcept;
    SharedMemoryObject(const SharedMemoryObject &) = delete;
    SharedMemoryObject &operator=(const SharedMemoryObject &) = delete;

    // Opens an existing object by its full POSIX name. Returns 0 or a negative errno (-ENOENT when
    // it does not exist, -EACCES when another user owns it or its mode is wider than 0600).
    static int open(std::string_view posixName, SharedMemoryObject &out);

    // Creates the object with the given size; -EEXIST when the name exists already, whoever owns
    // it. Returns 0 or a negative errno.
    static int create(std::string_view posixName, std::size_t size, OnRelease onRelease,
                      SharedMemoryObject &out);
    // Creates the object with the given size, or opens it when it exists already (then its size is
    // left as it is and created() is false). Returns 0 or a negative errno.
    static int createOrOpen(std::string_view posixName, std::size_t size, OnRelease onRelease,
                            SharedMemoryObject &out);

    bool isValid() const { return m_fd.isValid(); }
    int fd() const { return m_fd.get(); }
    const std::string &name() const { return m_name; }
    bool created() const { return m_created; }
    bool unlinksOnRelease() const { return m_unlinkOnRelease; }

    // The object's real size now (fstat), or a negative errno.
    long long size() const;
    // Grows the object to at least size bytes; never shrinks it. Returns 0 or a negative errno.
    int growTo(std::size_t size);

    // Closes the descriptor and, when due, unlinks the name.
    void reset();

private:
    int adopt(UniqueFd fd, std::string_view posixName, bool created, OnRelease onRelease);

    UniqueFd m_fd;
    std::string m_name;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    bool m_created = false;
    bool m_unlinkOnRelease = false;
};

// Removes a name from the shm namespace. Returns 0 or a negative errno.
int unlinkObject(std::string_view posixName);

} // namespace platform::shm
