#pragma once

#include "platform/registry/Registry.h"
#include "platform/registry/Sqlite.h"

#include <sys/types.h>

#include <string>

// The database file and its folder, checked before SQLite is given them. Internal to the store.
//
// Another user must not be able to plant or swap the settings (a planted resource-library path
// names a library the panel loads), so the folder and the file must be the user's own and
// writable by nobody else, and neither may be a symbolic link.
namespace platform::registry {

struct StoreFile
{
    enum class Access {
        ReadWrite,
        // Read-only; SQLite reads through the -wal and -shm files that are there.
        ReadOnly,
        // Read-only, without side files: see checkStoreFile.
        Immutable,
    };

    std::string path;
    Access access = Access::ReadWrite;
    dev_t device = 0;
    ino_t inode = 0;
};

// Checks the folder of path and the file. With create, makes what is missing first: folders with
// mode 0700, the file with 0600. Returns ERROR_SUCCESS and fills out; ERROR_FILE_NOT_FOUND when
// there is no database and nothing was to be created; ERROR_ACCESS_DENIED, after one line in the
// log saying why, for a folder or file that may not be trusted or cannot be created.
RegStatus checkStoreFile(const std::string &path, bool create, StoreFile &out);

// Opens a checked file with SQLite (reading only, unless its access is ReadWrite). Every file
// SQLite opens for the store is checked again on SQLite's own descriptor, and the database must
// be the very file checkStoreFile saw. Returns an SQLite result code.
int openStoreFile(const StoreFile &file, SqliteDb &db);

// Logs a warning unless it is the same line as the last one: a refused store is reported once,
// not at each of the several reads a start-up makes.
void warnOnce(const std::string &line);

} // namespace platform::registry
