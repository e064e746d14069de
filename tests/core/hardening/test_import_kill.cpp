// A tesmoctl import killed with SIGKILL at random moments: after every kill the database still
// opens, passes SQLite's integrity check, and the same import run again completes the day.
#include "support/child_process.h"

#include "core/acquire/day_file_writer.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sys/wait.h>

using namespace tesmo;
using tesmo::test::ChildProcess;

// Kills: TESMO_CRASH_KILLS (10 by default; 50 for the long run).

namespace {

constexpr int kStocks = 3800;
const std::string kTesmoctl = std::string(TESMO_BIN_DIR) + "/tesmoctl";

long long countOf(storage::Database &db, const std::string &sql) {
    return db.scalar(sql).toInt();
}

// One import to its end; returns the exit status.
int importToEnd(const test::TempEnv &env, const std::string &db, const std::string &file) {
    ChildProcess child({kTesmoctl, "import", db, file}, env.path("import.log"));
    return child.wait();
}

} // namespace

TEST(ImportKill, DatabaseSurvivesAndTheImportCompletesAfterEveryKill) {
    test::TempEnv env;
    const std::string dbPath = env.newDatabase();
    // Three days, so that kills land both in first imports (inserts) and in re-imports of a
    // day that is already there (updates), with the retention and month steps in play.
    const std::vector<long long> days = {20240104, 20240105, 20240108};
    std::vector<std::string> files;
    for (size_t i = 0; i < days.size(); ++i)
        files.push_back(acquire::writeDayFile(
            env.path(std::to_string(days[i]) + ".bnd"),
            acquire::sampleDayRecords(days[i], kStocks, static_cast<unsigned>(i + 1))));

    // How long one whole import takes here (the sanitizer build is much slower): the kills are
    // spread over that span.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(importToEnd(env, dbPath, files[0]), 0) << test::fileBytes(env.path("import.log"));
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);

    const auto dayOf = [&days](int attempt) { return static_cast<size_t>(attempt) % days.size(); };
    const auto start = [&](int attempt) {
        return std::vector<std::string>{kTesmoctl, "import", dbPath, files[dayOf(attempt)]};
    };
    const auto check = [&](int attempt, long long after) {
        const size_t day = dayOf(attempt);
        ASSERT_EQ(test::integrityCheck(dbPath), "ok") << "after a kill at " << after << " us";
        {
            // The program's own open: password, catalog and stored queries all readable.
            auto db = storage::Database::open(dbPath, storage::kConnectString);
            (void)countOf(*db, "select count(*) from V_RANK");
        }
        const int status = importToEnd(env, dbPath, files[day]);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << test::describeStatus(status) << "\n"
            << test::fileBytes(env.path("import.log"));

        auto db = storage::Database::open(dbPath, storage::kConnectString);
        EXPECT_EQ(countOf(*db, "select count(*) from T_NEARLY where IDATE = " +
                                   std::to_string(days[day])),
                  kStocks);
        EXPECT_EQ(countOf(*db, "select count(*) from wonton_dat01"), 0);
        EXPECT_EQ(countOf(*db, "select count(*) from master"), kStocks);
        // One row per stock and day, however often a day was cut short and imported again.
        EXPECT_EQ(countOf(*db, "select count(*) from (select IDATE, CODE from T_NEARLY group by "
                               "IDATE, CODE having count(*) > 1)"),
                  0);
    };
    const test::RandomKills run =
        test::killAtRandomMoments(span.count(), start, env.path("killed.log"), check);
    std::printf("[ killed %d of %d imports midway, TESMO_CRASH_SEED=%u ]\n", run.killedMidway,
                run.kills, run.seed);
}
