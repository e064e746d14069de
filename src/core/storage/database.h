#pragma once
// The database engine: one SQLite file per database, driven with the statements of the
// program's own SQL dialect (see sql_translator.h). Every error raises DbError.
#include "core/storage/db_error.h"
#include "core/storage/sql_translator.h"
#include "core/storage/value.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tesmo::storage {

// The rows of one SELECT, read in full when it is opened, walked with a current position.
class ResultSet {
public:
    int fieldCount() const { return static_cast<int>(m_names.size()); }
    const std::string &fieldName(int col) const { return m_names.at(static_cast<size_t>(col)); }
    // -1 when there is no such column (names compare case-insensitively).
    int fieldIndex(const std::string &name) const;
    const std::vector<std::string> &fieldNames() const { return m_names; }

    size_t rowCount() const { return m_rows.size(); }
    bool eof() const { return m_pos >= m_rows.size(); }
    void moveNext() {
        if (!eof())
            ++m_pos;
    }
    void moveFirst() { m_pos = 0; }
    size_t position() const { return m_pos; }

    // Field of the current row; raises DbError at the end of the data.
    const Value &field(int col) const;
    const Value &field(const std::string &name) const;
    const Value &at(size_t row, int col) const;

    // Up to `maxRows` rows from the current position on, as [column][row]; advances.
    std::vector<std::vector<Value>> getRows(size_t maxRows);
    void close() {
        m_rows.clear();
        m_pos = 0;
    }

private:
    friend class Database;
    std::vector<std::string> m_names;
    std::vector<std::vector<Value>> m_rows; // [row][column]
    size_t m_pos = 0;
};

// The row on which a statement stands while forEachRow walks it: its fields read where the
// engine keeps them, without a copy. Valid during the call only.
class RowView {
public:
    explicit RowView(sqlite3_stmt *stmt) : m_stmt(stmt) {}
    int size() const;
    Value::Type type(int col) const;
    std::int64_t integer(int col) const; // the engine's conversions for other types
    double real(int col) const;
    std::string_view text(int col) const;
    Value value(int col) const; // the field as a ResultSet holds it

private:
    sqlite3_stmt *m_stmt;
};

// Binds `v` to parameter `index` of `stmt`; SQLite's result code.
int bindValue(sqlite3_stmt *stmt, int index, const Value &v);

// ";pwd=x;DATABASE=y" -> {"pwd": "x", "database": "y"} (keys in lower case).
std::map<std::string, std::string> parseConnectString(const std::string &connect);

class Database {
public:
    // Opens an existing file, shared. `connect` carries the password (";pwd=..."); a file
    // whose stored password differs, a missing file, a file that is not a database or a
    // truncated one raise DbError and nothing is created or changed.
    static std::unique_ptr<Database> open(const std::string &path, const std::string &connect);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    void close() noexcept;
    bool isOpen() const { return m_db != nullptr; }
    const std::string &path() const { return m_path; }
    // Raises DbError when the file at path() is no longer the one this connection opened: an
    // open connection goes on reading and writing a file that was deleted, emptied or
    // replaced, and whatever it wrote would be lost. Commands that write call it first. Looks
    // with stat() and the connection's own descriptor only (see checkDatabaseFile).
    void verifyFile() const;
    // SQLite's PRAGMA data_version: it changes when another connection (of any program)
    // committed since this one last looked; never for this connection's own commits.
    long long dataVersion() const;
    // How many transactions this connection has committed.
    unsigned long long commitCount() const { return m_commits; }
    // Writes the database as it is now into the new file `dst`, page by page through SQLite:
    // the same length and content as the file after a checkpoint.
    void backupTo(const std::string &dst);

    // A statement that returns no rows. INSERTs drop rows that violate a unique key.
    void execute(const std::string &sql);
    // The same with values bound to the "?" placeholders, for text that must never be SQL.
    void execute(const std::string &sql, const std::vector<Value> &params);
    long long changes() const;
    // Inside a BEGIN ... COMMIT of this connection.
    bool inTransaction() const;
    // Several statements in SQLite's own SQL, untranslated (schema scripts).
    void executeNative(const std::string &sqliteSql);

    ResultSet openRecordset(const std::string &sql);
    ResultSet openRecordset(const std::string &sql, const std::vector<Value> &params);
    // Walks the rows of a SELECT without keeping them: `row` sees each row in turn. For reads
    // of many rows, where a ResultSet would copy each field.
    void forEachRow(const std::string &sql, const std::vector<Value> &params,
                    const std::function<void(const RowView &)> &row);
    // First field of the first row; null when there is no row.
    Value scalar(const std::string &sql);

