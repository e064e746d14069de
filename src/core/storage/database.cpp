#include "core/storage/database.h"

#include "core/common/crypto.h"
#include "core/common/text.h"
#include "core/storage/db_error.h"
#include "core/storage/jet_functions.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace tesmo::storage {
namespace {
// Catalog tables that every database of ours carries; hidden from the table definitions.
constexpr const char *kMetaTable = "tesmo_sys_meta";
constexpr const char *kQueriesTable = "tesmo_sys_queries";
constexpr const char *kLinksTable = "tesmo_sys_links";
constexpr size_t kStatementCacheSize = 64;

// "file:" URI with mode=rw, so that attaching a missing file fails instead of creating it.
std::string readWriteUri(const std::string &path) {
    static const char *hex = "0123456789ABCDEF";
    std::string out = "file:";
    for (unsigned char c : fs::absolute(path).string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out + "?mode=rw";
}

std::string linkSchema(const std::string &name) {
    return "link_" + lowerAscii(name);
}

std::string passwordHash(const std::string &salt, const std::string &password) {
    std::string h = salt + password;
    for (int i = 0; i < 1000; ++i)
        h = crypto::sha256Hex(salt + h);
    return h;
}

std::string newSalt() {
    std::random_device rd;
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += crypto::sha256Hex(std::to_string(rd())).substr(0, 8);
    return s;
}

const char *kCatalogSql =
    "CREATE TABLE IF NOT EXISTS tesmo_sys_meta(key TEXT PRIMARY KEY, value TEXT);"
    "CREATE TABLE IF NOT EXISTS tesmo_sys_queries(name TEXT PRIMARY KEY COLLATE NOCASE,"
    " sql TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS tesmo_sys_links(name TEXT PRIMARY KEY COLLATE NOCASE,"
    " file TEXT NOT NULL, source TEXT NOT NULL);";
} // namespace

// ---------------------------------------------------------------------------------------------
int ResultSet::fieldIndex(const std::string &name) const {
    for (size_t i = 0; i < m_names.size(); ++i)
        if (equalsIgnoringAsciiCase(m_names[i], name))
            return static_cast<int>(i);
    return -1;
}

const Value &ResultSet::field(int col) const {
    if (eof())
        throw DbError("カレント レコードがありません。");
    return at(m_pos, col);
}

const Value &ResultSet::field(const std::string &name) const {
    const int col = fieldIndex(name);
    if (col < 0)
        throw DbError("この項目はコレクションにありません: " + name);
    return field(col);
}

const Value &ResultSet::at(size_t row, int col) const {
    if (row >= m_rows.size() || col < 0 || static_cast<size_t>(col) >= m_names.size())
        throw DbError("行または列の番号が範囲外です。");
    return m_rows[row][static_cast<size_t>(col)];
}

std::vector<std::vector<Value>> ResultSet::getRows(size_t maxRows) {
    std::vector<std::vector<Value>> out(m_names.size());
    while (!eof() && maxRows-- > 0) {
        for (size_t c = 0; c < m_names.size(); ++c)
            out[c].push_back(m_rows[m_pos][c]);
        ++m_pos;
    }
    return out;
}

std::map<std::string, std::string> parseConnectString(const std::string &connect) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos <= connect.size()) {
        size_t end = connect.find(';', pos);
        if (end == std::string::npos)
            end = connect.size();
        const std::string part = connect.substr(pos, end - pos);
        const size_t eq = part.find('=');
        if (eq != std::string::npos)
            out[lowerAscii(part.substr(0, eq))] = part.substr(eq + 1);
        pos = end + 1;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Several programs share a database (the main program, tesmoctl from a script, the updater),
// and SQLite keeps them apart with POSIX locks. Closing any descriptor of a file drops every
// POSIX lock that the process holds on it, so a file that this process has open through SQLite
// is never opened by anything else here: another program would then take itself for the last
// connection, write the log back and delete it under this one, whose later writes would go
// into a log that nobody else sees. The checks below use stat() and SQLite's own descriptor.
void checkDatabaseFile(const std::string &path) {
    std::error_code ec;
    if (path.empty() || !fs::exists(path, ec))
        throw DbError("データベースファイルが見つかりません: " + path);
    if (fs::is_directory(path, ec))
        throw DbError("データベースファイルではなくフォルダです: " + path);
    // SQLite would take an empty file for a new database and write one into it.
    if (fs::file_size(path, ec) == 0 && !ec)
        throw DbError("データベースファイルではありません: " + path);
}

namespace {
std::atomic<unsigned long long> g_commits{0};

// Every SQLite file begins with these 16 bytes. They are read through the descriptor that the
// connection holds, never through one of our own (see checkDatabaseFile), and before any
// statement: SQLite would otherwise take up a log beside a file that is none of its own.
bool hasSqliteHeader(sqlite3 *db) {
    static const char kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                    'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods)
        return false;
    char head[sizeof kMagic] = {};
    return file->pMethods->xRead(file, head, sizeof head, 0) == SQLITE_OK &&
           std::memcmp(head, kMagic, sizeof head) == 0;
}

int countCommit(void *connectionCount) {
    ++g_commits;
    ++*static_cast<unsigned long long *>(connectionCount);
    return 0; // the commit goes ahead
}

std::pair<unsigned long long, unsigned long long> fileIdentity(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {0, 0};
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}
} // namespace

std::unique_ptr<Database> Database::open(const std::string &path, const std::string &connect) {
    std::error_code ec;
    checkDatabaseFile(path);

    std::unique_ptr<Database> db(new Database());
    db->m_path = path;
    const int rc =
        sqlite3_open_v2(path.c_str(), &db->m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = db->m_db ? sqlite3_errmsg(db->m_db) : "out of memory";
        db->close();
        throw DbError("データベースファイルを開けません: " + path + " (" + msg + ")");
    }
    db->m_fileId = fileIdentity(path);
    sqlite3_busy_timeout(db->m_db, 10000);
    sqlite3_extended_result_codes(db->m_db, 1);
    sqlite3_commit_hook(db->m_db, countCommit, &db->m_commits);

    const std::string wanted = parseConnectString(connect)["pwd"];
    try {
        if (!db->headerReadable())
            throw DbError("データベースファイルではありません: " + path);
        // Only a file that carries our catalog is ours; nothing is written to any other
        // (the journal mode below would already change a foreign file).
        if (!db->hasTable(kMetaTable))
            throw DbError("データベースファイルではありません: " + path);
        std::string stored;
        const Value v = db->scalar("SELECT value FROM tesmo_sys_meta WHERE key='password'");
        if (!v.isNull())
            stored = v.toText();
        if (stored.empty() != wanted.empty())
            throw DbError(wanted.empty() ? "パスワードが必要なデータベースです。"
                                         : "パスワードが正しくありません。");
        if (!stored.empty()) {
            const size_t colon = stored.find(':');
            if (colon == std::string::npos ||
                passwordHash(stored.substr(0, colon), wanted) != stored.substr(colon + 1))
                throw DbError("パスワードが正しくありません。");
        }
        // A file cut short still opens; its header tells how long it should be.
        if (!fs::exists(path + "-wal", ec)) {
            const long long pages = db->scalar("PRAGMA page_count").toInt();
            const long long pageSize = db->scalar("PRAGMA page_size").toInt();
            const auto len = static_cast<long long>(fs::file_size(path, ec));
            if (ec || len < pages * pageSize)
                throw DbError("データベースファイルが壊れています (途中で切れています)。");
        }
    } catch (const DbError &e) {
        std::string what = e.what();
        if (what.find("file is not a database") != std::string::npos)
            what = "データベースファイルではありません: " + path + " (" + what + ")";
        else if (what.find("malformed") != std::string::npos)
            what = "データベースファイルが壊れています: " + path + " (" + what + ")";
        db->close();
        throw DbError(what);
    }

    registerJetFunctions(db->m_db);
    db->applyPragmas();
    db->loadLinks();
    db->materialiseQueries();
    return db;
}

Database::~Database() {
    close();
}

void Database::verifyFile() const {
    checkDatabaseFile(m_path);
    if (fileIdentity(m_path) != m_fileId)
        throw DbError("データベースファイルが別のファイルに置き換えられています: " + m_path);
    if (!headerReadable())
        throw DbError("データベースファイルではありません: " + m_path);
}

bool Database::headerReadable() const {
    return m_db && hasSqliteHeader(m_db);
}

long long Database::dataVersion() const {
    if (!m_db)
        throw DbError("データベースが閉じています。");
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &stmt, nullptr) != SQLITE_OK)
        fail();
    const int rc = sqlite3_step(stmt);
    const long long version = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW)
        fail();
    return version;
}

