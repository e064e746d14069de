// The import of one trading day, as the data update runs it every day: a day file of a few
// thousand stocks into a database that already holds the retention window of 41 dates.
//
//   build/bin/bench_import [--benchmark_filter=...]
#include "acquire/day_file_decoder.h"
#include "acquire/day_file_writer.h"
#include "acquire/import_driver.h"
#include "acquire/indicators.h"
#include "storage/connection.h"
#include "storage/database.h"
#include "storage/settings_keys.h"
#include "support/recording_port.h"
#include "support/temp_env.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace {
using namespace tesmo;
namespace fs = std::filesystem;

constexpr int kStocks = 4000;

// Trading dates: weekdays from 2024-01-04 on (good enough for a benchmark: no holidays).
std::vector<long long> tradingDates(int count) {
    std::vector<long long> out;
    int y = 2024, m = 1, d = 4, weekday = 4; // Thursday
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    while (static_cast<int>(out.size()) < count) {
        if (weekday != 0 && weekday != 6)
            out.push_back(y * 10000LL + m * 100 + d);
        weekday = (weekday + 1) % 7;
        if (++d > kDays[m - 1]) {
            d = 1;
            if (++m > 12) {
                m = 1;
                ++y;
            }
        }
    }
    return out;
}

// A database that has imported `days` trading days of kStocks stocks, built once per run
// through the import itself (with the indicators and markers of every day).
struct History {
    test::TempEnv env;
    std::string seeded;
    std::vector<long long> dates;

    explicit History(int days) {
        storage::writeSetting(storage::keys::compyc, "1000");
        dates = tradingDates(days + 1);
        seeded = env.newDatabase("seeded.mdb");
        auto db = storage::Database::open(seeded, storage::kConnectString);
        test::RecordingPort port;
        for (int i = 0; i < days; ++i) {
            const std::string file = env.path(std::to_string(dates[i]) + ".bnd");
            acquire::writeDayFile(file, acquire::sampleDayRecords(dates[i], kStocks));
            acquire::ImportDayFile(*db, file, port, dates[i]);
        }
        db->checkpoint();
    }
    // A fresh copy of the seeded database.
    std::string copy() {
        const std::string p = env.path("work.mdb");
        for (const char *suffix : {"", "-wal", "-shm"})
            fs::remove(p + suffix);
        fs::copy_file(seeded, p);
        return p;
    }
};

History &history() {
    static History h(41);
    return h;
}

void BM_DecodeDay(benchmark::State &state) {
    History &h = history();
    const long long day = h.dates.back();
    const std::string file = h.env.path(std::to_string(day) + ".bnd");
    acquire::writeDayFile(file, acquire::sampleDayRecords(day, kStocks));
    auto db = storage::Database::open(h.copy(), storage::kConnectString);
    test::RecordingPort port;
    for (auto _ : state) {
        db->execute("Delete from wonton_dat01 ");
        const std::string result = acquire::DecodeDailyFile(*db, file, acquire::kDayFileKey, port);
        if (!result.empty())
            state.SkipWithError(result.c_str());
    }
    state.SetItemsProcessed(state.iterations() * kStocks);
}
BENCHMARK(BM_DecodeDay)->Unit(benchmark::kMillisecond);

void BM_ImportDay(benchmark::State &state) {
    History &h = history();
    const long long day = h.dates.back();
    const std::string file = h.env.path(std::to_string(day) + ".bnd");
    acquire::writeDayFile(file, acquire::sampleDayRecords(day, kStocks));
    test::RecordingPort port;
    for (auto _ : state) {
        state.PauseTiming();
        auto db = storage::Database::open(h.copy(), storage::kConnectString);
        state.ResumeTiming();
        const std::string result = acquire::ImportDayFile(*db, file, port, day);
        if (!result.empty())
            state.SkipWithError(result.c_str());
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kStocks);
}
BENCHMARK(BM_ImportDay)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ComputeIndicators(benchmark::State &state) {
    History &h = history();
    auto db = storage::Database::open(h.copy(), storage::kConnectString);
    test::RecordingPort port;
    const long long newest = db->scalar("Select Max(IDATE) from T_NEARLY ; ").toInt();
    for (auto _ : state) {
        const std::string result = acquire::ComputeIndicators(*db, port, newest);
        if (!result.empty())
            state.SkipWithError(result.c_str());
    }
    state.SetItemsProcessed(state.iterations() * kStocks);
}
BENCHMARK(BM_ComputeIndicators)->Unit(benchmark::kMillisecond);

void BM_FormatRatio(benchmark::State &state) {
    double v = -0.123456789;
    for (auto _ : state) {
        benchmark::DoNotOptimize(acquire::formatRatio(v));
        v += 0.000013;
    }
}
BENCHMARK(BM_FormatRatio);

} // namespace

BENCHMARK_MAIN();
