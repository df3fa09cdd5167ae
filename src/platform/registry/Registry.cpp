#include "platform/registry/Registry.h"

#include "platform/registry/RegistryLog.h"
#include "platform/registry/Sqlite.h"
#include "platform/registry/StoreFiles.h"

#include <QString>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

Q_LOGGING_CATEGORY(lcRegistry, "vedereve.platform.registry")

namespace platform::registry {

namespace {

using std::chrono::microseconds;

const WaitClock realClock {
    [] { return std::chrono::steady_clock::now(); },
    [](microseconds pause) { std::this_thread::sleep_for(pause); },
};
const WaitClock *g_waitClock = &realClock;

} // namespace

void setWaitClock(const WaitClock *clock)
{
    g_waitClock = clock ? clock : &realClock;
}

class Connection
{
public:
    SqliteDb db;

    // Waiting for a busy database is budgeted per key: the first wait opens a window of
    // busyTimeoutMs, and every call on the key that starts inside it shares what is left of it.
    // So an open and the reads that follow it (one settings operation) wait at most the bound
    // together, however many statements they run; a call made after the window has closed gets
    // a window of its own.
    void beginCall()
    {
        if (m_waitEnds && g_waitClock->now() >= *m_waitEnds)
            m_waitEnds.reset();
    }

    microseconds waitLeft()
    {
        const auto now = g_waitClock->now();
        if (!m_waitEnds)
            m_waitEnds = now + std::chrono::milliseconds(busyTimeoutMs);
        return now >= *m_waitEnds ? microseconds(0)
                                  : std::chrono::duration_cast<microseconds>(*m_waitEnds - now);
    }

private:
    std::optional<std::chrono::steady_clock::time_point> m_waitEnds;
};

namespace {

constexpr std::int64_t rootKeyId = 1;
constexpr int schemaVersion = 1;

// AUTOINCREMENT keeps a deleted key's id from being given to a new key, so a handle to a deleted
// key can never silently reach a different one.
constexpr const char *schemaSql = R"(
CREATE TABLE IF NOT EXISTS keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER,
    name BLOB NOT NULL,
    fold BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS keys_child ON keys(parent, fold);
CREATE TABLE IF NOT EXISTS vals(
    key INTEGER NOT NULL,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES(1, NULL, x'', x'');
PRAGMA user_version = 1;
)";

RegStatus fromSqlite(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return ERROR_BADDB;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
    // The store makes sure the database exists before SQLite opens anything, so a file SQLite
    // cannot open is one it may not: refused by the checks, or not readable.
    case SQLITE_CANTOPEN:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

RegStatus failed(int rc, const char *what)
{
    const RegStatus status = fromSqlite(rc);
    qCWarning(lcRegistry, "%s: %s (sqlite %d, status %ld)", what, sqlite3_errstr(rc), rc, status);
    return status;
}

// Case-insensitive comparison key of a name, as the registry compares names.
std::string fold(std::string_view name)
{
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))
        .toCaseFolded()
        .toUtf8()
        .toStdString();
}

// Splits "a\b\c" into its components. One trailing separator is allowed; a leading one or an
// empty component in between is not a path.
RegStatus splitPath(std::string_view path, std::vector<std::string_view> &parts)
{
    parts.clear();
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    if (path.empty())
        return ERROR_SUCCESS;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string_view part = path.substr(start, end - start);
        if (part.empty())
            return ERROR_BAD_PATHNAME;
        if (part.size() > maxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        parts.push_back(part);
        if (parts.size() > maxKeyDepth)
            return ERROR_INVALID_PARAMETER;
        if (end == std::string_view::npos)
            return ERROR_SUCCESS;
        start = end + 1;
    }
}

int queryInt(sqlite3 *db, const char *sql, std::int64_t &value)
{
    Statement stmt(db, sql);
    const int rc = stmt.step();
    if (rc == SQLITE_ROW)
        value = stmt.columnInt(0);
    return rc == SQLITE_ROW ? SQLITE_OK : stmt.error();
}

// SQLite's own busy timeout sleeps in growing steps of up to 100 ms, so a waiter can keep
// missing the short moments between another process's writes until its time runs out. Polling
// every millisecond or two keeps two busy writers taking turns, within the key's budget.
int waitWhileBusy(void *context, int attempt)
{
    const microseconds left = static_cast<Connection *>(context)->waitLeft();
    if (left <= microseconds(0))
        return 0;
    g_waitClock->sleep(std::min(left, microseconds(attempt < 20 ? 500 : 2000)));
    return 1;
}

// WAL lets readers go on while one process writes; it stays set in the file. Another process
// setting up the same new file holds a lock that SQLite reports at once on this switch, without
// asking the busy handler: it is waited for like any other.
int switchToWal(sqlite3 *db, Connection *conn)
{
    int rc = SQLITE_OK;
    for (int attempt = 0;
         (rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr))
             == SQLITE_BUSY
         && waitWhileBusy(conn, attempt);
         ++attempt) { }
    return rc;
}