void Database::backupTo(const std::string &dst) {
    if (!m_db)
        throw DbError("データベースが閉じています。");
    std::error_code ec;
    if (fs::exists(dst, ec))
        throw DbError("ファイルは既に存在します: " + dst);
    sqlite3 *out = nullptr;
    std::string error;
    if (sqlite3_open_v2(dst.c_str(), &out, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = out ? sqlite3_errmsg(out) : "out of memory";
    } else if (sqlite3_backup *copy = sqlite3_backup_init(out, "main", m_db, "main")) {
        sqlite3_backup_step(copy, -1);
        if (sqlite3_backup_finish(copy) != SQLITE_OK)
            error = sqlite3_errmsg(out);
    } else {
        error = sqlite3_errmsg(out);
    }
    sqlite3_close(out);
    if (!error.empty()) {
        for (const char *suffix : {"", "-journal"})
            fs::remove(dst + suffix, ec);
        throw DbError("データベースを " + dst + " に複写できません (" + error + ")");
    }
}

void Database::close() noexcept {
    if (!m_db)
        return;
    clearCache();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_links.clear();
    m_functions.clear();
}

void Database::fail() const {
    throw DbError(m_db ? sqlite3_errmsg(m_db) : "データベースが閉じています。");
}

std::string Database::translate(const std::string &sql) const {
    return translateSql(sql, m_links);
}

sqlite3_stmt *Database::prepare(const std::string &sql) {
    if (!m_db)
        throw DbError("データベースが閉じています。");
    const auto cached = m_cache.find(sql);
    if (cached != m_cache.end() && !cached->second.inUse) {
        cached->second.inUse = true;
        return cached->second.stmt;
    }
    const std::string translated = translate(sql);
    sqlite3_stmt *stmt = nullptr;
    const char *tail = nullptr;
    if (sqlite3_prepare_v3(m_db, translated.c_str(), static_cast<int>(translated.size()),
                           SQLITE_PREPARE_PERSISTENT, &stmt, &tail) != SQLITE_OK)
        fail();
    if (!stmt)
        throw DbError("SQL ステートメントが空です。");
    // One statement per call: anything after it but blanks and ";" is refused.
    for (const char *p = tail; p && *p; ++p) {
        if (*p != ';' && !std::isspace(static_cast<unsigned char>(*p))) {
            sqlite3_finalize(stmt);
            throw DbError("SQL ステートメントの後に文字があります。");
        }
    }
    // A text in use already (a statement run while another walks its rows) gets a statement
    // of its own, finalized when it is released.
    if (cached == m_cache.end()) {
        if (m_cache.size() >= kStatementCacheSize)
            clearCache();
        m_cache.emplace(sql, CachedStatement{stmt, true});
    }
    return stmt;
}

sqlite3_stmt *Database::prepare(const std::string &sql, const std::vector<Value> &params) {
    sqlite3_stmt *stmt = prepare(sql);
    try {
        bindAll(stmt, params);
    } catch (const DbError &) {
        release(sql, stmt);
        throw;
    }
    return stmt;
}

// Finalizes the statements that are not in use; one in use leaves the cache and is finalized
// when it is released.
void Database::clearCache() {
    for (auto it = m_cache.begin(); it != m_cache.end(); it = m_cache.erase(it))
        if (!it->second.inUse)
            sqlite3_finalize(it->second.stmt);
}

// Keeps a finished statement for its next use; the import repeats the same texts thousands of
// times, and each of them is prepared once and stays in its slot.
void Database::release(const std::string &sql, sqlite3_stmt *stmt) {
    if (!stmt)
        return;
    const auto cached = m_cache.find(sql);
    if (cached == m_cache.end() || cached->second.stmt != stmt) {
        sqlite3_finalize(stmt);
        return;
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    cached->second.inUse = false;
}

int bindValue(sqlite3_stmt *stmt, int index, const Value &v) {
    switch (v.type()) {
    case Value::Type::Null:
        return sqlite3_bind_null(stmt, index);
    case Value::Type::Integer:
        return sqlite3_bind_int64(stmt, index, v.toInt());
    case Value::Type::Real:
        return sqlite3_bind_double(stmt, index, v.toDouble());
    case Value::Type::Text:
        break;
    }
    const std::string s = v.toText();
    return sqlite3_bind_text(stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void Database::bindAll(sqlite3_stmt *stmt, const std::vector<Value> &params) {
    if (static_cast<int>(params.size()) != sqlite3_bind_parameter_count(stmt))
        throw DbError("パラメータの数が一致しません。");
    for (size_t i = 0; i < params.size(); ++i)
        if (bindValue(stmt, static_cast<int>(i) + 1, params[i]) != SQLITE_OK)
            fail();
}

void Database::runToEnd(const std::string &sql, sqlite3_stmt *stmt) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        const std::string msg = sqlite3_errmsg(m_db);
        release(sql, stmt);
        throw DbError(msg);
    }
    release(sql, stmt);
}

int RowView::size() const {
    return sqlite3_column_count(m_stmt);
}

Value::Type RowView::type(int col) const {
    switch (sqlite3_column_type(m_stmt, col)) {
    case SQLITE_INTEGER:
        return Value::Type::Integer;
    case SQLITE_FLOAT:
        return Value::Type::Real;
    case SQLITE_NULL:
        return Value::Type::Null;
    default:
        return Value::Type::Text;
    }
}

std::int64_t RowView::integer(int col) const {
    return sqlite3_column_int64(m_stmt, col);
}

double RowView::real(int col) const {
    return sqlite3_column_double(m_stmt, col);
}

std::string_view RowView::text(int col) const {
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, col));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, col)))
             : std::string_view();
}

