#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

// Windows-like 32-bit handles over the shared-memory stand-ins, for code that keeps handles in
// 32-bit fields. A handle names a mapping object (a SharedMemoryObject) or a named mutex; 0 is
// never a valid handle. Views are plain pointers; the table remembers each view's real size so
// that every read can be bounded by it. Object names here are the system's own names: the
// per-user prefix is added (objectName()). Safe to call from several threads.
namespace platform::shm {

using Handle = std::uint32_t;
inline constexpr Handle kNoHandle = 0;

enum class NameOnRelease { Keep, Unlink };

// Creates the mapping object name with size bytes, or opens it when it exists already (*existed
// tells which; its size is then left as it is, see mappingSize()). With NameOnRelease::Unlink the
// name is removed when the handle of the process that created it is closed. 0 on failure.
Handle createMapping(std::string_view name, std::size_t size, NameOnRelease onRelease,
                     bool *existed = nullptr);
// Creates the mapping object name with size bytes, never opening an existing one. 0 on failure;
// *nameTaken then tells whether the name exists already (whoever owns it and whatever it is).
Handle createNewMapping(std::string_view name, std::size_t size, NameOnRelease onRelease,
                        bool *nameTaken = nullptr);
// Opens an existing mapping object of our own user. 0 when there is none, it is not ours or its
// mode is wider than 0600.
Handle openMapping(std::string_view name);
// The real size of the object now, 0 for a bad handle.
std::size_t mappingSize(Handle mapping);
// Grows the object to at least size bytes (never shrinks). Returns 0 or a negative errno.
int growMapping(Handle mapping, std::size_t size);
// Copies up to count bytes from offset of the object into out, through its descriptor: an object
// that shrinks meanwhile gives a short read, never a fault. Returns the bytes copied or a
// negative errno.
long long readMapping(Handle mapping, std::size_t offset, void *out, std::size_t count);
// Copies up to count bytes from in to offset of the object, through its descriptor and never past
// the object's real size (a write never grows it). Returns the bytes copied or a negative errno.
long long writeMapping(Handle mapping, std::size_t offset, const void *in, std::size_t count);
// The same for several parts written one after another from offset, in as few system calls as
// the system allows.
long long writeMapping(Handle mapping, std::size_t offset,
                       std::initializer_list<std::span<const std::uint8_t>> parts);

// Maps the whole object read-write; nullptr on failure. The view outlives the handle.
void *mapView(Handle mapping);
// Unmaps a view returned by mapView (its start address). false for anything else.
bool unmapView(const void *view);
// Bytes mapped from address to the end of its view, 0 when address lies in no view of ours.
std::size_t viewSize(const void *address);

// Opens the named mutex; 0 when it does not exist (or is not ready yet).
Handle openMutex(std::string_view name);
// Opens the named mutex, creating it unowned when needed; 0 on failure.
Handle createMutex(std::string_view name);
// Waits at most timeoutMs for the mutex. Returns 0 when owned (also after recovering it from a
// dead holder), -ETIMEDOUT, -EBADF for a handle that is not a mutex, or another negative errno.
int lockMutex(Handle mutex, int timeoutMs);
int unlockMutex(Handle mutex);

// Closes a mapping or mutex handle. false for 0 or an unknown handle.
bool closeHandle(Handle handle);

// Removes name (with the prefix) from the shm namespace; for tests and tools.
int removeObject(std::string_view name);

// Open handles and views of this process, for leak checks.
std::size_t openHandleCount();
std::size_t openViewCount();

} // namespace platform::shm
