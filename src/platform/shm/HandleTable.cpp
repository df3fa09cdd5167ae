#include "platform/shm/HandleTable.h"

#include "platform/shm/MemoryMapping.h"
#include "platform/shm/NamedMutex.h"
#include "platform/shm/SharedMemoryObject.h"
#include "platform/shm/ShmLog.h"
#include "platform/shm/ShmName.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>
#include <vector>

namespace platform::shm {

namespace {

using Entry = std::variant<SharedMemoryObject, NamedMutex>;

// Repeats a positional read or write, step(bytes done so far), until count bytes have moved, the
// end of the object is reached or it fails. The bytes moved, or a negative errno.
template<typename Step> long long moveAll(std::size_t count, Step step)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -errno;
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return (long long)done;
}

class Table
{
public:
    Handle add(Entry entry)
    {
        std::lock_guard guard(m_lock);
        // Skip 0 and handles still in use after the counter wrapped.
        do {
            ++m_next;
        } while (m_next == kNoHandle || m_entries.count(m_next) != 0);
        m_entries.emplace(m_next, std::make_shared<Entry>(std::move(entry)));
        return m_next;
    }

    std::shared_ptr<Entry> find(Handle handle)
    {
        std::lock_guard guard(m_lock);
        const auto it = m_entries.find(handle);
        return it == m_entries.end() ? nullptr : it->second;
    }

    bool remove(Handle handle)
    {
        std::shared_ptr<Entry> entry;
        {
            std::lock_guard guard(m_lock);
            const auto it = m_entries.find(handle);
            if (it == m_entries.end())
                return false;
            entry = std::move(it->second);
            m_entries.erase(it);
        }
        // The object is released (and maybe unlinked) outside the table lock.
        return true;
    }

    void *addView(MemoryMapping mapping)
    {
        void *data = mapping.data();
        std::lock_guard guard(m_lock);
        m_views.emplace(reinterpret_cast<std::uintptr_t>(data), std::move(mapping));
        return data;
    }

    bool removeView(const void *view)
    {
        MemoryMapping mapping;
        {
            std::lock_guard guard(m_lock);
            const auto it = m_views.find(reinterpret_cast<std::uintptr_t>(view));
            if (it == m_views.end())
                return false;
            mapping = std::move(it->second);
            m_views.erase(it);
        }
        return true;
    }

    std::size_t viewSize(const void *address)
    {
        const auto where = reinterpret_cast<std::uintptr_t>(address);
        std::lock_guard guard(m_lock);
        auto it = m_views.upper_bound(where);
        if (it == m_views.begin())
            return 0;
        --it;
        const std::size_t offset = where - it->first;
        return offset < it->second.size() ? it->second.size() - offset : 0;
    }

    std::size_t handleCount()
    {
        std::lock_guard guard(m_lock);
        return m_entries.size();
    }

    std::size_t viewCount()
    {
        std::lock_guard guard(m_lock);
        return m_views.size();
    }

private:
    std::mutex m_lock;
    Handle m_next = kNoHandle;
    std::unordered_map<Handle, std::shared_ptr<Entry>> m_entries;
    std::map<std::uintptr_t, MemoryMapping> m_views;
};

Table &table()
{
    static Table instance;
    return instance;
}

template<class T> std::shared_ptr<T> findAs(Handle handle)
{
    std::shared_ptr<Entry> entry = table().find(handle);
    if (!entry || !std::holds_alternative<T>(*entry))
        return nullptr;
    return std::shared_ptr<T>(entry, &std::get<T>(*entry));
}

} // namespace

namespace {
SharedMemoryObject::OnRelease releaseRule(NameOnRelease onRelease)
{
    return onRelease == NameOnRelease::Unlink ? SharedMemoryObject::OnRelease::UnlinkName
                                              : SharedMemoryObject::OnRelease::KeepName;
}
} // namespace

Handle createNewMapping(std::string_view name, std::size_t size, NameOnRelease onRelease,
                        bool *nameTaken)
{
    SharedMemoryObject object;
    const std::string posixName = objectName(name);
    const int result = SharedMemoryObject::create(posixName, size, releaseRule(onRelease), object);
    if (nameTaken)
        *nameTaken = result == -EEXIST;
    if (result != 0) {
        qCDebug(lcShm, "cannot create %s: %d", posixName.c_str(), result);
        return kNoHandle;
    }
    return table().add(std::move(object));
}

Handle createMapping(std::string_view name, std::size_t size, NameOnRelease onRelease,
                     bool *existed)
{
    SharedMemoryObject object;
    const auto release = releaseRule(onRelease);
    const std::string posixName = objectName(name);
    if (const int result = SharedMemoryObject::createOrOpen(posixName, size, release, object)) {
        qCDebug(lcShm, "cannot create %s: %d", posixName.c_str(), result);
        return kNoHandle;
    }
    if (existed)
        *existed = !object.created();
    return table().add(std::move(object));
}