Value RowView::value(int col) const {
    switch (type(col)) {
    case Value::Type::Integer:
        return Value(integer(col));
    case Value::Type::Real:
        return Value(real(col));
    case Value::Type::Null:
        return {};
    case Value::Type::Text:
        break;
    }
    return Value(std::string(text(col)));
}

namespace {
// The fields of the row a statement stands on.
void readRow(sqlite3_stmt *stmt, int cols, std::vector<Value> &row) {
    const RowView view(stmt);
    row.clear();
    for (int c = 0; c < cols; ++c)
        row.push_back(view.value(c));
}
} // namespace

ResultSet Database::collect(const std::string &sql, sqlite3_stmt *stmt) {
    ResultSet rs;
    const int cols = sqlite3_column_count(stmt);
    for (int c = 0; c < cols; ++c)
        rs.m_names.emplace_back(sqlite3_column_name(stmt, c));
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::vector<Value> row;
        row.reserve(static_cast<size_t>(cols));
        readRow(stmt, cols, row);
        rs.m_rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        const std::string msg = sqlite3_errmsg(m_db);
        release(sql, stmt);
        throw DbError(msg);
    }
    release(sql, stmt);
    return rs;
}

void Database::execute(const std::string &sql) {
    runToEnd(sql, prepare(sql));
}

