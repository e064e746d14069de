// The catalog of a database: its table definitions, the linked tables (another file's table,
// attached to the connection) and the stored queries. A stored query is kept as text in the
// catalog and made a TEMP view on every connection, because SQLite refuses a persistent view
// over an attached table.
#include "core/storage/database.h"

#include "core/common/text.h"
#include "core/storage/database_internal.h"
#include "core/storage/db_error.h"

#include <sqlite3.h>

#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace tesmo::storage {
namespace {

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

} // namespace

void Database::attachLink(const std::string &name, const std::string &file,
                          const std::string &source) {
    const std::string schema = linkSchema(name);
    clearCache(); // cached statements were translated without this link
    std::error_code ec;
    if (!fs::exists(file, ec))
        throw DbError("リンク先のデータベースファイルが見つかりません: " + file);
    sqlite3_stmt *prepared = nullptr;
    const std::string sql = "ATTACH DATABASE ? AS " + quoteIdent(schema);
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &prepared, nullptr) != SQLITE_OK)
        fail();
    const detail::OwnedStatement stmt(prepared);
    const std::string uri = readWriteUri(file);
    sqlite3_bind_text(stmt.get(), 1, uri.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE)
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
    if (!hasTable(detail::kLinksTable))
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
    if (hasTable(detail::kLinksTable)) {
        ResultSet links = openRecordset("SELECT name FROM tesmo_sys_links ORDER BY rowid");
        for (; !links.eof(); links.moveNext())
            names.push_back(links.field(0).toText());
    }
    return names;
}

void Database::deleteTableDef(const std::string &name) {
    if (hasTable(detail::kLinksTable)) {
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
        raw(detail::kCatalogSql);
        execute("INSERT INTO tesmo_sys_links(name, file, source) VALUES(?, ?, ?)",
                {name, file, sourceTable});
    } catch (const DbError &) {
        raw("DETACH DATABASE " + quoteIdent(linkSchema(name)));
        m_links.erase(name);
        throw;
    }
}

void Database::materialiseQueries() {
    if (!hasTable(detail::kQueriesTable))
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
    if (!hasTable(detail::kQueriesTable))
        return names;
    ResultSet rs = openRecordset("SELECT name FROM tesmo_sys_queries ORDER BY rowid");
    for (; !rs.eof(); rs.moveNext())
        names.push_back(rs.field(0).toText());
    return names;
}

std::string Database::queryDefSql(const std::string &name) {
    if (hasTable(detail::kQueriesTable)) {
        ResultSet rs = openRecordset("SELECT sql FROM tesmo_sys_queries WHERE name=?", {name});
        if (!rs.eof())
            return rs.field(0).toText();
    }
    throw DbError("クエリ '" + name + "' が見つかりません。");
}

void Database::createQueryDef(const std::string &name, const std::string &sql) {
    if (name.empty())
        throw DbError("クエリの名前が空です。");
    raw(detail::kCatalogSql);
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
        const int rc = sqlite3_prepare_v2(m_db, use.c_str(), -1, &probe, nullptr);
        const detail::OwnedStatement probed(probe);
        if (rc != SQLITE_OK)
            fail();
        execute("INSERT INTO tesmo_sys_queries(name, sql) VALUES(?, ?)", {name, sql});
    } catch (const DbError &) {
        raw("DROP VIEW IF EXISTS temp." + quoteIdent(name));
        throw;
    }
}

} // namespace tesmo::storage