    // A scalar SQL function `name` of `arity` arguments on this connection, for a value that
    // the program computes itself inside a statement. Defined once: a second call with the same
    // name keeps the first. An exception from `fn` fails the statement with its description.
    using ScalarFunction = std::function<Value(const std::vector<Value> &)>;
    void defineFunction(const std::string &name, int arity, ScalarFunction fn);

    // Table definitions: the file's own tables and the linked tables.
    std::vector<std::string> tableDefNames();
    void deleteTableDef(const std::string &name);
    // A linked table `name` that reads and writes table `sourceTable` of the file named in
    // `connect` (";DATABASE=path"). Raises when the file or the table cannot be reached.
    void createLinkedTable(const std::string &name, const std::string &connect,
                           const std::string &sourceTable);
    bool isLinkedTable(const std::string &name) const;

    // Stored queries, in the order they were created.
    std::vector<std::string> queryDefNames();
    std::string queryDefSql(const std::string &name);
    void createQueryDef(const std::string &name, const std::string &sql);

    // The SQLite text that a statement of the dialect becomes on this connection.
    std::string translate(const std::string &sql) const;

    // Writes the WAL back into the main file, so that the file alone is a complete image.
    void checkpoint();

    // Whether the main file has a table of exactly this name.
    bool hasTable(const std::string &name);

    sqlite3 *handle() const { return m_db; }

private:
    // A prepared statement on loan from the cache (database_internal.h).
    class StatementLease;

    Database() = default;
    // The statement of `sql` (the key of its cache slot, which the lease refers to), bound to
    // `params`.
    StatementLease prepare(const std::string &sql);
    StatementLease prepare(const std::string &sql, const std::vector<Value> &params);
    void applyPragmas();
    void giveBack(const std::string &sql, sqlite3_stmt *stmt) noexcept;
    void clearCache();
    void bindAll(sqlite3_stmt *stmt, const std::vector<Value> &params);
    void runToEnd(sqlite3_stmt *stmt);
    ResultSet collect(sqlite3_stmt *stmt);
    void raw(const std::string &sqliteSql);
    void attachLink(const std::string &name, const std::string &file, const std::string &source);
    void loadLinks();
    void materialiseQueries();
    bool headerReadable() const;
    [[noreturn]] void fail() const;

    sqlite3 *m_db = nullptr;
    std::string m_path;
    std::pair<unsigned long long, unsigned long long> m_fileId; // device and inode at open
    unsigned long long m_commits = 0;
    LinkMap m_links;
    struct CachedStatement {
        sqlite3_stmt *stmt;
        bool inUse;
    };
    std::unordered_map<std::string, CachedStatement> m_cache;
    std::map<std::string, std::unique_ptr<ScalarFunction>> m_functions;
};

// Raises DbError unless `path` names an existing, non-empty file:
// "データベースファイルが見つかりません" for a missing one, "データベースファイルではありません"
// for an empty file. Never opens the file: Database::open reads its header through SQLite.
void checkDatabaseFile(const std::string &path);

// Whether `path` is the file of `db` or one of SQLite's files beside it (-wal, -shm, -journal),
// found with stat(): such a file is never read as anything else while `db` is open.
bool isFileOfDatabase(const Database &db, const std::string &path);

// How many transactions the connections of this process have committed so far: beside
// dataVersion() and commitCount(), it tells a change of this program from one of another.
unsigned long long committedInThisProcess();

// Another connection has the database open, so its file cannot be taken over.
class DatabaseInUse : public DbError {
public:
    DatabaseInUse(const std::string &path, const std::string &detail);
};

// Makes the database at `path` whole in one file, for a program that copies or replaces it
// without a connection of its own: SQLite writes the log back and removes the -wal and -shm.
// Raises DatabaseInUse while any connection, of this process or another, has it open. A
// missing or empty file, or one that is no SQLite database, is left as it is.
void settleDatabaseFile(const std::string &path);
// Puts the file `replacement` (on the same file system) in the place of the database `path`,
// holding the old file exclusively meanwhile; raises DatabaseInUse while another connection has
// it open. No -wal or -shm of the old file stays beside the new one.
void replaceDatabaseFile(const std::string &path, const std::string &replacement);

// A new, empty database file that carries `password` (empty: no password). Refuses an
// existing file.
std::unique_ptr<Database> createDatabaseFile(const std::string &path, const std::string &password);

// Writes a compacted copy of `src` (opened with `srcConnect`) to `dst`, which must not exist.
// `dstLocale` names the collation of the new file; SQLite keeps text as UTF-8 either way.
void compactDatabase(const std::string &src, const std::string &dst, const std::string &dstLocale,
                     const std::string &srcConnect);
// Checks the file's structure and rebuilds its indexes; raises when it is beyond repair.
void repairDatabase(const std::string &path, const std::string &connect);

} // namespace tesmo::storage