// Opens the database. Without create, a missing or never initialised database is
// ERROR_FILE_NOT_FOUND and nothing is written.
RegStatus openDatabase(bool create, std::unique_ptr<Connection> &out)
{
    const std::string path = databasePath();
    if (path.empty())
        return ERROR_FILE_NOT_FOUND;
    StoreFile file;
    if (const RegStatus status = checkStoreFile(path, create, file); status != ERROR_SUCCESS)
        return status;

    auto conn = std::make_unique<Connection>();
    if (const int rc = openStoreFile(file, conn->db); rc != SQLITE_OK)
        return failed(rc, "open registry");
    sqlite3 *db = conn->db.get();
    sqlite3_busy_handler(db, waitWhileBusy, conn.get());
    // In WAL mode NORMAL still commits atomically and survives a crash of the process; only a
    // power cut may lose the last few commits. A settings store takes that for writes that do
    // not hold the lock across a disk flush.
    if (file.access == StoreFile::Access::ReadWrite)
        sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);

    std::int64_t version = 0;
    if (int rc = queryInt(db, "PRAGMA user_version", version); rc != SQLITE_OK)
        return failed(rc, "read registry schema");
    if (version > schemaVersion) {
        // Not even a checkpoint on close: what a newer program left in its log stays there for
        // that program to finish.
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        warnOnce("registry: " + path + " has schema version " + std::to_string(version)
                 + ", newer than this program's " + std::to_string(schemaVersion)
                 + "; leaving it untouched");
        return ERROR_BADDB;
    }
    if (version != schemaVersion) {
        if (!create)
            return ERROR_FILE_NOT_FOUND;
        if (int rc = switchToWal(db, conn.get()); rc != SQLITE_OK)
            return failed(rc, "set registry journal mode");
        Transaction txn(db, Transaction::Write);
        if (txn.status() != SQLITE_OK)
            return failed(txn.status(), "initialise registry");
        if (int rc = sqlite3_exec(db, schemaSql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
            return failed(rc, "initialise registry");
        if (int rc = txn.commit(); rc != SQLITE_OK)
            return failed(rc, "initialise registry");
    }
    out = std::move(conn);
    return ERROR_SUCCESS;
}

bool keyExists(sqlite3 *db, std::int64_t id, int &rc)
{
    Statement stmt(db, "SELECT 1 FROM keys WHERE id = ?");
    stmt.bind(1, id);
    rc = stmt.step();
    const bool found = rc == SQLITE_ROW;
    rc = (rc == SQLITE_ROW || rc == SQLITE_DONE) ? SQLITE_OK : rc;
    return found;
}

// Looks up (and with create, makes) the key at parts below 'from'. Runs inside the caller's
// transaction. Returns the key's id, 0 when missing; rc carries any database error.
std::int64_t walk(sqlite3 *db, std::int64_t from, const std::vector<std::string_view> &parts,
                  bool create, bool *created, int &rc)
{
    rc = SQLITE_OK;
    std::int64_t id = from;
    if (created)
        *created = false;
    for (const std::string_view part : parts) {
        const std::string folded = fold(part);
        Statement find(db, "SELECT id FROM keys WHERE parent = ? AND fold = ?");
        find.bind(1, id).bindBlob(2, folded);
        const int step = find.step();
        if (step == SQLITE_ROW) {
            id = find.columnInt(0);
            if (created)
                *created = false;
            continue;
        }
        if (step != SQLITE_DONE) {
            rc = step;
            return 0;
        }
        if (!create)
            return 0;
        Statement insert(db, "INSERT INTO keys(parent, name, fold) VALUES(?, ?, ?)");
        insert.bind(1, id).bindBlob(2, part).bindBlob(3, folded);
        if (insert.step() != SQLITE_DONE) {
            rc = insert.error();
            return 0;
        }
        id = sqlite3_last_insert_rowid(db);
        if (created)
            *created = true;
    }
    return id;
}

// Copies a value's bytes under the registry's buffer rules.
RegStatus copyOut(std::string_view bytes, std::byte *data, std::uint32_t *size)
{
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (!data) {
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    }
    if (!size)
        return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed > 0)
        std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

} // namespace

