// What the watch rules add to a data update: 20 rules of every kind evaluated over a day of
// 3,800 stocks in a database that keeps 41 days, the matches stored in place of the day's
// earlier ones.
#include "core/storage/connection.h"
#include "core/storage/settings_keys.h"
#include "core/watch/watch_evaluation.h"
#include "core/watch/watch_rules.h"
#include "support/temp_env.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>

using namespace tesmo;

namespace {

constexpr int kStocks = 3800;
constexpr int kDays = 41;

struct WatchBenchDb {
    test::TempEnv env;
    std::string path;
    std::unique_ptr<storage::Database> db;

    WatchBenchDb() {
        path = env.newDatabase();
        storage::writeSetting(storage::keys::mdbpath, path);
        db = storage::Database::open(path, storage::kConnectString);
        // Trading days 1..41 of a made-up calendar, newest 20240228; figures that spread the
        // stocks evenly over their ranges; the thresholds below select what a user watches for, a
        // few dozen stocks each, a few hundred in all.
        db->executeNative(
            "BEGIN;"
            "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < " +
            std::to_string(kStocks - 1) +
            ")"
            " INSERT INTO master (CODE, NAME, MARKET) SELECT CAST(1300 + i AS TEXT),"
            " '銘柄' || i, '東証' FROM s;"
            "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < " +
            std::to_string(kStocks - 1) +
            "), d(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM d WHERE n < " +
            std::to_string(kDays - 1) +
            ")"
            " INSERT INTO T_NEARLY (IDATE, CODE, PRC, DVAL, TALK, ANPRC, A1PRC, A1TALK, AXTALK,"
            " VAL2) SELECT 20240100 + n + (n > 27) * 72, CAST(1300 + i AS TEXT),"
            " 300 + (i * 37 + n) % 4000, 1000 + (i * 7919 + n * 13) % 90000, (i + n) % 60,"
            " ((i * 31) % 200 - 100) / 1000.0, ((i * 37 + n) % 200 - 100) / 1000.0,"
            " ((i * 17) % 200 - 100) / 100.0, ((i * 13) % 300) / 100.0, ((i * 11) % 900) / 100.0"
            " FROM d, s ORDER BY 1, 2;"
            "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < " +
            std::to_string(kStocks - 1) +
            ")"
            " INSERT INTO T_MONTHLY (YYYYMM, CODE, AVDVAL) SELECT m, CAST(1300 + i AS TEXT),"
            " 9000 + (i * 101) % 30000 FROM s, (SELECT 202401 AS m UNION SELECT 202402);"
            "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < 59)"
            " INSERT INTO T_PORT (PDATE, CODE, PSW, APRC, AVAL) SELECT 20230101 + i,"
            " CAST(1300 + i * 61 AS TEXT), i % 5, 500 + (i * 97) % 3000, 100 FROM s;"
            "UPDATE T_config SET pINT = 202401 WHERE pID = 'MAXMM1';"
            "COMMIT;");
        const watch::Comparison ge = watch::Comparison::AtLeast;
        const watch::Comparison le = watch::Comparison::AtMost;
        const auto column = [&](const char *col, watch::Comparison c, const char *threshold,
                                const char *group = "", bool times = false) {
            watch::RuleInput in;
            in.column = col;
            in.comparison = c;
            in.threshold = threshold;
            in.group = group;
            in.timesAverage = times;
            add(in);
        };
        const auto other = [&](watch::RuleKind kind, const std::string &code, watch::Comparison c,
                               const char *threshold) {
            watch::RuleInput in;
            in.kind = kind;
            in.code = code;
            in.comparison = c;
            in.threshold = threshold;
            add(in);
        };
        column("前比終値", ge, "9.5%");
        column("前比終値", le, "-9.5%");
        column("出来高", ge, "8", "", true);
        column("出来高", ge, "6", "", true);
        column("Web話題", ge, "59");
        column("平均終値", ge, "9.8%");
        column("最大Web話", ge, "298%");
        column("推薦度", ge, "8.95");
        column("前比Web話", le, "-99%");
        column("平均出来高", ge, "38800");
        column("終値", ge, "4290");
        column("前比終値", ge, "2%", "1");
        column("出来高", ge, "1.5", "2", true);
        column("終値", le, "1000", "3");
        other(watch::RuleKind::Price, "1301", le, "5000");
        other(watch::RuleKind::Price, "2500", ge, "100");
        other(watch::RuleKind::Price, "4999", ge, "100000");
        other(watch::RuleKind::PortfolioGain, "", ge, "10%");
        other(watch::RuleKind::PortfolioLoss, "", ge, "10%");
        other(watch::RuleKind::PortfolioGain, "", ge, "50%");
    }
    void add(const watch::RuleInput &in) {
        if (const std::string failure = watch::addRule(*db, in); !failure.empty())
            throw std::runtime_error(failure);
    }
};

void BM_EvaluateTwentyRules(benchmark::State &state) {
    WatchBenchDb w;
    for (auto _ : state) {
        const watch::Evaluation result = watch::evaluateNewestDay(*w.db);
        if (!result.failure.empty())
            state.SkipWithError(result.failure.c_str());
        state.counters["rules"] = result.rules;
        state.counters["matches"] = static_cast<double>(result.matches.size());
        state.counters["stocks"] = result.stockCount();
    }
}
BENCHMARK(BM_EvaluateTwentyRules)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
