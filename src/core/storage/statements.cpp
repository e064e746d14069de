// Statements on a connection: prepared once per text and kept in a cache, bound, run, and
// read into result sets or row by row; the program's own SQL functions.
#include "core/storage/database.h"
#include "core/storage/database_internal.h"

#include <sqlite3.h>

#include <cctype>

namespace tesmo::storage {
namespace {
constexpr size_t kStatementCacheSize = 64;
} // namespace

void Database::fail() const {
    throw DbError(m_db ? sqlite3_errmsg(m_db) : "データベースが閉じています。");
}

std::string Database::translate(const std::string &sql) const {
    return translateSql(sql, m_links);
}

Database::StatementLease Database::prepare(const std::string &sql) {
    if (!m_db)
        throw DbError("データベースが閉じています。");
    const auto cached = m_cache.find(sql);
    if (cached != m_cache.end() && !cached->second.inUse) {
        cached->second.inUse = true;
        return {*this, sql, cached->second.stmt};
    }
    const std::string translated = translate(sql);
    sqlite3_stmt *prepared = nullptr;
    const char *tail = nullptr;
    if (sqlite3_prepare_v3(m_db, translated.c_str(), static_cast<int>(translated.size()),
                           SQLITE_PREPARE_PERSISTENT, &prepared, &tail) != SQLITE_OK)
        fail();
    detail::OwnedStatement stmt(prepared);
    if (!stmt)
        throw DbError("SQL ステートメントが空です。");
    // One statement per call: anything after it but blanks and ";" is refused.
    for (const char *p = tail; p && *p; ++p)
        if (*p != ';' && !std::isspace(static_cast<unsigned char>(*p)))
            throw DbError("SQL ステートメントの後に文字があります。");
    // A text in use already (a statement run while another walks its rows) gets a statement
    // of its own, finalized when its lease ends.
    if (cached == m_cache.end()) {
        if (m_cache.size() >= kStatementCacheSize)
            clearCache();
        m_cache.emplace(sql, CachedStatement{stmt.get(), true});
    }
    return {*this, sql, stmt.release()};
}

Database::StatementLease Database::prepare(const std::string &sql,
                                           const std::vector<Value> &params) {
    StatementLease stmt = prepare(sql);
    bindAll(stmt.get(), params);
    return stmt;
}

// Finalizes the statements that are not in use; one in use leaves the cache and is finalized
// when its lease ends.
void Database::clearCache() {
    for (auto it = m_cache.begin(); it != m_cache.end(); it = m_cache.erase(it))
        if (!it->second.inUse)
            sqlite3_finalize(it->second.stmt);
}

// Keeps a finished statement for its next use; the import repeats the same texts thousands of
// times, and each of them is prepared once and stays in its slot.
void Database::giveBack(const std::string &sql, sqlite3_stmt *stmt) noexcept {
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

void Database::runToEnd(sqlite3_stmt *stmt) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail();
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

ResultSet Database::collect(sqlite3_stmt *stmt) {
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
    if (rc != SQLITE_DONE)
        fail();
    return rs;
}

void Database::execute(const std::string &sql) {
    runToEnd(prepare(sql).get());
}

void Database::execute(const std::string &sql, const std::vector<Value> &params) {
    runToEnd(prepare(sql, params).get());
}

long long Database::changes() const {
    return m_db ? sqlite3_changes64(m_db) : 0;
}

bool Database::inTransaction() const {
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

ResultSet Database::openRecordset(const std::string &sql) {
    return collect(prepare(sql).get());
}

ResultSet Database::openRecordset(const std::string &sql, const std::vector<Value> &params) {
    return collect(prepare(sql, params).get());
}

void Database::forEachRow(const std::string &sql, const std::vector<Value> &params,
                          const std::function<void(const RowView &)> &row) {
    const StatementLease stmt = prepare(sql, params);
    const RowView view(stmt.get());
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW)
        row(view);
    if (rc != SQLITE_DONE)
        fail();
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
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name=?",
                           -1, &prepared, nullptr) != SQLITE_OK)
        fail();
    const detail::OwnedStatement stmt(prepared);
    sqlite3_bind_text(stmt.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail();
    return rc == SQLITE_ROW;
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

} // namespace tesmo::storage