std::string databasePath()
{
    if (const char *override = std::getenv("VEDEREVE_REGISTRY"); override && *override)
        return override;
    std::string config;
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        std::string home;
        if (const char *env = std::getenv("HOME"); env && env[0] == '/') {
            home = env;
        } else if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
            home = pw->pw_dir;
        }
        if (home.empty())
            return {};
        config = home + "/.config";
    }
    return config + "/vedereve/registry.sqlite";
}

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey &&other) noexcept = default;
RegKey &RegKey::operator=(RegKey &&other) noexcept = default;

bool RegKey::isOpen() const
{
    return m_db != nullptr;
}

void RegKey::close()
{
    m_db.reset();
    m_id = 0;
    m_path.clear();
}

RegStatus RegKey::openCurrentUser(std::string_view subKey, RegKey &result)
{
    return openImpl(subKey, false, result, nullptr);
}

RegStatus RegKey::createCurrentUser(std::string_view subKey, RegKey &result, bool *created)
{
    return openImpl(subKey, true, result, created);
}

RegStatus RegKey::openImpl(std::string_view subKey, bool create, RegKey &result, bool *created)
{
    result.close();
    std::vector<std::string_view> parts;
    if (RegStatus status = splitPath(subKey, parts); status != ERROR_SUCCESS)
        return status;

    std::unique_ptr<Connection> conn;
    if (RegStatus status = openDatabase(create, conn); status != ERROR_SUCCESS)
        return status;
    sqlite3 *db = conn->db.get();

    // Most opens find the key, so look first without taking the write lock; only a key that is
    // missing is created, under the write lock and looked up again there.
    std::int64_t id = 0;
    int rc = SQLITE_OK;
    {
        Transaction txn(db, Transaction::Read);
        if (txn.status() != SQLITE_OK)
            return failed(txn.status(), "open key");
        id = walk(db, rootKeyId, parts, false, created, rc);
        if (rc != SQLITE_OK)
            return failed(rc, "open key");
    }
    if (id == 0 && !create)
        return ERROR_FILE_NOT_FOUND;
    if (id == 0) {
        Transaction txn(db, Transaction::Write);
        if (txn.status() != SQLITE_OK)
            return failed(txn.status(), "create key");
        id = walk(db, rootKeyId, parts, true, created, rc);
        if (rc != SQLITE_OK || id == 0)
            return failed(rc, "create key");
        if (rc = txn.commit(); rc != SQLITE_OK)
            return failed(rc, "create key");
    }
    result.m_db = std::move(conn);
    result.m_id = id;
    result.m_path = std::string(subKey);
    return ERROR_SUCCESS;
}

