// Two readers with their own connections (as two running programs would have) read the
// ranking again and again while a tesmoctl import writes the same database.
#include "support/child_process.h"

#include "core/acquire/day_file_writer.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/tables/table_sources.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <sys/wait.h>
#include <thread>

using namespace tesmo;
using tesmo::test::ChildProcess;

TEST(ConcurrentReaders, RankingReadsWithoutErrorsWhileAnImportRuns) {
    test::TempEnv env;
    const std::string dbPath = env.newDatabase();
    const std::string tesmoctl = std::string(TESMO_BIN_DIR) + "/tesmoctl";
    std::vector<std::string> files;
    for (long long day : {20240104LL, 20240105LL, 20240108LL, 20240109LL})
        files.push_back(acquire::writeDayFile(env.path(std::to_string(day) + ".bnd"),
                                              acquire::sampleDayRecords(day, 3800)));
    // One day in place first, so that the ranking has rows from the first read on.
    {
        ChildProcess first({tesmoctl, "import", dbPath, files[0]}, env.path("first.log"));
        ASSERT_EQ(first.wait(), 0) << test::fileBytes(env.path("first.log"));
    }
    const std::string rankSql = tables::RankTable().open();

    std::vector<std::string> args = {tesmoctl, "import", dbPath};
    args.insert(args.end(), files.begin() + 1, files.end());
    std::atomic<bool> importRunning = true;
    struct Reader {
        int reads = 0;
        size_t minRows = SIZE_MAX;
        std::vector<std::string> errors;
    };
    Reader readers[2];
    auto read = [&](Reader &r) {
        try {
            auto db = storage::Database::open(dbPath, storage::kConnectString);
            // At least one read after the import, so that its end is seen too.
            bool last = false;
            while (!last) {
                last = !importRunning;
                try {
                    const storage::ResultSet rs = db->openRecordset(rankSql);
                    r.minRows = std::min(r.minRows, rs.rowCount());
                    ++r.reads;
                } catch (const std::exception &e) {
                    r.errors.push_back(e.what());
                }
            }
        } catch (const std::exception &e) {
            r.errors.push_back(std::string("open: ") + e.what());
        }
    };

    int status = 0;
    {
        ChildProcess import(args, env.path("import.log"));
        std::thread a(read, std::ref(readers[0]));
        std::thread b(read, std::ref(readers[1]));
        status = import.wait();
        importRunning = false;
        a.join();
        b.join();
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << test::describeStatus(status) << "\n"
        << test::fileBytes(env.path("import.log"));
    for (const Reader &r : readers) {
        EXPECT_TRUE(r.errors.empty())
            << r.errors.size() << " failed reads, first: " << r.errors.front();
        EXPECT_GE(r.reads, 2);
        // Every read saw a whole day: never a ranking that an import had half emptied.
        EXPECT_GT(r.minRows, 0u);
    }
    std::printf("[ rankings read during the import: %d and %d ]\n", readers[0].reads,
                readers[1].reads);
}
