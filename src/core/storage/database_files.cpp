// Whole database files: a new one, a compacted copy, a repair, and the steps that make a file
// whole or put another in its place for the programs that copy or replace it.
#include "core/storage/database.h"

#include "core/common/crypto.h"
#include "core/common/text.h"
#include "core/storage/database_internal.h"
#include "core/storage/db_error.h"

#include <sqlite3.h>

#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace tesmo::storage {
namespace {

std::string newSalt() {
    std::random_device rd;
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += crypto::sha256Hex(std::to_string(rd())).substr(0, 8);
    return s;
}

} // namespace

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
    std::string sql = std::string("PRAGMA journal_mode=WAL;") + detail::kCatalogSql;
    if (!password.empty()) {
        const std::string salt = newSalt();
        sql += "INSERT INTO tesmo_sys_meta(key, value) VALUES('password', " +
               quoteText(salt + ":" + detail::passwordHash(salt, password)) + ");";
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

namespace {
// A connection of its own to `path`, for the steps that must see whether anybody else has the
// file open. Not a Database: its settings would put the file back into WAL mode.
struct RawConnection {
    sqlite3 *db = nullptr;
    explicit RawConnection(const std::string &path) {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            const std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
            // A failed open still leaves a handle to close, and the destructor does not run.
            sqlite3_close(db);
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
    if (!detail::hasSqliteHeader(c.db))
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
