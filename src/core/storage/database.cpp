// A connection to one database file: opening it (the checks of the file and of its password),
// its settings, what it tells about commits and the file, its backup, and closing it.
#include "core/storage/database.h"

#include "core/common/crypto.h"
#include "core/common/text.h"
#include "core/storage/database_internal.h"
#include "core/storage/db_error.h"
#include "core/storage/jet_functions.h"
#include "core/storage/schema_upgrade.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace tesmo::storage {

namespace detail {

std::string passwordHash(const std::string &salt, const std::string &password) {
    std::string h = salt + password;
    for (int i = 0; i < 1000; ++i)
        h = crypto::sha256Hex(salt + h);
    return h;
}

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

std::pair<unsigned long long, unsigned long long> fileIdentity(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {0, 0};
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

} // namespace detail

namespace {
std::atomic<unsigned long long> g_commits{0};

int countCommit(void *connectionCount) {
    ++g_commits;
    ++*static_cast<unsigned long long *>(connectionCount);
    return 0; // the commit goes ahead
}
} // namespace

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
    db->m_fileId = detail::fileIdentity(path);
    sqlite3_busy_timeout(db->m_db, 10000);
    sqlite3_extended_result_codes(db->m_db, 1);
    sqlite3_commit_hook(db->m_db, countCommit, &db->m_commits);

    const std::string wanted = parseConnectString(connect)["pwd"];
    try {
        if (!db->headerReadable())
            throw DbError("データベースファイルではありません: " + path);
        // Only a file that carries our catalog is ours; nothing is written to any other
        // (the journal mode below would already change a foreign file).
        if (!db->hasTable(detail::kMetaTable))
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
                detail::passwordHash(stored.substr(0, colon), wanted) != stored.substr(colon + 1))
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
    upgradeSchema(*db);
    return db;
}

Database::~Database() {
    close();
}

void Database::verifyFile() const {
    checkDatabaseFile(m_path);
    if (detail::fileIdentity(m_path) != m_fileId)
        throw DbError("データベースファイルが別のファイルに置き換えられています: " + m_path);
    if (!headerReadable())
        throw DbError("データベースファイルではありません: " + m_path);
}

bool Database::headerReadable() const {
    return m_db && detail::hasSqliteHeader(m_db);
}

long long Database::dataVersion() const {
    if (!m_db)
        throw DbError("データベースが閉じています。");
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &prepared, nullptr) != SQLITE_OK)
        fail();
    const detail::OwnedStatement stmt(prepared);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW)
        fail();
    return sqlite3_column_int64(stmt.get(), 0);
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

unsigned long long committedInThisProcess() {
    return g_commits;
}

bool isFileOfDatabase(const Database &db, const std::string &path) {
    const auto file = detail::fileIdentity(path);
    if (file == std::pair(0ULL, 0ULL))
        return false;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        if (detail::fileIdentity(db.path() + suffix) == file)
            return true;
    return false;
}

} // namespace tesmo::storage
