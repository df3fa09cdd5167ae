#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The current user's registry: a per-user SQLite database holding a tree of keys below
// HKEY_CURRENT_USER. Keys are separated by "\" and compared without regard to case, but keep the
// case they were created with. Each key holds named values and the unnamed default value (the
// empty name), each a type and raw bytes.
//
// Every call is one transaction on the database and reads nothing cached, so another process's
// committed writes are seen by the next call. A database locked by another process is waited for
// at most busyTimeoutMs, then the call fails with ERROR_BUSY and changes nothing; the calls on
// one key that follow a wait within that time share the same bound, so opening a key and reading
// from it waits no longer than one call.
//
// The database and its folder must be the user's own and writable by nobody else, and neither
// may be a symbolic link; otherwise every call that would open them fails with
// ERROR_ACCESS_DENIED, and the log says why in one line ("registry: refusing <path>: <why>").
// A database the user may read but not write is opened for reading: reads work, writes fail with
// ERROR_ACCESS_DENIED. A database of a newer schema is left untouched; calls fail with
// ERROR_BADDB.
namespace platform::registry {

// Results use the registry's own error codes.
using RegStatus = long;
inline constexpr RegStatus ERROR_SUCCESS = 0;
inline constexpr RegStatus ERROR_FILE_NOT_FOUND = 2;
inline constexpr RegStatus ERROR_ACCESS_DENIED = 5;
inline constexpr RegStatus ERROR_INVALID_HANDLE = 6;
inline constexpr RegStatus ERROR_OUTOFMEMORY = 14;
inline constexpr RegStatus ERROR_INVALID_PARAMETER = 87;
inline constexpr RegStatus ERROR_BAD_PATHNAME = 161;
inline constexpr RegStatus ERROR_BUSY = 170;
inline constexpr RegStatus ERROR_MORE_DATA = 234;
inline constexpr RegStatus ERROR_NO_MORE_ITEMS = 259;
inline constexpr RegStatus ERROR_BADDB = 1009;
inline constexpr RegStatus ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr RegStatus ERROR_KEY_DELETED = 1018;

inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_DWORD = 4;

// Limits the store enforces, so that no caller can grow a name or a value without bound.
inline constexpr std::size_t maxKeyNameLength = 255; // bytes of one path component
inline constexpr std::size_t maxKeyDepth = 512;
inline constexpr std::size_t maxValueNameLength = 16383; // bytes
inline constexpr std::uint32_t maxValueDataSize = 1u << 20;

inline constexpr int busyTimeoutMs = 2000;

// The clock and the sleep of the wait for a busy database. Tests put in their own to count a
// wait without spending it; nullptr puts the real ones back. Not for use while calls run.
struct WaitClock
{
    std::chrono::steady_clock::time_point (*now)();
    void (*sleep)(std::chrono::microseconds pause);
};
void setWaitClock(const WaitClock *clock);

// The database file: $VEDEREVE_REGISTRY when set (tests), else
// $XDG_CONFIG_HOME/vedereve/registry.sqlite, with ~/.config when XDG_CONFIG_HOME is unset or
// relative. Empty when no home folder can be found.
std::string databasePath();

struct RegKeyInfo
{
    std::uint32_t subKeys = 0;
    std::uint32_t maxSubKeyLen = 0; // bytes, without a terminating zero
    std::uint32_t values = 0;
    std::uint32_t maxValueNameLen = 0; // bytes, without a terminating zero
    std::uint32_t maxValueLen = 0; // bytes of data
};

class Connection;

// One open key, like an HKEY. Move-only; the key (and its database connection) is closed on
// destruction or close(). A handle whose key another caller deleted fails with
// ERROR_KEY_DELETED. Value names are bytes (UTF-8 by convention); "" is the default value.
class RegKey final
{
public:
    RegKey();
    ~RegKey();
    RegKey(RegKey &&other) noexcept;
    RegKey &operator=(RegKey &&other) noexcept;
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;

    bool isOpen() const;
    void close();
    // The path below HKEY_CURRENT_USER as given when the key was opened ("" for the root).
    const std::string &path() const { return m_path; }

    // Opens an existing key below HKEY_CURRENT_USER ("" opens HKEY_CURRENT_USER itself). A missing
    // key, or a missing database, gives ERROR_FILE_NOT_FOUND and creates nothing, not even the
    // database file.
    static RegStatus openCurrentUser(std::string_view subKey, RegKey &result);

    // Opens the key, creating it and every missing key along the path (and the database file,
    // mode 0600 in a folder of mode 0700). *created tells whether the last key was new. On a
    // database opened for reading only, an existing key opens and a missing one fails with
    // ERROR_ACCESS_DENIED.
    static RegStatus createCurrentUser(std::string_view subKey, RegKey &result,
                                       bool *created = nullptr);

    // With data null: fills *type and *size (bytes) only. With data: *size is the buffer's size
    // on entry; a buffer too small gives ERROR_MORE_DATA with the needed size in *size and
    // nothing copied. type and size may be null when not wanted (size is needed with data).
    RegStatus queryValue(std::string_view name, std::uint32_t *type, std::byte *data,
                         std::uint32_t *size) const;

    // Stores the bytes as given; a REG_SZ caller includes the terminating zero itself.
    RegStatus setValue(std::string_view name, std::uint32_t type, const std::byte *data,
                       std::uint32_t size);

    RegStatus deleteValue(std::string_view name);

    // Deletes a subkey (a path relative to this key) and its values. A subkey that has subkeys
    // of its own is refused with ERROR_ACCESS_DENIED, as the registry does; deleteTree removes a
    // whole branch.
    RegStatus deleteKey(std::string_view subKey);
    RegStatus deleteTree(std::string_view subKey);

    RegStatus queryInfo(RegKeyInfo &info) const;

    // Values in the order they were first created; index past the end gives
    // ERROR_NO_MORE_ITEMS. The name goes into name (resized); data and size work as in
    // queryValue.
    RegStatus enumValue(std::uint32_t index, std::string &name, std::uint32_t *type,
                        std::byte *data, std::uint32_t *size) const;

    // Subkey names in name order (case-insensitive), as created.
    RegStatus enumKey(std::uint32_t index, std::string &name) const;

private:
    static RegStatus openImpl(std::string_view subKey, bool create, RegKey &result, bool *created);

    std::unique_ptr<Connection> m_db;
    std::int64_t m_id = 0;
    std::string m_path;
};

} // namespace platform::registry
