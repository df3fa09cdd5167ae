#include "platform/registry/StoreFiles.h"

#include "platform/core/UniqueFd.h"
#include "platform/registry/RegistryLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace platform::registry {

namespace {

std::string octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

// Why a folder or a file of the store may not be trusted; empty when it may.
std::string distrust(const struct stat &st, bool folder)
{
    if (S_ISLNK(st.st_mode))
        return "a symbolic link";
    if (folder && !S_ISDIR(st.st_mode))
        return "not a folder";
    if (!folder && !S_ISREG(st.st_mode))
        return "not a regular file";
    if (st.st_uid != ::geteuid())
        return "owned by uid " + std::to_string(st.st_uid) + ", not " + std::to_string(::geteuid());
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "writable by group or others (mode " + octal(st.st_mode) + ")";
    // A second name lets whoever made it reach the file from a folder we never checked.
    if (!folder && st.st_nlink != 1)
        return std::to_string(st.st_nlink) + " hard links";
    return {};
}

RegStatus refuse(const std::string &path, const std::string &why)
{
    warnOnce("registry: refusing " + path + ": " + why);
    return ERROR_ACCESS_DENIED;
}

// Creates each missing folder of the file's parent with mode 0700; existing folders are left as
// they are (the last one is checked afterwards).
bool makeParentFolders(const std::string &file)
{
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return true;
    const std::string parent = file.substr(0, slash);
    for (std::size_t pos = 1; pos <= parent.size(); ++pos) {
        if (pos != parent.size() && parent[pos] != '/')
            continue;
        const std::string prefix = parent.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            warnOnce("registry: cannot create folder " + prefix + ": " + std::strerror(errno));
            return false;
        }
    }
    return true;
}

// Opens the folder without following a link at its name, and checks what was opened.
RegStatus openFolder(const std::string &folder, UniqueFd &out)
{
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st
    { };
    if (!fd) {
        const int error = errno;
        if (error == ENOENT)
            return ERROR_FILE_NOT_FOUND;
        // A link or a file at the folder's name: say which.
        if (::lstat(folder.c_str(), &st) == 0 && !distrust(st, true).empty())
            return refuse(folder, distrust(st, true));
        return refuse(folder, std::strerror(error));
    }
    if (::fstat(fd.get(), &st) != 0)
        return refuse(folder, std::strerror(errno));
    if (const std::string why = distrust(st, true); !why.empty())
        return refuse(folder, why);
    out = std::move(fd);
    return ERROR_SUCCESS;
}

// The unix file system's own open(), which SQLite called before openChecked took its place.
using OpenCall = int (*)(const char *, int, int);
OpenCall g_systemOpen = nullptr;

// The database checkStoreFile saw, while SQLite opens it.
struct ExpectedFile
{
    dev_t device;
    ino_t inode;
};
thread_local const ExpectedFile *t_expected = nullptr;

// SQLite opens the database and its -wal, -shm and -journal files by name, and resolves links in
// the name itself. Every such open comes here, so each file is checked on the very descriptor
// SQLite goes on to use: whatever a name has come to mean since checkStoreFile looked (a folder
// above swapped, a link planted, a side file left by someone else), SQLite gets only a file of
// ours that nobody else can write, and for the database only the file that was checked.
int openChecked(const char *path, int flags, int mode)
{
    // A FIFO planted at a name would block the open forever; the flag comes off again below.
    UniqueFd fd(g_systemOpen(path, flags | O_NOFOLLOW | O_NONBLOCK, mode));
    if (!fd)
        return -1;
    struct stat st
    { };
    if (::fstat(fd.get(), &st) != 0)
        return -1;
    // Besides files, SQLite opens folders (to sync them) and /dev/urandom; they hold no data.
    std::string why;
    if (!S_ISDIR(st.st_mode) && !S_ISCHR(st.st_mode)) {
        why = distrust(st, false);
        if (why.empty() && t_expected
            && (st.st_dev != t_expected->device || st.st_ino != t_expected->inode))
            why = "replaced while it was being opened";
    }
    if (!why.empty()) {
        refuse(path, why);
        errno = EACCES;
        return -1;
    }
    if ((flags & O_NONBLOCK) == 0) {
        const int status = ::fcntl(fd.get(), F_GETFL);
        if (status == -1 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) == -1)
            return -1;
    }
    return fd.release();
}