void Database::execute(const std::string &sql, const std::vector<Value> &params) {
    runToEnd(sql, prepare(sql, params));
}

long long Database::changes() const {
    return m_db ? sqlite3_changes64(m_db) : 0;
}

bool Database::inTransaction() const {
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

ResultSet Database::openRecordset(const std::string &sql) {
    return collect(sql, prepare(sql));
}

ResultSet Database::openRecordset(const std::string &sql, const std::vector<Value> &params) {
    return collect(sql, prepare(sql, params));
}

void Database::forEachRow(const std::string &sql, const std::vector<Value> &params,
                          const std::function<void(const RowView &)> &row) {
    sqlite3_stmt *stmt = prepare(sql, params);
    const RowView view(stmt);
    int rc;
    try {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            row(view);
    } catch (...) {
        release(sql, stmt);
        throw;
    }
    if (rc != SQLITE_DONE) {
        const std::string msg = sqlite3_errmsg(m_db);
        release(sql, stmt);
        throw DbError(msg);
    }
    release(sql, stmt);
}

namespace {
Value valueOf(sqlite3_value *v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return Value(static_cast<std::int64_t>(sqlite3_value_int64(v)));
    case SQLITE_FLOAT:
        return Value(sqlite3_value_double(v));
    case SQLITE_NULL:
        return {};
    default: {
        const auto *p = reinterpret_cast<const char *>(sqlite3_value_text(v));
        return Value(std::string(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(v))));
    }
    }
}

void callScalarFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
    const auto &fn = *static_cast<const Database::ScalarFunction *>(sqlite3_user_data(ctx));
    try {
        std::vector<Value> args;
        args.reserve(static_cast<size_t>(argc));
        for (int i = 0; i < argc; ++i)
            args.push_back(valueOf(argv[i]));
        const Value result = fn(args);
        switch (result.type()) {
        case Value::Type::Null:
            sqlite3_result_null(ctx);
            break;
        case Value::Type::Integer:
            sqlite3_result_int64(ctx, result.toInt());
            break;
        case Value::Type::Real:
            sqlite3_result_double(ctx, result.toDouble());
            break;
        case Value::Type::Text: {
            const std::string text = result.toText();
            sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
        }
    } catch (const std::exception &e) {
        sqlite3_result_error(ctx, e.what(), -1);
    }
}
} // namespace

void Database::defineFunction(const std::string &name, int arity, ScalarFunction fn) {
    if (!m_db)
        throw DbError("データベースが閉じています。");
    if (m_functions.count(name))
        return;
    auto stored = std::make_unique<ScalarFunction>(std::move(fn));
    if (sqlite3_create_function_v2(m_db, name.c_str(), arity, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   stored.get(), callScalarFunction, nullptr, nullptr,
                                   nullptr) != SQLITE_OK)
        fail();
    m_functions.emplace(name, std::move(stored));
}

Value Database::scalar(const std::string &sql) {
    ResultSet rs = openRecordset(sql);
    if (rs.eof() || rs.fieldCount() == 0)
        return {};
    return rs.field(0);
}

void Database::executeNative(const std::string &sqliteSql) {
    if (!m_db)
        throw DbError("データベースが閉じています。");
    clearCache();
    raw(sqliteSql);
}

void Database::raw(const std::string &sqliteSql) {
    char *err = nullptr;
    if (sqlite3_exec(m_db, sqliteSql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string msg = err ? err : "unknown error";
        sqlite3_free(err);
        throw DbError(msg);
    }
}

bool Database::hasTable(const std::string &name) {
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name=?",
                           -1, &stmt, nullptr) != SQLITE_OK)
        fail();
    sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail();
    return rc == SQLITE_ROW;
}

// The settings of every connection, in one place.
//   journal_mode=WAL    readers (the grids, the chart's own connection) never wait for the import
//   synchronous=NORMAL  a commit is not flushed to the disk; the log is, at each checkpoint
//   cache_size          64 MB rather than 2 MB: an import reads some 30 dates of T_NEARLY for
//                       the month row and changes a few thousand pages, which did not fit, so
//                       pages were read again from the file and written out before the commit
void Database::applyPragmas() {
    raw("PRAGMA journal_mode=WAL");
    raw("PRAGMA synchronous=NORMAL");
    raw("PRAGMA cache_size=-65536");
}

void Database::checkpoint() {
    raw("PRAGMA wal_checkpoint(TRUNCATE)");
}

// ---------------------------------------------------------------------------------------------
// Linked tables

