#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

// Move-only owners of the SQLite handles the registry store uses. Internal to the store.
namespace platform::registry {

struct SqliteCloser
{
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;

// One prepared statement. Text and blobs are bound as copies (SQLITE_TRANSIENT), so a statement
// never points into a caller's buffer after bind returns.
class Statement final
{
public:
    Statement(sqlite3 *db, std::string_view sql)
    {
        sqlite3_stmt *stmt = nullptr;
        m_rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
        m_stmt.reset(stmt);
    }

    bool isValid() const { return m_stmt != nullptr; }
    // The result of the last prepare, bind or step that failed, else SQLITE_OK.
    int error() const { return m_rc; }

    Statement &bind(int index, std::int64_t value)
    {
        if (m_stmt && m_rc == SQLITE_OK)
            m_rc = sqlite3_bind_int64(m_stmt.get(), index, value);
        return *this;
    }

    // Binds a blob; an empty one is bound as a zero-length blob, never as NULL.
    Statement &bindBlob(int index, const void *data, std::size_t size)
    {
        if (!m_stmt || m_rc != SQLITE_OK)
            return *this;
        if (size == 0)
            m_rc = sqlite3_bind_zeroblob(m_stmt.get(), index, 0);
        else
            m_rc = sqlite3_bind_blob64(m_stmt.get(), index, data, size, SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bindBlob(int index, std::string_view bytes)
    {
        return bindBlob(index, bytes.data(), bytes.size());
    }

    // SQLITE_ROW, SQLITE_DONE or an error code (also kept in error()).
    int step()
    {
        if (!m_stmt || m_rc != SQLITE_OK)
            return m_rc == SQLITE_OK ? SQLITE_MISUSE : m_rc;
        const int rc = sqlite3_step(m_stmt.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            m_rc = rc;
        return rc;
    }

    std::int64_t columnInt(int column) const { return sqlite3_column_int64(m_stmt.get(), column); }
    // The column's bytes; valid until the next step.
    std::string_view columnBlob(int column) const
    {
        const void *data = sqlite3_column_blob(m_stmt.get(), column);
        const int size = sqlite3_column_bytes(m_stmt.get(), column);
        if (!data || size <= 0)
            return {};
        return {static_cast<const char *>(data), static_cast<std::size_t>(size)};
    }

private:
    struct Finalizer
    {
        void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
    };
    std::unique_ptr<sqlite3_stmt, Finalizer> m_stmt;
    int m_rc = SQLITE_OK;
};

// A transaction that rolls back unless committed. Writers take the write lock up front
// (IMMEDIATE), so two writers queue on the busy timeout instead of failing on lock upgrade.
class Transaction final
{
public:
    enum Kind { Read, Write };

    Transaction(sqlite3 *db, Kind kind) : m_db(db)
    {
        m_rc = sqlite3_exec(db, kind == Write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr,
                            nullptr);
        m_open = m_rc == SQLITE_OK;
    }
    ~Transaction()
    {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // SQLITE_OK when the transaction began.
    int status() const { return m_rc; }

    int commit()
    {
        if (!m_open)
            return m_rc == SQLITE_OK ? SQLITE_MISUSE : m_rc;
        const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            m_open = false;
        return rc;
    }

private:
    sqlite3 *m_db;
    int m_rc = SQLITE_OK;
    bool m_open = false;
};

} // namespace platform::registry