namespace {

// Runs body(db) as one transaction on an open key, after checking that the key still exists
// (another process may have deleted it since it was opened). A write commits only when the body
// succeeded.
template<typename Body>
RegStatus inKey(Connection *conn, std::int64_t id, Transaction::Kind kind, const char *what,
                Body &&body)
{
    if (!conn)
        return ERROR_INVALID_HANDLE;
    conn->beginCall();
    sqlite3 *db = conn->db.get();
    Transaction txn(db, kind);
    if (txn.status() != SQLITE_OK)
        return failed(txn.status(), what);
    int rc = SQLITE_OK;
    if (!keyExists(db, id, rc))
        return rc != SQLITE_OK ? failed(rc, what) : ERROR_KEY_DELETED;
    const RegStatus status = body(db);
    if (status != ERROR_SUCCESS || kind == Transaction::Read)
        return status;
    if (rc = txn.commit(); rc != SQLITE_OK)
        return failed(rc, what);
    return ERROR_SUCCESS;
}

// Runs body(row) on the row at index of those that sql selects for the key (its first parameter;
// the second is the offset), in one read transaction. ERROR_NO_MORE_ITEMS past the last row.
template<typename Body>
RegStatus atRow(Connection *conn, std::int64_t id, const char *what, const char *sql,
                std::uint32_t index, Body &&body)
{
    return inKey(conn, id, Transaction::Read, what, [&](sqlite3 *db) {
        Statement stmt(db, sql);
        stmt.bind(1, id).bind(2, index);
        const int rc = stmt.step();
        if (rc == SQLITE_DONE)
            return ERROR_NO_MORE_ITEMS;
        if (rc != SQLITE_ROW)
            return failed(rc, what);
        return body(stmt);
    });
}

// Runs body(db, subkey) in one write transaction on the subkey that subKey names below the key
// (the key itself when it names none). ERROR_FILE_NOT_FOUND when there is no such subkey.
template<typename Body>
RegStatus onSubKey(Connection *conn, std::int64_t id, std::string_view subKey, bool allowSelf,
                   const char *what, Body &&body)
{
    std::vector<std::string_view> parts;
    if (RegStatus status = splitPath(subKey, parts); status != ERROR_SUCCESS)
        return status;
    if (parts.empty() && !allowSelf)
        return ERROR_INVALID_PARAMETER;
    return inKey(conn, id, Transaction::Write, what, [&](sqlite3 *db) {
        int rc = SQLITE_OK;
        const std::int64_t target = walk(db, id, parts, false, nullptr, rc);
        if (rc != SQLITE_OK)
            return failed(rc, what);
        if (target == 0)
            return ERROR_FILE_NOT_FOUND;
        return body(db, target, parts.empty());
    });
}

} // namespace

RegStatus RegKey::queryValue(std::string_view name, std::uint32_t *type, std::byte *data,
                             std::uint32_t *size) const
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    return inKey(m_db.get(), m_id, Transaction::Read, "query value", [&](sqlite3 *db) {
        Statement stmt(db, "SELECT type, data FROM vals WHERE key = ? AND fold = ?");
        stmt.bind(1, m_id).bindBlob(2, fold(name));
        const int rc = stmt.step();
        if (rc == SQLITE_DONE)
            return ERROR_FILE_NOT_FOUND;
        if (rc != SQLITE_ROW)
            return failed(rc, "query value");
        const RegStatus status = copyOut(stmt.columnBlob(1), data, size);
        if (type)
            *type = static_cast<std::uint32_t>(stmt.columnInt(0));
        return status;
    });
}

RegStatus RegKey::setValue(std::string_view name, std::uint32_t type, const std::byte *data,
                           std::uint32_t size)
{
    if (name.size() > maxValueNameLength || size > maxValueDataSize || (!data && size > 0))
        return ERROR_INVALID_PARAMETER;
    return inKey(m_db.get(), m_id, Transaction::Write, "set value", [&](sqlite3 *db) {
        // A value keeps the case of the name it was created with, and its place in enumeration.
        Statement stmt(db,
                       "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?) "
                       "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, "
                       "data = excluded.data");
        stmt.bind(1, m_id).bindBlob(2, name).bindBlob(3, fold(name)).bind(4, type);
        stmt.bindBlob(5, data, size);
        if (stmt.step() != SQLITE_DONE)
            return failed(stmt.error(), "set value");
        return ERROR_SUCCESS;
    });
}

RegStatus RegKey::deleteValue(std::string_view name)
{
    return inKey(m_db.get(), m_id, Transaction::Write, "delete value", [&](sqlite3 *db) {
        Statement stmt(db, "DELETE FROM vals WHERE key = ? AND fold = ?");
        stmt.bind(1, m_id).bindBlob(2, fold(name));
        if (stmt.step() != SQLITE_DONE)
            return failed(stmt.error(), "delete value");
        return sqlite3_changes(db) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    });
}

