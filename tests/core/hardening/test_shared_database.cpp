// One database file shared by several programs at once: the main program's connection, tesmoctl
// from a script, the updater. Each side is a real process on a real SQLite file.
#include "core/acquire/day_file_writer.h"
#include "core/common/paths.h"
#include "core/shell/data_update.h"
#include "core/shell/day_file_import.h"
#include "core/storage/change_watch.h"
#include "core/storage/compaction.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "core/storage/shipped_database.h"
#include "core/storage/update_lock.h"
#include "core/update/updater.h"
#include "support/child_process.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <unistd.h>

using namespace tesmo;
using storage::kConnectString;
using test::ChildProcess;
namespace fs = std::filesystem;

namespace {

const std::string kTesmoctl = std::string(TESMO_BIN_DIR) + "/tesmoctl";

std::string tesmoctl(const std::string &args, int *status) {
    return test::runCommand(kTesmoctl + " " + args + " 2>&1", status);
}

// The last line of tesmoctl sql's answer to "select count(*) ...".
long long countOf(const std::string &path, const std::string &table) {
    int status = -1;
    std::string out = tesmoctl("sql " + path + " 'select count(*) from " + table + "'", &status);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    const size_t line = out.rfind('\n');
    EXPECT_EQ(status, 0) << out;
    return std::stoll(out.substr(line == std::string::npos ? 0 : line + 1));
}

// This process's descriptors of files that were deleted while it held them open.
std::vector<std::string> deletedFilesHeld() {
    std::vector<std::string> deleted;
    for (const auto &entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        if (target.ends_with(" (deleted)"))
            deleted.push_back(target);
    }
    return deleted;
}

// A child process that does `hold` and then waits until it is killed; returns once `hold` ran.
class Holder {
public:
    Holder(const test::TempEnv &env, std::function<void()> hold)
        : m_ready(env.path("holder.ready")), m_child([ready = m_ready, hold] {
              hold();
              std::ofstream(ready) << "1";
              for (;;)
                  ::pause();
              return 0;
          }) {
        for (int i = 0; i < 1000 && !fs::exists(m_ready); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(fs::exists(m_ready)) << "the holder did not start";
    }
    ~Holder() { fs::remove(m_ready); }
    void kill() {
        m_child.kill(SIGKILL);
        m_child.wait();
    }

private:
    std::string m_ready;
    ChildProcess m_child;
};

// The main program keeps its connection while it checks its file before a write and while a
// chart window opens and closes a connection of its own; tesmoctl comes and goes beside it.
// Nothing of that may drop the main connection's locks: the next program to close would then
// take itself for the last one and delete the log that the main connection goes on writing.
TEST(SharedDatabase, ProgramsComingAndGoingBesideAConnectionLoseNothing) {
    test::TempEnv env;
    const std::string path = env.newDatabase();
    auto db = storage::Database::open(path, kConnectString);
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        db->verifyFile();
        storage::Database::open(path, kConnectString)->close();
        db->execute("insert into master(CODE, NAME) values(?, 'main window')",
                    {"m" + std::to_string(round)});
        int status = -1;
        const std::string out =
            tesmoctl("sql " + path + " \"insert into master(CODE, NAME) values('c" +
                         std::to_string(round) + "', 'tesmoctl')\"",
                     &status);
        ASSERT_EQ(status, 0) << out;
        // Each side sees the other's rows: they share one log.
        EXPECT_EQ(countOf(path, "master"), 2 * round);
        EXPECT_EQ(db->scalar("select count(*) from master").toInt(), 2 * round);
        EXPECT_TRUE(fs::exists(path + "-wal"));
        EXPECT_EQ(deletedFilesHeld(), std::vector<std::string>{});
    }
    // The database picked as a day file is refused, not read beside its connection.
    for (const std::string &picked : {path, path + "-wal"}) {
        test::RecordingPort port;
        EXPECT_EQ(shell::manualImport(*db, port, picked, {}), shell::kDatabaseIsNoDayFile + picked);
        int status = -1;
        const std::string out = tesmoctl("import " + path + " " + picked, &status);
        EXPECT_EQ(status, 1);
        EXPECT_NE(out.find(shell::kDatabaseIsNoDayFile + picked), std::string::npos) << out;
    }
    EXPECT_EQ(deletedFilesHeld(), std::vector<std::string>{});
    db->close();
    EXPECT_EQ(test::integrityCheck(path), "ok");
    EXPECT_EQ(countOf(path, "master"), 6);
}

// Whoever starts a data update, a second one on the same database is refused with a message
// while the first runs, and goes ahead once the first has ended, also by a crash.
TEST(SharedDatabase, OneDataUpdateAtATimeWhoeverStartsIt) {
    test::TempEnv env;
    const std::string path = env.newDatabase();
    storage::writeSetting(storage::keys::mdbpath, path);
    storage::writeSetting(storage::keys::compyc, "40");
    const std::string day =
        acquire::writeDayFile(env.path("20240105.bnd"), acquire::sampleDayRecords(20240105, 40));
    Holder update(env, [path] { new storage::UpdateLock(path); });

    const std::string refused = storage::kOtherUpdateRunning;
    for (const std::string &args :
         {"update --no-wait " + path, "import " + path + " " + day, "compact " + path}) {
        int status = -1;
        const std::string out = tesmoctl(args, &status);
        EXPECT_EQ(status, 1) << args;
        EXPECT_NE(out.find(refused), std::string::npos) << args << ": " << out;
    }
    const struct {
        const char *who;
        std::function<std::string()> run; // what the user is told
    } inTheWindow[] = {
        {"データ更新",
         [&] {
             test::RecordingPort port;
             shell::DataUpdateActions a;
             a.refreshNewestDate = [] { return std::optional<long long>(); };
             a.closeChildWindows = [](bool) { return false; };
             a.compactIfGrown = [] { ADD_FAILURE() << "compacted"; };
             a.scanDataSite = [] {
                 ADD_FAILURE() << "scanned";
                 return std::string();
             };
             a.databaseFile = [&] { return path; };
             EXPECT_EQ(shell::runDataUpdate(port, a, "Tesmo", std::time(nullptr)),
                       shell::DataUpdateResult::Refused);
             EXPECT_FALSE(port.busy());
             return port.messages.back().text;
         }},
        {"test (manual import)",
         [&] {
             test::RecordingPort port;
             auto db = storage::Database::open(path, kConnectString);
             return shell::manualImport(*db, port, day, {});
         }},
    };
    for (const auto &c : inTheWindow) {
        SCOPED_TRACE(c.who);
        EXPECT_NE(c.run().find(refused), std::string::npos);
    }
    EXPECT_EQ(countOf(path, "T_NEARLY"), 0);

    update.kill();
    int status = -1;
    const std::string out = tesmoctl("import " + path + " " + day, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(countOf(path, "T_NEARLY"), 40);
}

// Compacting the database or putting the update site's database in its place needs the file to
// itself: while another program has it open, the file stays as it is and the user is told.
TEST(SharedDatabase, ACompactionOrAReplacementWaitsUntilNobodyElseHasTheFile) {
    test::TempEnv env;
    const std::string path = env.newDatabase();
    storage::writeSetting(storage::keys::mdbpath, path);
    const struct {
        const char *what;
        std::function<void()> run;
        long long rowsAfter; // in the database at `path` once it went ahead
    } cases[] = {
        {"compaction",
         [] {
             test::RecordingPort port;
             storage::connectDatabase();
             storage::compactDatabaseFile(port);
             storage::closeDatabase();
         },
         1},
        {"database from the update site",
         [&] {
             const std::string fresh = env.path("fresh.mdb");
             fs::remove(fresh);
             storage::createShippedDatabase(fresh);
             const update::DatabaseReplacementGuard guard(path);
             fs::rename(fresh, path);
         },
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        {
            auto db = storage::Database::open(path, kConnectString);
            db->execute("delete from master");
            db->execute("insert into master(CODE, NAME) values('1301', 'kept')");
        }
        {
            Holder reader(env, [path] {
                storage::Database::open(path, kConnectString)
                    .release()
                    ->scalar("select count(*) from master");
            });
            try {
                c.run();
                ADD_FAILURE() << "went ahead while another program had the file open";
            } catch (const std::exception &e) {
                EXPECT_NE(std::string(e.what()).find("使用中"), std::string::npos) << e.what();
            }
            storage::closeDatabase();
            EXPECT_EQ(countOf(path, "master"), 1);
            reader.kill();
        }
        c.run();
        EXPECT_EQ(countOf(path, "master"), c.rowsAfter);
        // No log of the old file stays beside the new one, where SQLite would apply it.
        EXPECT_FALSE(fs::exists(path + "-wal"));
        EXPECT_FALSE(fs::exists(path + "-shm"));
        EXPECT_EQ(test::integrityCheck(path), "ok");
    }
}

// The main window follows what other programs write: SQLite's data_version tells a commit of
// another connection, and this process's commit count tells whether that was one of ours.
TEST(SharedDatabase, AWatchTellsAnotherProgramsCommitsFromThisOnes) {
    test::TempEnv env;
    const std::string path = env.newDatabase();
    auto main = storage::Database::open(path, kConnectString);
    auto grid = storage::Database::open(path, kConnectString);
    storage::ChangeWatch watch;
    using Change = storage::ChangeWatch::Change;
    EXPECT_EQ(watch.look(*main), Change::None); // the first look only records
    int n = 0;
    const auto insert = [&](storage::Database &db) {
        db.execute("insert into master(CODE) values(?)", {"r" + std::to_string(++n)});
    };
    const struct {
        const char *what;
        std::function<void()> change;
        Change seen;
    } cases[] = {
        {"nothing", [] {}, Change::None},
        {"the watched connection's own commit", [&] { insert(*main); }, Change::None},
        {"another connection of this program", [&] { insert(*grid); }, Change::ThisProgram},
        {"another program",
         [&] {
             int status = -1;
             tesmoctl("sql " + path + " \"insert into master(CODE) values('x')\"", &status);
             EXPECT_EQ(status, 0);
         },
         Change::OtherProgram},
        {"this program and another one",
         [&] {
             insert(*grid);
             int status = -1;
             tesmoctl("sql " + path + " \"insert into master(CODE) values('y')\"", &status);
         },
         Change::ThisProgram},
        {"a reader", [&] { countOf(path, "master"); }, Change::None},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        EXPECT_EQ(watch.look(*main), c.seen);
    }
}

} // namespace
