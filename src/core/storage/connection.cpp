#include "core/storage/connection.h"

#include "core/common/paths.h"
#include "core/common/text.h"
#include "core/storage/db_error.h"
#include "core/storage/settings_keys.h"
#include "core/storage/watch_tables.h"

#include <unistd.h>

#include <cerrno>

#include <filesystem>

namespace fs = std::filesystem;

namespace tesmo::storage {
namespace {
std::unique_ptr<Database> &mainSlot() {
    static std::unique_ptr<Database> db;
    return db;
}

std::unique_ptr<Database> openConfigured() {
    // Relative paths in the settings are taken from the folder of the default database, which
    // is the install folder unless that cannot be written.
    const std::string dir = folderFor(FileKind::Database);
    if (::chdir(dir.c_str()) != 0) {
        // ignored, as every error of this step
    }
    const std::string path = databasePath();
    provideDefaultDatabase(path);
    std::unique_ptr<Database> db = Database::open(path, kConnectString);
    addWatchTablesOnOpen(*db);
    return db;
}

std::string &databasePathOverride() {
    static std::string path;
    return path;
}

std::string normalised(const std::string &path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path).lexically_normal().string() : p.string();
}
} // namespace

std::string shippedDatabasePath() {
    return installPath(kShippedDatabase);
}

// The copy appears whole (copy, then rename), so that a second program starting at the same
// moment never opens half a file; an existing file is never replaced.
void provideDefaultDatabase(const std::string &path) {
    const std::string shipped = shippedDatabasePath();
    if (fileExists(path) || normalised(path) != normalised(defaultOf(keys::mdbpath)) ||
        !fileExists(shipped))
        return;
    const std::string part = path + ".new-" + std::to_string(::getpid());
    std::error_code ec;
    fs::copy_file(shipped, part, fs::copy_options::overwrite_existing, ec);
    // link() never replaces: of two programs starting together, the second keeps the first's.
    if (!ec && ::link(part.c_str(), path.c_str()) != 0 && errno != EEXIST && !fileExists(path))
        fs::rename(part, path, ec); // a file system without hard links
    std::error_code ignored;
    fs::remove(part, ignored);
    if (ec)
        throw DbError("データベース " + shipped + " を " + path +
                      " にコピーできません: " + ec.message());
}

std::string databasePath() {
    return databasePathOverride().empty() ? readSetting(keys::mdbpath) : databasePathOverride();
}

void setDatabasePathOverride(const std::string &path) {
    databasePathOverride() = path;
}

void connectDatabase() {
    closeDatabase();
    mainSlot() = openConfigured();
}

void closeDatabase() noexcept {
    if (mainSlot()) {
        mainSlot()->close();
        mainSlot().reset();
    }
}

bool isDatabaseConnected() {
    return mainSlot() && mainSlot()->isOpen();
}

Database &mainDatabase() {
    if (!isDatabaseConnected())
        throw DbError("データベースに接続していません。");
    return *mainSlot();
}

void ChartConnection::connect() {
    close();
    m_db = openConfigured();
}

void ChartConnection::close() {
    if (m_db) {
        m_db->close();
        m_db.reset();
    }
}

Database &ChartConnection::db() {
    if (!m_db)
        throw DbError("データベースに接続していません。");
    return *m_db;
}

std::string portLinkTableName(long long useridno) {
    return "userportf" + std::to_string(useridno);
}

bool attachPortfolioLink(Database &db, const std::string &linkName,
                         const std::string &portfilePath) {
    bool existed = false;
    for (const std::string &name : db.tableDefNames()) {
        if (equalsIgnoringAsciiCase(name, linkName)) {
            db.deleteTableDef(name);
            existed = true;
        }
    }
    db.createLinkedTable(linkName, ";DATABASE=" + portfilePath, "T_PORT");
    return existed;
}

std::string ensureDerivedQuery(Database &db, const std::string &base, const std::string &linkName) {
    std::string name = base + linkName;
    for (const std::string &q : db.queryDefNames())
        if (q == name)
            return name;
    std::string sql = db.queryDefSql(base);
    for (size_t pos = 0; (pos = sql.find("T_PORT", pos)) != std::string::npos;
         pos += linkName.size())
        sql.replace(pos, 6, linkName);
    db.createQueryDef(name, sql);
    return name;
}

} // namespace tesmo::storage