RegStatus RegKey::deleteKey(std::string_view subKey)
{
    return onSubKey(m_db.get(), m_id, subKey, false, "delete key",
                    [&](sqlite3 *db, std::int64_t target, bool) {
                        Statement children(db, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
                        children.bind(1, target);
                        const int rc = children.step();
                        if (rc == SQLITE_ROW)
                            return ERROR_ACCESS_DENIED;
                        if (rc != SQLITE_DONE)
                            return failed(rc, "delete key");
                        Statement values(db, "DELETE FROM vals WHERE key = ?");
                        values.bind(1, target);
                        if (values.step() != SQLITE_DONE)
                            return failed(values.error(), "delete key");
                        Statement key(db, "DELETE FROM keys WHERE id = ?");
                        key.bind(1, target);
                        if (key.step() != SQLITE_DONE)
                            return failed(key.error(), "delete key");
                        return ERROR_SUCCESS;
                    });
}

RegStatus RegKey::deleteTree(std::string_view subKey)
{
    return onSubKey(
        m_db.get(), m_id, subKey, true, "delete tree",
        [&](sqlite3 *db, std::int64_t target, bool self) {
            // With no subkey the key itself stays and only its contents go.
            const std::int64_t keep = self ? target : 0;
            const std::string branch = "WITH RECURSIVE branch(id) AS (SELECT ? UNION ALL "
                                       "SELECT keys.id FROM keys JOIN branch ON keys.parent = "
                                       "branch.id) ";
            Statement values(db, branch + "DELETE FROM vals WHERE key IN branch");
            values.bind(1, target);
            if (values.step() != SQLITE_DONE)
                return failed(values.error(), "delete tree");
            Statement keys(db, branch + "DELETE FROM keys WHERE id IN branch AND id != ?");
            keys.bind(1, target).bind(2, keep);
            if (keys.step() != SQLITE_DONE)
                return failed(keys.error(), "delete tree");
            return ERROR_SUCCESS;
        });
}

RegStatus RegKey::queryInfo(RegKeyInfo &info) const
{
    return inKey(m_db.get(), m_id, Transaction::Read, "query key info", [&](sqlite3 *db) {
        Statement keys(db,
                       "SELECT count(*), coalesce(max(length(name)), 0) FROM keys "
                       "WHERE parent = ?");
        keys.bind(1, m_id);
        Statement vals(db,
                       "SELECT count(*), coalesce(max(length(name)), 0), "
                       "coalesce(max(length(data)), 0) FROM vals WHERE key = ?");
        vals.bind(1, m_id);
        if (keys.step() != SQLITE_ROW)
            return failed(keys.error(), "query key info");
        if (vals.step() != SQLITE_ROW)
            return failed(vals.error(), "query key info");
        info.subKeys = static_cast<std::uint32_t>(keys.columnInt(0));
        info.maxSubKeyLen = static_cast<std::uint32_t>(keys.columnInt(1));
        info.values = static_cast<std::uint32_t>(vals.columnInt(0));
        info.maxValueNameLen = static_cast<std::uint32_t>(vals.columnInt(1));
        info.maxValueLen = static_cast<std::uint32_t>(vals.columnInt(2));
        return ERROR_SUCCESS;
    });
}

RegStatus RegKey::enumValue(std::uint32_t index, std::string &name, std::uint32_t *type,
                            std::byte *data, std::uint32_t *size) const
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    return atRow(m_db.get(), m_id, "enumerate values",
                 "SELECT name, type, data FROM vals WHERE key = ? ORDER BY rowid LIMIT 1 OFFSET ?",
                 index, [&](Statement &row) {
                     name = std::string(row.columnBlob(0));
                     if (type)
                         *type = static_cast<std::uint32_t>(row.columnInt(1));
                     return copyOut(row.columnBlob(2), data, size);
                 });
}

RegStatus RegKey::enumKey(std::uint32_t index, std::string &name) const
{
    return atRow(m_db.get(), m_id, "enumerate keys",
                 "SELECT name FROM keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?", index,
                 [&](Statement &row) {
                     name = std::string(row.columnBlob(0));
                     return ERROR_SUCCESS;
                 });
}

} // namespace platform::registry
