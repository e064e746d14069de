#include "core/storage/compaction.h"

#include "core/common/paths.h"
#include "core/storage/connection.h"
#include "core/storage/db_error.h"
#include "core/storage/settings_keys.h"
#include "core/storage/update_lock.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace tesmo::storage {
namespace {
constexpr const char *kBackupName = "tesmo.mbk";

// "tmp" + the database's own name in its folder: "tmptesmo.mdb" beside "tesmo.mdb".
std::string compactCopyPath(const std::string &database) {
    const fs::path p(database);
    return (p.parent_path() / ("tmp" + p.filename().string())).string();
}

void removeWithSidecars(const std::string &path) {
    std::error_code ec;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(path + suffix, ec);
}

} // namespace

bool databaseHasGrown() {
    const long long length = fileLength(databasePath());
    // length > DB_SIZE × 1.8, in whole numbers so that the boundary is exact.
    return static_cast<long double>(length) * 5 >
           static_cast<long double>(readSettingInt(keys::DB_SIZE)) * 9;
}

bool compactIfGrown(UiPort &port) {
    if (!databaseHasGrown())
        return false;
    compactDatabaseFile(port);
    return true;
}

void compactDatabaseFile(UiPort &port) {
    const std::string caption = port.caption();
    const std::string path = databasePath();
    // Not while another program imports into the file; inside this program's own data update
    // the lock is taken again.
    const UpdateLock lock(path);
    port.setCaption(caption + " DBの領域が増えすぎた為、最適化しています。。");
    port.repaint();
    port.wait(1);
    closeDatabase();

    const std::string backup = pathFor(FileKind::Backup, kBackupName);
    // Built beside the database, so that the rename below never crosses a file system: the
    // database may live on another disk than the program.
    const std::string compact = compactCopyPath(path);
    try {
        {
            // The backup is the file as it was, written through the connection: a copy of the
            // file by a descriptor of our own would drop this process's locks on it.
            auto db = Database::open(path, kConnectString);
            removeWithSidecars(backup);
            try {
                db->backupTo(backup);
            } catch (const DbError &e) {
                throw DbError("バックアップ " + backup + " を作成できません: " + e.what());
            }
            db->close();
        }
        removeWithSidecars(compact);
        try {
            compactDatabase(path, compact, kCompactLocale, kConnectString);
        } catch (const std::exception &e) {
            throw DbError("最適化したコピー " + compact + " を作成できません: " + e.what());
        }
        try {
            replaceDatabaseFile(path, compact);
        } catch (const DatabaseInUse &) {
            throw DbError("データベースが他のプログラムで使用中のため最適化できません: " + path);
        } catch (const DbError &e) {
            throw DbError(std::string("最適化したデータベースを置き換えられません: ") + e.what());
        }
        writeSetting(keys::DB_SIZE, std::to_string(fileLength(path)));
        removeWithSidecars(compact);
        connectDatabase();
    } catch (const std::exception &e) {
        removeWithSidecars(compact);
        const std::string description = e.what();
        try {
            connectDatabase();
        } catch (const std::exception &reopen) {
            throw DbError(description + " / " + reopen.what());
        }
        port.setCaption(caption);
        throw DbError(description);
    }
    port.setCaption(caption);
}

} // namespace tesmo::storage