Handle openMapping(std::string_view name)
{
    SharedMemoryObject object;
    const std::string posixName = objectName(name);
    if (const int result = SharedMemoryObject::open(posixName, object)) {
        qCDebug(lcShm, "cannot open %s: %d", posixName.c_str(), result);
        return kNoHandle;
    }
    return table().add(std::move(object));
}

std::size_t mappingSize(Handle mapping)
{
    const auto object = findAs<SharedMemoryObject>(mapping);
    if (!object)
        return 0;
    const long long size = object->size();
    return size > 0 ? std::size_t(size) : 0;
}

int growMapping(Handle mapping, std::size_t size)
{
    const auto object = findAs<SharedMemoryObject>(mapping);
    return object ? object->growTo(size) : -EBADF;
}

long long readMapping(Handle mapping, std::size_t offset, void *out, std::size_t count)
{
    const auto object = findAs<SharedMemoryObject>(mapping);
    if (!object)
        return -EBADF;
    auto *to = static_cast<char *>(out);
    return moveAll(count, [&](std::size_t done) {
        return ::pread(object->fd(), to + done, count - done, off_t(offset + done));
    });
}

long long writeMapping(Handle mapping, std::size_t offset, const void *in, std::size_t count)
{
    return writeMapping(mapping, offset, {std::span(static_cast<const std::uint8_t *>(in), count)});
}

long long writeMapping(Handle mapping, std::size_t offset,
                       std::initializer_list<std::span<const std::uint8_t>> parts)
{
    const auto object = findAs<SharedMemoryObject>(mapping);
    if (!object)
        return -EBADF;
    const long long size = object->size();
    if (size < 0)
        return size;
    if (offset >= std::size_t(size))
        return 0;
    // Cut to what the object holds from offset on: a write never grows it.
    std::size_t room = std::size_t(size) - offset;
    std::vector<std::span<const std::uint8_t>> cut;
    for (const std::span<const std::uint8_t> part : parts) {
        cut.push_back(part.first(std::min(part.size(), room)));
        room -= cut.back().size();
    }
    const std::size_t count = std::size_t(size) - offset - room;
    std::vector<iovec> pending;
    return moveAll(count, [&](std::size_t done) {
        // What a short write left: the parts from done bytes on.
        pending.clear();
        const std::size_t at = offset + done;
        for (const std::span<const std::uint8_t> part : cut) {
            if (done < part.size())
                pending.push_back(
                    {const_cast<std::uint8_t *>(part.data()) + done, part.size() - done});
            done -= std::min(done, part.size());
        }
        return ::pwritev(object->fd(), pending.data(), int(pending.size()), off_t(at));
    });
}

void *mapView(Handle mapping)
{
    const auto object = findAs<SharedMemoryObject>(mapping);
    if (!object)
        return nullptr;
    // The size is taken now, so the view covers exactly what the object holds at this moment.
    const long long size = object->size();
    if (size <= 0)
        return nullptr;
    MemoryMapping view;
    if (const int result = MemoryMapping::map(object->fd(), std::size_t(size), view)) {
        qCDebug(lcShm, "cannot map %s: %d", object->name().c_str(), result);
        return nullptr;
    }
    return table().addView(std::move(view));
}

bool unmapView(const void *view)
{
    return view && table().removeView(view);
}

std::size_t viewSize(const void *address)
{
    return address ? table().viewSize(address) : 0;
}

Handle openMutex(std::string_view name)
{
    NamedMutex mutex;
    if (NamedMutex::open(objectName(name), mutex) != 0)
        return kNoHandle;
    return table().add(std::move(mutex));
}

Handle createMutex(std::string_view name)
{
    NamedMutex mutex;
    const std::string posixName = objectName(name);
    if (const int result = NamedMutex::create(posixName, mutex)) {
        qCWarning(lcShm, "cannot create mutex %s: %d", posixName.c_str(), result);
        return kNoHandle;
    }
    return table().add(std::move(mutex));
}

int lockMutex(Handle mutex, int timeoutMs)
{
    // The entry is kept alive by the shared pointer while we wait, even if another thread
    // closes the handle meanwhile.
    const auto named = findAs<NamedMutex>(mutex);
    return named ? named->lock(timeoutMs) : -EBADF;
}

int unlockMutex(Handle mutex)
{
    const auto named = findAs<NamedMutex>(mutex);
    return named ? named->unlock() : -EBADF;
}

bool closeHandle(Handle handle)
{
    return handle != kNoHandle && table().remove(handle);
}

int removeObject(std::string_view name)
{
    return unlinkObject(objectName(name));
}

std::size_t openHandleCount()
{
    return table().handleCount();
}

std::size_t openViewCount()
{
    return table().viewCount();
}

} // namespace platform::shm