// Puts openChecked in place of the open() of SQLite's unix file system, once for the process.
// SQLite offers this as a way to override its system calls; a build without it leaves the store
// with the checks checkStoreFile makes, which is said once.
void installOpenCheck()
{
    static std::once_flag once;
    std::call_once(once, [] {
        sqlite3_vfs *vfs = sqlite3_initialize() == SQLITE_OK ? sqlite3_vfs_find(nullptr) : nullptr;
        if (vfs && vfs->iVersion >= 3 && vfs->xGetSystemCall && vfs->xSetSystemCall) {
            g_systemOpen = reinterpret_cast<OpenCall>(vfs->xGetSystemCall(vfs, "open"));
            if (g_systemOpen
                && vfs->xSetSystemCall(vfs, "open",
                                       reinterpret_cast<sqlite3_syscall_ptr>(&openChecked))
                    == SQLITE_OK)
                return;
        }
        qCWarning(lcRegistry,
                  "registry: SQLite's file opens cannot be checked here; relying on "
                  "the checks made before each open");
    });
}

// The path as the file part of an SQLite URI.
std::string uriPath(const std::string &path)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string uri;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::strchr("/._~-", c)) {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(digits[byte >> 4]);
            uri.push_back(digits[byte & 0xf]);
        }
    }
    return uri;
}

} // namespace

void warnOnce(const std::string &line)
{
    static std::mutex lock;
    static std::string last;
    const std::lock_guard guard(lock);
    if (line == last)
        return;
    last = line;
    qCWarning(lcRegistry, "%s", line.c_str());
}

RegStatus checkStoreFile(const std::string &path, bool create, StoreFile &out)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
        : slash == 0                                      ? std::string("/")
                                                          : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        return ERROR_BAD_PATHNAME;
    if (create && !makeParentFolders(path))
        return ERROR_ACCESS_DENIED;
    UniqueFd dir;
    if (const RegStatus status = openFolder(folder, dir); status != ERROR_SUCCESS)
        return status;

    // Everything below goes through the checked folder's descriptor, never the path again.
    struct stat st
    { };
    if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return refuse(path, std::strerror(errno));
        if (!create)
            return ERROR_FILE_NOT_FOUND;
        // Made here with mode 0600 rather than by SQLite, which gives its side files the
        // database's mode. O_EXCL: a file someone else made first is checked like any other.
        UniqueFd fd(::openat(dir.get(), name.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd && errno != EEXIST) {
            warnOnce("registry: cannot create " + path + ": " + std::strerror(errno));
            return ERROR_ACCESS_DENIED;
        }
        if ((fd ? ::fstat(fd.get(), &st)
                : ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW))
            != 0)
            return refuse(path, std::strerror(errno));
    }
    if (const std::string why = distrust(st, false); !why.empty())
        return refuse(path, why);

    // What cannot be written is still read. Without write access to the folder nobody but root
    // can make the -wal or -journal file that every change needs, and without it to the file no
    // process of ours can open it for writing; so when no -wal is left over the file cannot change
    // while we read it, and SQLite opens it as immutable, making no side files it could not
    // remove.
    const bool writable = ::faccessat(dir.get(), ".", W_OK, AT_EACCESS) == 0
        && ::faccessat(dir.get(), name.c_str(), W_OK, AT_EACCESS) == 0;
    struct stat wal
    { };
    const bool hasWal
        = ::fstatat(dir.get(), (name + "-wal").c_str(), &wal, AT_SYMLINK_NOFOLLOW) == 0;
    out.path = path;
    out.access = writable ? StoreFile::Access::ReadWrite
        : hasWal          ? StoreFile::Access::ReadOnly
                          : StoreFile::Access::Immutable;
    out.device = st.st_dev;
    out.inode = st.st_ino;
    if (!writable)
        qCDebug(lcRegistry, "registry: %s cannot be written here; reading only", path.c_str());
    return ERROR_SUCCESS;
}

int openStoreFile(const StoreFile &file, SqliteDb &db)
{
    installOpenCheck();
    std::string name = file.path;
    int flags = file.access == StoreFile::Access::ReadWrite ? SQLITE_OPEN_READWRITE
                                                            : SQLITE_OPEN_READONLY;
    if (file.access == StoreFile::Access::Immutable) {
        name = "file:" + uriPath(file.path) + "?immutable=1";
        flags |= SQLITE_OPEN_URI;
    }
    // SQLite opens the database file itself here and nothing else; its side files come later.
    const ExpectedFile expected {file.device, file.inode};
    t_expected = &expected;
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
    t_expected = nullptr;
    db.reset(raw);
    return rc;
}

} // namespace platform::registry
