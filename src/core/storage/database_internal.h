#pragma once
// What the parts of the database engine share and nobody else uses: the catalog tables, the
// checks of a file through SQLite's own descriptor, and the two ways a prepared statement
// ends (a lease on the connection's cache, or a statement owned outright).
#include "core/storage/database.h"

#include <sqlite3.h>

#include <memory>
#include <string>
#include <utility>

namespace tesmo::storage::detail {

// Catalog tables that every database of ours carries; hidden from the table definitions.
inline constexpr const char *kMetaTable = "tesmo_sys_meta";
inline constexpr const char *kQueriesTable = "tesmo_sys_queries";
inline constexpr const char *kLinksTable = "tesmo_sys_links";
// Made on demand: a file written by an earlier version may lack the queries or links table.
inline constexpr const char *kCatalogSql =
    "CREATE TABLE IF NOT EXISTS tesmo_sys_meta(key TEXT PRIMARY KEY, value TEXT);"
    "CREATE TABLE IF NOT EXISTS tesmo_sys_queries(name TEXT PRIMARY KEY COLLATE NOCASE,"
    " sql TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS tesmo_sys_links(name TEXT PRIMARY KEY COLLATE NOCASE,"
    " file TEXT NOT NULL, source TEXT NOT NULL);";

// The stored form of a password: `salt` and the password hashed with it a thousand times.
std::string passwordHash(const std::string &salt, const std::string &password);

// Whether the file of `db` begins with SQLite's 16 header bytes, read through the connection's
// own descriptor.
bool hasSqliteHeader(sqlite3 *db);

// Device and inode of `path`; {0, 0} when it cannot be seen.
std::pair<unsigned long long, unsigned long long> fileIdentity(const std::string &path);

struct FinalizeStatement {
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
// A statement prepared for one use outside the cache, finalized with its owner.
using OwnedStatement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

} // namespace tesmo::storage::detail

namespace tesmo::storage {

// A statement borrowed from the connection's cache for one run. Its end gives the statement
// back (reset, its bindings cleared) on every way out of the run, an exception included: to
// its slot in the cache, or to sqlite3_finalize when it has none there (a text run while the
// same text still walks its rows, or a cache emptied meanwhile). `sql`, the cache's key, is
// the caller's and outlives the lease.
class Database::StatementLease {
public:
    StatementLease(Database &db, const std::string &sql, sqlite3_stmt *stmt) noexcept
        : m_db(&db), m_sql(&sql), m_stmt(stmt) {}
    ~StatementLease() {
        if (m_stmt)
            m_db->giveBack(*m_sql, m_stmt);
    }
    StatementLease(StatementLease &&other) noexcept
        : m_db(other.m_db), m_sql(other.m_sql), m_stmt(std::exchange(other.m_stmt, nullptr)) {}
    StatementLease(const StatementLease &) = delete;
    StatementLease &operator=(const StatementLease &) = delete;
    StatementLease &operator=(StatementLease &&) = delete;

    sqlite3_stmt *get() const { return m_stmt; }

private:
    Database *m_db;
    const std::string *m_sql;
    sqlite3_stmt *m_stmt;
};

} // namespace tesmo::storage
