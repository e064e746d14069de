#include "storage/compaction.h"

#include "common/paths.h"
#include "storage/connection.h"
#include "storage/db_error.h"
#include "storage/settings_keys.h"

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

// A database file whose journal is still beside it is in use by another connection:
// replacing it now would hand that journal to the new file.
void requireNoJournal(const std::string &path) {
    std::error_code ec;
    for (const char *suffix : {"-wal", "-journal"})
        if (fs::exists(path + suffix, ec) && fs::file_size(path + suffix, ec) > 0)
            throw DbError("データベースが他のプログラムで使用中のため最適化できません: " + path);
    fs::remove(path + "-shm", ec);
    fs::remove(path + "-wal", ec);
}
} // namespace

bool databaseHasGrown() {
    const long long length = fileLength(databasePath());
    // length > DB_SIZE × 1.8, in whole numbers so that the boundary is exact.
    return static_cast<long double>(length) * 5 >
           static_cast<long double>(readSettingInt(keys::DB_SIZE)) * 9;
}

bool CompactIfGrown(UiPort &port) {
    if (!databaseHasGrown())
        return false;
    CompactDatabaseFile(port);
    return true;
}

void CompactDatabaseFile(UiPort &port) {
    const std::string caption = port.caption();
    const std::string path = databasePath();
    port.setCaption(caption + " DBの領域が増えすぎた為、最適化しています。。");
    port.repaint();
    port.wait(1);
    CloseDatabase();

    const std::string backup = pathFor(FileKind::Backup, kBackupName);
    // Built beside the database, so that the rename below never crosses a file system: the
    // database may live on another disk than the program.
    const std::string compact = compactCopyPath(path);
    try {
        {
            // The backup is the file as it was: copied after its journal was written back.
            auto db = Database::open(path, kConnectString);
            db->checkpoint();
            std::error_code ec;
            removeWithSidecars(backup);
            fs::copy_file(path, backup, fs::copy_options::overwrite_existing, ec);
            if (ec)
                throw DbError("バックアップ " + backup + " を作成できません: " + ec.message());
            db->close();
        }
        removeWithSidecars(compact);
        try {
            compactDatabase(path, compact, kCompactLocale, kConnectString);
        } catch (const std::exception &e) {
            throw DbError("最適化したコピー " + compact + " を作成できません: " + e.what());
        }
        requireNoJournal(path);
        std::error_code ec;
        fs::rename(compact, path, ec); // atomic: the old file or the new one, never half of one
        if (ec)
            throw DbError("最適化したデータベースを置き換えられません: " + ec.message());
        writeSetting(keys::DB_SIZE, std::to_string(fileLength(path)));
        removeWithSidecars(compact);
        ConnectDatabase();
    } catch (const std::exception &e) {
        removeWithSidecars(compact);
        const std::string description = e.what();
        try {
            ConnectDatabase();
        } catch (const std::exception &reopen) {
            throw DbError(description + " / " + reopen.what());
        }
        port.setCaption(caption);
        throw DbError(description);
    }
    port.setCaption(caption);
}

} // namespace tesmo::storage
