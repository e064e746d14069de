#include "core/common/paths.h"
#include "core/storage/compaction.h"
#include "core/storage/connection.h"
#include "core/storage/db_error.h"
#include "core/storage/settings_keys.h"
#include "core/storage/settings_store.h"
#include "core/storage/shipped_database.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

using namespace tesmo::storage;
using tesmo::test::RecordingPort;
using tesmo::test::TempEnv;
namespace fs = std::filesystem;

namespace {

// Fills the connected database until its file is at least `bytes` long.
void growTo(long long bytes) {
    Database &db = mainDatabase();
    static int batch = 0;
    while (tesmo::fileLength(databasePath()) < bytes) {
        ++batch;
        db.executeNative("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x "
                         "< 200) INSERT INTO master(CODE, NAME) SELECT 'g" +
                         std::to_string(batch) + "_' || x, hex(randomblob(200)) FROM c");
        db.checkpoint();
    }
}

TEST(Compaction, ThresholdIsStrictlyAboveOnePointEightTimesDbSize) {
    TempEnv env;
    // Only the file's length counts: a sparse file of the exact size will do.
    const std::string file = env.path("big.mdb");
    writeSetting(keys::mdbpath, file);
    std::ofstream(file).close();
    fs::resize_file(file, 45000000);
    EXPECT_FALSE(databaseHasGrown());
    RecordingPort port;
    EXPECT_FALSE(compactIfGrown(port));
    EXPECT_TRUE(port.captions.empty());
    fs::resize_file(file, 45000001);
    EXPECT_TRUE(databaseHasGrown());
    writeSetting(keys::DB_SIZE, "25000001");
    EXPECT_FALSE(databaseHasGrown());
    writeSetting(keys::DB_SIZE, "abc");
    EXPECT_THROW(databaseHasGrown(), SettingsError);
}

TEST(Compaction, CompactsKeepsBackupAndReopens) {
    TempEnv env;
    writeSetting(keys::mdbpath, env.newDatabase());
    connectDatabase();
    growTo(400000);
    mainDatabase().execute("delete from master where CODE <> 'g1_3'");
    mainDatabase().checkpoint();
    const long long before = tesmo::fileLength(databasePath());
    writeSetting(keys::DB_SIZE, "1000");

    RecordingPort port;
    port.setCaption("Tesmo 1.0");
    EXPECT_TRUE(compactIfGrown(port));
    EXPECT_EQ(port.captions[1], "Tesmo 1.0 DBの領域が増えすぎた為、最適化しています。。");
    EXPECT_EQ(port.caption(), "Tesmo 1.0");
    EXPECT_EQ(port.waits, std::vector<int>{1});

    ASSERT_TRUE(isDatabaseConnected());
    EXPECT_EQ(mainDatabase().scalar("select CODE from master").toText(), "g1_3");
    const long long after = tesmo::fileLength(databasePath());
    EXPECT_LT(after, before / 4);
    EXPECT_EQ(readSetting(keys::DB_SIZE), std::to_string(after));
    EXPECT_EQ(tesmo::fileLength(tesmo::installPath("tesmo.mbk")), before);
    EXPECT_FALSE(fs::exists(env.path("tmptesmo.mdb")));
    auto backup = Database::open(tesmo::installPath("tesmo.mbk"), kConnectString);
    EXPECT_EQ(backup->scalar("select count(*) from master").toInt(), 1);
    backup->close();

    // The next compaction replaces the backup with the file as it was just before it.
    growTo(after + 200000);
    const long long second = tesmo::fileLength(databasePath());
    compactDatabaseFile(port);
    EXPECT_EQ(tesmo::fileLength(tesmo::installPath("tesmo.mbk")), second);
    closeDatabase();
}

TEST(Compaction, FailureKeepsTheOldFileSaysWhyAndTheNextRunTriesAgain) {
    TempEnv env;
    writeSetting(keys::mdbpath, env.newDatabase());
    connectDatabase();
    mainDatabase().execute("insert into master(CODE,NAME) values('1','kept')");
    // A folder where the compacted copy should go, beside the database, makes it fail.
    fs::create_directories(env.path("tmptesmo.mdb/blocker"));
    RecordingPort port;
    port.setCaption("Tesmo");
    try {
        compactDatabaseFile(port);
        ADD_FAILURE() << "compacted through a folder";
    } catch (const DbError &e) {
        EXPECT_NE(std::string(e.what()).find("最適化したコピー"), std::string::npos) << e.what();
    }
    ASSERT_TRUE(isDatabaseConnected());
    EXPECT_EQ(mainDatabase().scalar("select NAME from master").toText(), "kept");
    EXPECT_EQ(port.caption(), "Tesmo");
    EXPECT_EQ(readSetting(keys::DB_SIZE), "25000000");

    fs::remove_all(env.path("tmptesmo.mdb"));
    compactDatabaseFile(port);
    EXPECT_EQ(readSetting(keys::DB_SIZE), std::to_string(tesmo::fileLength(databasePath())));
    EXPECT_EQ(mainDatabase().scalar("select NAME from master").toText(), "kept");
    closeDatabase();
}

// The database on another file system than the program: the compacted copy cannot be renamed
// across, so it has to be built beside the database.
TEST(Compaction, ADatabaseOnAnotherFileSystem) {
    TempEnv env;
    struct stat shm {
    }, tmp{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(env.dir().c_str(), &tmp) != 0 ||
        shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "no second file system: /dev/shm is missing or on the device of "
                     << env.dir();
    std::string dir = "/dev/shm/tesmo-test-XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    struct Cleanup {
        std::string dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{dir};
    const std::string path = dir + "/tesmo.mdb";
    createShippedDatabase(path);
    writeSetting(keys::mdbpath, path);
    connectDatabase();
    growTo(400000);
    mainDatabase().execute("delete from master");
    const long long before = tesmo::fileLength(path);
    writeSetting(keys::DB_SIZE, "1000");

    RecordingPort port;
    EXPECT_TRUE(compactIfGrown(port));
    ASSERT_TRUE(isDatabaseConnected());
    EXPECT_EQ(mainDatabase().scalar("select count(*) from master").toInt(), 0);
    EXPECT_LT(tesmo::fileLength(path), before / 4);
    EXPECT_EQ(readSetting(keys::DB_SIZE), std::to_string(tesmo::fileLength(path)));
    EXPECT_GE(tesmo::fileLength(tesmo::installPath("tesmo.mbk")), before);
    closeDatabase();
    std::vector<std::string> beside;
    for (const auto &e : fs::directory_iterator(dir))
        beside.push_back(e.path().filename().string());
    // The update lock's file stays, so that no other program ever locks a file of its own.
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"tesmo.mdb", "tesmo.mdb.update-lock"}));
}

TEST(Compaction, TesmoctlCompactsTheNamedDatabase) {
    TempEnv env;
    const std::string db = env.newDatabase("other.mdb");
    const std::string length = std::to_string(tesmo::fileLength(db));
    int status = -1;
    EXPECT_EQ(env.tesmoctl("compact " + db + " --if-grown 2>/dev/null", &status), length + "\n");
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(tesmo::installPath("tesmo.mbk")));

    const std::string out = env.tesmoctl("compact " + db + " 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, std::to_string(tesmo::fileLength(db)) + "\n");
    EXPECT_EQ(readSetting(keys::DB_SIZE) + "\n", out);
    EXPECT_EQ(tesmo::fileLength(tesmo::installPath("tesmo.mbk")), std::stoll(length));

    std::ofstream(env.path("foreign.mdb")) << "not a database";
    const std::string refused =
        env.tesmoctl("compact " + env.path("foreign.mdb") + " 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(refused.rfind("tesmoctl: ", 0), 0u) << refused;
}

} // namespace