void Database::attachLink(const std::string &name, const std::string &file,
                          const std::string &source) {
    const std::string schema = linkSchema(name);
    clearCache(); // cached statements were translated without this link
    std::error_code ec;
    if (!fs::exists(file, ec))
        throw DbError("リンク先のデータベースファイルが見つかりません: " + file);
    sqlite3_stmt *stmt = nullptr;
    const std::string sql = "ATTACH DATABASE ? AS " + quoteIdent(schema);
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        fail();
    const std::string uri = readWriteUri(file);
    sqlite3_bind_text(stmt, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        throw DbError("リンク先のデータベースファイルを開けません: " + file + " (" +
                      sqlite3_errmsg(m_db) + ")");
    try {
        const Value found = scalar(
            "SELECT count(*) FROM " + quoteIdent(schema) +
            ".sqlite_master WHERE type='table' AND name=" + quoteText(source) + " COLLATE NOCASE");
        if (found.toInt() == 0)
            throw DbError("リンク先のデータベースにテーブル " + source + " がありません: " + file);
    } catch (const DbError &) {
        raw("DETACH DATABASE " + quoteIdent(schema));
        throw;
    }
    m_links[name] = {schema, source};
}

void Database::loadLinks() {
    if (!hasTable(kLinksTable))
        return;
    ResultSet rs = openRecordset("SELECT name, file, source FROM tesmo_sys_links ORDER BY rowid");
    for (; !rs.eof(); rs.moveNext()) {
        try {
            attachLink(rs.field(0).toText(), rs.field(1).toText(), rs.field(2).toText());
        } catch (const DbError &) {
            // A link whose file is gone stays defined; statements that use it fail with
            // "no such table", and the start-up check reports it to the user.
        }
    }
}

bool Database::isLinkedTable(const std::string &name) const {
    for (const auto &[n, t] : m_links)
        if (equalsIgnoringAsciiCase(n, name))
            return true;
    return false;
}

std::vector<std::string> Database::tableDefNames() {
    std::vector<std::string> names;
    ResultSet rs = openRecordset(
        "SELECT name FROM main.sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite~_%' "
        "ESCAPE '~' AND name NOT LIKE 'tesmo~_sys~_%' ESCAPE '~' ORDER BY name");
    for (; !rs.eof(); rs.moveNext())
        names.push_back(rs.field(0).toText());
    if (hasTable(kLinksTable)) {
        ResultSet links = openRecordset("SELECT name FROM tesmo_sys_links ORDER BY rowid");
        for (; !links.eof(); links.moveNext())
            names.push_back(links.field(0).toText());
    }
    return names;
}

void Database::deleteTableDef(const std::string &name) {
    if (hasTable(kLinksTable)) {
        ResultSet rs = openRecordset("SELECT name FROM tesmo_sys_links WHERE name=?", {name});
        if (!rs.eof()) {
            const std::string stored = rs.field(0).toText();
            for (auto it = m_links.begin(); it != m_links.end(); ++it) {
                if (equalsIgnoringAsciiCase(it->first, name)) {
                    clearCache();
                    raw("DETACH DATABASE " + quoteIdent(it->second.schema));
                    m_links.erase(it);
                    break;
                }
            }
            execute("DELETE FROM tesmo_sys_links WHERE name=?", {stored});
            return;
        }
    }
    if (hasTable(name) && lowerAscii(name).rfind("tesmo_sys_", 0) != 0) {
        raw("DROP TABLE " + quoteIdent(name));
        return;
    }
    throw DbError("テーブル '" + name + "' が見つかりません。");
}

void Database::createLinkedTable(const std::string &name, const std::string &connect,
                                 const std::string &sourceTable) {
    const std::string file = parseConnectString(connect)["database"];
    if (name.empty() || file.empty() || sourceTable.empty())
        throw DbError("リンクテーブルの名前、ファイル、テーブルを指定してください。");
    if (isLinkedTable(name) || hasTable(name))
        throw DbError("テーブル '" + name + "' は既に存在します。");
    attachLink(name, file, sourceTable);
    try {
        raw(kCatalogSql);
        execute("INSERT INTO tesmo_sys_links(name, file, source) VALUES(?, ?, ?)",
                {name, file, sourceTable});
    } catch (const DbError &) {
        raw("DETACH DATABASE " + quoteIdent(linkSchema(name)));
        m_links.erase(name);
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Stored queries: kept as text in the catalog, made TEMP views on every connection, because
// SQLite refuses a persistent view over an attached table.

void Database::materialiseQueries() {
    if (!hasTable(kQueriesTable))
        return;
    ResultSet rs = openRecordset("SELECT name, sql FROM tesmo_sys_queries ORDER BY rowid");
    std::vector<std::pair<std::string, std::string>> pending;
    for (; !rs.eof(); rs.moveNext())
        pending.emplace_back(rs.field(0).toText(), rs.field(1).toText());
    // A query may read another one created later; retry until nothing more succeeds.
    bool progress = true;
    while (!pending.empty() && progress) {
        progress = false;
        for (auto it = pending.begin(); it != pending.end();) {
            try {
                raw("CREATE TEMP VIEW IF NOT EXISTS " + quoteIdent(it->first) + " AS " +
                    withoutTrailingSemicolons(translate(it->second)));
                it = pending.erase(it);
                progress = true;
            } catch (const DbError &) {
                ++it; // e.g. its linked table's file is gone; using it then fails
            }
        }
    }
}

std::vector<std::string> Database::queryDefNames() {
    std::vector<std::string> names;
    if (!hasTable(kQueriesTable))
        return names;
    ResultSet rs = openRecordset("SELECT name FROM tesmo_sys_queries ORDER BY rowid");
    for (; !rs.eof(); rs.moveNext())
        names.push_back(rs.field(0).toText());
    return names;
}

std::string Database::queryDefSql(const std::string &name) {
    if (hasTable(kQueriesTable)) {
        ResultSet rs = openRecordset("SELECT sql FROM tesmo_sys_queries WHERE name=?", {name});
        if (!rs.eof())
            return rs.field(0).toText();
    }
    throw DbError("クエリ '" + name + "' が見つかりません。");
}

void Database::createQueryDef(const std::string &name, const std::string &sql) {
    if (name.empty())
        throw DbError("クエリの名前が空です。");
    raw(kCatalogSql);
    if (!openRecordset("SELECT 1 FROM tesmo_sys_queries WHERE name=?", {name}).eof() ||
        hasTable(name))
        throw DbError("オブジェクト '" + name + "' は既に存在します。");
    // The view is made first: a query that does not compile is refused and not stored.
    raw("CREATE TEMP VIEW " + quoteIdent(name) + " AS " +
        withoutTrailingSemicolons(translate(sql)));
    try {
        // SQLite resolves a view's columns only when it is used.
        sqlite3_stmt *probe = nullptr;
        const std::string use = "SELECT * FROM temp." + quoteIdent(name);
        if (sqlite3_prepare_v2(m_db, use.c_str(), -1, &probe, nullptr) != SQLITE_OK)
            fail();
        sqlite3_finalize(probe);
        execute("INSERT INTO tesmo_sys_queries(name, sql) VALUES(?, ?)", {name, sql});
    } catch (const DbError &) {
        raw("DROP VIEW IF EXISTS temp." + quoteIdent(name));
        throw;
    }
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<Database> createDatabaseFile(const std::string &path, const std::string &password) {
    std::error_code ec;
    if (fs::exists(path, ec))
        throw DbError("ファイルは既に存在します: " + path);
    sqlite3 *raw = nullptr;
    if (sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        const std::string msg = raw ? sqlite3_errmsg(raw) : "out of memory";
        sqlite3_close(raw);
        throw DbError("データベースファイルを作成できません: " + path + " (" + msg + ")");
    }
    std::string sql = std::string("PRAGMA journal_mode=WAL;") + kCatalogSql;
    if (!password.empty()) {
        const std::string salt = newSalt();
        sql += "INSERT INTO tesmo_sys_meta(key, value) VALUES('password', " +
               quoteText(salt + ":" + passwordHash(salt, password)) + ");";
    }
    char *err = nullptr;
    const int rc = sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &err);
    const std::string msg = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(raw);
    if (rc != SQLITE_OK) {
        fs::remove(path, ec);
        throw DbError("データベースファイルを作成できません: " + path + " (" + msg + ")");
    }
    return Database::open(path, password.empty() ? "" : ";pwd=" + password);
}

void compactDatabase(const std::string &src, const std::string &dst, const std::string &dstLocale,
                     const std::string &srcConnect) {
    (void)dstLocale; // SQLite stores UTF-8 whatever the locale; the collation lives in the schema
    std::error_code ec;
    if (fs::exists(dst, ec))
        throw DbError("ファイルは既に存在します: " + dst);
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        fs::remove(dst + suffix, ec);
    auto db = Database::open(src, srcConnect);
    db->checkpoint();
    db->execute("VACUUM INTO ?", {Value(dst)});
    db->close();
}

unsigned long long committedInThisProcess() {
    return g_commits;
}

bool isFileOfDatabase(const Database &db, const std::string &path) {
    const auto file = fileIdentity(path);
    if (file == std::pair(0ULL, 0ULL))
        return false;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        if (fileIdentity(db.path() + suffix) == file)
            return true;
    return false;
}

namespace {
// A connection of its own to `path`, for the steps that must see whether anybody else has the
// file open. Not a Database: its settings would put the file back into WAL mode.
struct RawConnection {
    sqlite3 *db = nullptr;
    explicit RawConnection(const std::string &path) {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            const std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
            throw DbError("データベースファイルを開けません: " + path + " (" + msg + ")");
        }
    }
    ~RawConnection() { sqlite3_close(db); }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;
    // SQLite's result code; `error` receives its message, `answer` the first field of the
    // last row.
    int exec(const char *sql, std::string &error, std::string *answer = nullptr) {
        char *err = nullptr;
        const int rc = sqlite3_exec(
            db, sql,
            [](void *out, int, char **fields, char **) {
                if (out && fields[0])
                    *static_cast<std::string *>(out) = fields[0];
                return 0;
            },
            answer, &err);
        error = err ? err : "";
        sqlite3_free(err);
        return rc;
    }
};

// Leaving WAL mode needs the file to itself: while any other connection, of this process or
// another, has it open, SQLite refuses. On success SQLite has written the log back into the
// file and removed the -wal and -shm. False when the file is no SQLite database.
bool takeOutOfWalMode(RawConnection &c, const std::string &path) {
    if (!hasSqliteHeader(c.db))
        return false;
    std::string error;
    std::string mode;
    const int rc = c.exec("PRAGMA journal_mode=DELETE", error, &mode);
    if ((rc & 0xff) == SQLITE_NOTADB)
        return false;
    // A mode that could not be changed is answered with the old one.
    if (rc != SQLITE_OK || lowerAscii(mode) != "delete")
        throw DatabaseInUse(path, error);
    return true;
}
} // namespace

DatabaseInUse::DatabaseInUse(const std::string &path, const std::string &detail)
    : DbError("データベースが他のプログラムで使用中です: " + path +
              (detail.empty() ? "" : " (" + detail + ")")) {}

void settleDatabaseFile(const std::string &path) {
    std::error_code ec;
    if (!fs::exists(path, ec) || fs::is_directory(path, ec) || fs::file_size(path, ec) == 0)
        return;
    RawConnection c(path);
    takeOutOfWalMode(c, path);
}

void replaceDatabaseFile(const std::string &path, const std::string &replacement) {
    RawConnection c(path);
    std::string error;
    if (!takeOutOfWalMode(c, path))
        throw DbError("データベースファイルではありません: " + path);
    // Held until the new file is in place: a program that opens the old one in this moment
    // waits for the lock, and nobody writes into a file that is about to be replaced.
    if (c.exec("BEGIN EXCLUSIVE", error) != SQLITE_OK)
        throw DatabaseInUse(path, error);
    std::error_code ec;
    fs::rename(replacement, path, ec); // atomic: the old file or the new one, never half of one
    c.exec("ROLLBACK", error);
    if (ec)
        throw DbError("データベースを置き換えられません: " + path + " (" + ec.message() + ")");
}

void repairDatabase(const std::string &path, const std::string &connect) {
    auto db = Database::open(path, connect);
    db->execute("REINDEX");
    const ResultSet rs = db->openRecordset("PRAGMA integrity_check");
    if (rs.rowCount() != 1 || rs.at(0, 0).textOr("") != "ok") {
        std::string report;
        for (size_t r = 0; r < rs.rowCount() && r < 5; ++r)
            report += rs.at(r, 0).textOr("") + "\n";
        throw DbError("データベースを修復できません: " + report);
    }
    db->checkpoint();
}

} // namespace tesmo::storage
