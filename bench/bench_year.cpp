// A year of data updates: about 245 trading days imported one after the other into a fresh
// database that keeps 250 dates (maxdtc), the retention a user sets to chart a whole year.
// Reports the time per day (over the year, for its first 20 days, days 21 to 40 and the last
// 20 days, and the last 20 against days 21 to 40, to show whether the import slows as the
// tables grow) and the size of the database file at the end.
//
//   nice -n 19 build/bin/bench_year [--benchmark_filter=...]
#include "core/acquire/day_file_writer.h"
#include "core/acquire/import_driver.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "support/recording_port.h"
#include "support/temp_env.h"
#include "support/timing.h"
#include "support/trading_days.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <stdexcept>

namespace {
using namespace tesmo;
namespace fs = std::filesystem;

constexpr int kStocks = 3800;
constexpr int kEdgeDays = 20;

void BM_ImportYear(benchmark::State &state) {
    const int days = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        test::TempEnv env;
        storage::writeSetting(storage::keys::maxdtc, "250");
        const std::vector<long long> dates = test::tradingDays(20240104, static_cast<size_t>(days));
        // The day files are written beforehand: the data site's work, not ours.
        std::vector<std::string> files;
        for (size_t i = 0; i < dates.size(); ++i)
            files.push_back(acquire::writeDayFile(
                env.path(std::to_string(dates[i]) + ".bnd"),
                acquire::sampleDayRecords(dates[i], kStocks, static_cast<unsigned>(i + 1))));
        const std::string dbPath = env.newDatabase();
        auto db = storage::Database::open(dbPath, storage::kConnectString);
        test::RecordingPort port;
        state.ResumeTiming();

        std::vector<test::Timing> perDay;
        for (size_t i = 0; i < files.size(); ++i) {
            std::string result;
            perDay.push_back(test::timingOf(
                [&] { result = acquire::importDayFile(*db, files[i], port, dates[i]); }));
            if (!result.empty()) {
                state.SkipWithError(("import of " + files[i] + ": " + result).c_str());
                return;
            }
        }

        state.PauseTiming();
        // Mean milliseconds per day of days [from, to), wall or CPU time.
        auto mean = [&](size_t from, size_t to, double test::Timing::*part) {
            double sum = 0;
            for (size_t i = from; i < to; ++i)
                sum += perDay[i].*part;
            return to > from ? sum / static_cast<double>(to - from) : 0.0;
        };
        const size_t n = perDay.size();
        const size_t edge = std::min<size_t>(kEdgeDays, n);
        const auto wall = &test::Timing::wall;
        const auto cpu = &test::Timing::cpu;
        state.counters["days"] = static_cast<double>(n);
        state.counters["ms_per_day"] = mean(0, n, wall);
        state.counters["ms_first20"] = mean(0, edge, wall);
        state.counters["ms_last20"] = mean(n - edge, n, wall);
        // Days 21 to 40 against the last 20: the first 20 fill a young database, whose
        // month rows and indicators have less to do.
        const size_t from = std::min(edge, n), to = std::min(2 * edge, n);
        state.counters["ms_days21_40"] = mean(from, to, wall);
        state.counters["last20_vs_21_40"] = mean(n - edge, n, wall) / mean(from, to, wall);
        state.counters["cpu_last20_vs_21_40"] = mean(n - edge, n, cpu) / mean(from, to, cpu);
        state.counters["dates_kept"] =
            static_cast<double>(db->scalar("select count(*) from (select IDATE from T_NEARLY "
                                           "group by IDATE)")
                                    .toInt());
        // The size the user sees: the file alone, after the log went back into it.
        db->checkpoint();
        db->close();
        state.counters["db_MB"] = static_cast<double>(fs::file_size(dbPath)) / 1e6;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ImportYear)->Arg(245)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
