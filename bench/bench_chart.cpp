// One drawing pass of the chart window (its data and its elements, without the painting) for a
// stock of a database that keeps a year of dates: 251 dates of 3,800 stocks, as with maxdtc 250,
// the month rows of those dates and an open, high and low for every day. The pass opens and
// closes its own connection, as the window's does. BM_ChartPass/0 draws the line chart,
// BM_ChartPass/1 the candlestick chart with the averages of 5, 25 and 75 days.
//
//   build/bin/bench_chart [--benchmark_filter=...]
//
// The reported time is the CPU time of the pass (the counter wall_ms holds the wall time): the
// machine is shared, and the pass never waits for the disk once the file is in the cache.
#include "core/acquire/day_file_writer.h"
#include "core/chart/chart_model.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "support/temp_env.h"
#include "support/timing.h"
#include "support/trading_days.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <stdexcept>

namespace {
using namespace tesmo;

constexpr int kStocks = 3800;
constexpr int kDates = 251;

test::TempEnv &env() {
    static test::TempEnv e;
    return e;
}

// The database of a year: the rows go in directly, in one transaction, with the month rows
// summed up per month by the engine; what the import would write, without its minutes.
const std::string &yearDatabase() {
    static const std::string path = [] {
        const std::string p = env().newDatabase("year.mdb");
        storage::writeSetting(storage::keys::mdbpath, p);
        auto db = storage::Database::open(p, storage::kConnectString);
        std::fprintf(stderr, "building a database of %d dates...\n", kDates);
        db->execute("BEGIN");
        const std::vector<long long> dates = test::tradingDays(20230104, kDates);
        for (const long long date : dates) {
            for (const acquire::DayRecord &r : acquire::sampleDayRecords(date, kStocks)) {
                if (date == dates.front())
                    db->execute("Insert into master(CODE,NAME,MARKET) Values(?,?,?) ;",
                                {r.code, r.name, r.market});
                const auto value = [](const std::optional<double> &v) {
                    return v ? storage::Value(*v) : storage::Value();
                };
                db->execute("Insert into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(?,?,?,?,?) ;",
                            {static_cast<std::int64_t>(date), r.code, value(r.prc), value(r.dval),
                             value(r.talk)});
            }
        }
        db->executeNative(
            "INSERT INTO T_MONTHLY (YYYYMM,CODE,AVPRC,AVDVAL,AVTALK,MXPRC,MXDVAL,MXTALK,MIPRC,"
            "MIDVAL,MITALK) SELECT IDATE / 100, CODE, avg(PRC), avg(DVAL), avg(TALK), max(PRC), "
            "max(DVAL), max(TALK), min(PRC), min(DVAL), min(TALK) FROM T_NEARLY "
            "GROUP BY IDATE / 100, CODE;"
            "INSERT INTO T_OHLC (IDATE,CODE,OPRC,HPRC,LPRC,ADJF) SELECT IDATE, CODE, "
            "round(PRC * 0.995), round(PRC * 1.01), round(PRC * 0.985), 1 FROM T_NEARLY;");
        db->execute("COMMIT");
        db->checkpoint();
        return p;
    }();
    return path;
}

void BM_ChartPass(benchmark::State &state) {
    chart::ChartModel model(yearDatabase());
    model.code = "1301";
    model.mode = chart::ChartMode::Volume;
    model.style = state.range(0) ? chart::ChartStyle::Candle : chart::ChartStyle::Line;
    for (auto _ : state) {
        std::string result;
        const test::Timing t = test::timingOf([&] { result = model.make_graph(); });
        if (!result.empty()) {
            state.SkipWithError(result.c_str());
            break;
        }
        state.SetIterationTime(t.cpu / 1000);
        state.counters["wall_ms"] = t.wall;
    }
    state.counters["days"] = model.day_count;
}
BENCHMARK(BM_ChartPass)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
