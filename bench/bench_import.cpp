// The import of one trading day, as the data update runs it every day: a day file of 3,800
// stocks into a database that already holds the days before it. The UI port does not sleep,
// so the one-second pauses at the file's separator lines are not part of the figures.
//
//   build-rel/bin/bench_import [--benchmark_filter=...] [--benchmark_repetitions=N]
//
// BM_ImportDay/40 and /250 run with maxdtc 40 (or 250) into a database whose retention window is
// full, 41 (or 251) dates, so that the import also deletes the oldest date as it does every
// day; the targets are 150 ms and 400 ms of work per day file. Building the databases runs the
// import itself for every day and takes a minute or two for the 251 days.
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

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <unistd.h>

namespace {
using namespace tesmo;
namespace fs = std::filesystem;

constexpr int kStocks = 3800;

// Trading dates: weekdays from 2023-01-04 on (good enough for a benchmark: no holidays).
std::vector<long long> tradingDates(int count) {
    std::vector<long long> out;
    int y = 2023, m = 1, d = 4, weekday = 3; // Wednesday
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    while (static_cast<int>(out.size()) < count) {
        if (weekday != 0 && weekday != 6)
            out.push_back(y * 10000LL + m * 100 + d);
        weekday = (weekday + 1) % 7;
        const int monthDays = kDays[m - 1] + (m == 2 && y % 4 == 0 ? 1 : 0);
        if (++d > monthDays) {
            d = 1;
            if (++m > 12) {
                m = 1;
                ++y;
            }
        }
    }
    return out;
}

// One temporary folder (and so one settings store) for the whole run.
test::TempEnv &env() {
    static test::TempEnv e;
    return e;
}

void setMaxdtc(int days) {
    storage::writeSetting(storage::keys::maxdtc, std::to_string(days));
}

// A database that has imported maxdtc + 1 trading days through the import itself, and the day
// file of the next trading day: the one to import.
struct History {
    int maxdtc;
    std::string seeded;
    long long next = 0;
    std::string nextFile;

    explicit History(int n) : maxdtc(n) {
        storage::writeSetting(storage::keys::compyc, "3000");
        setMaxdtc(maxdtc);
        const int days = maxdtc + 1;
        const std::vector<long long> dates = tradingDates(days + 1);
        // Each history has its own folder: the day files are named after their dates.
        const std::string dir = env().path("history" + std::to_string(maxdtc));
        fs::create_directories(dir);
        seeded = env().newDatabase("seeded" + std::to_string(maxdtc) + ".mdb");
        auto db = storage::Database::open(seeded, storage::kConnectString);
        test::RecordingPort port;
        std::fprintf(stderr, "building a database of %d days...\n", days);
        for (int i = 0; i < days; ++i) {
            const std::string file = dir + "/" + std::to_string(dates[i]) + ".bnd";
            acquire::writeDayFile(file, acquire::sampleDayRecords(dates[i], kStocks));
            const std::string result = acquire::ImportDayFile(*db, file, port, dates[i]);
            fs::remove(file);
            if (!result.empty())
                throw std::runtime_error(result);
        }
        db->checkpoint();
        next = dates.back();
        nextFile = dir + "/" + std::to_string(next) + ".bnd";
        acquire::writeDayFile(nextFile, acquire::sampleDayRecords(next, kStocks));
    }
    // A fresh copy of the seeded database, without a WAL. The copy is flushed to the disk
    // here: otherwise the checkpoint's fsync inside the timed import would write out the whole
    // copied file, which a real import never pays for.
    std::string copy() const {
        const std::string p = env().path("work.mdb");
        for (const char *suffix : {"", "-wal", "-shm"})
            fs::remove(p + suffix);
        fs::copy_file(seeded, p);
        const int fd = ::open(p.c_str(), O_RDONLY);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
        return p;
    }
};

const History &history(int maxdtc) {
    static std::map<int, std::unique_ptr<History>> built;
    auto &h = built[maxdtc];
    if (!h)
        h = std::make_unique<History>(maxdtc);
    return *h;
}

// The whole import: decoder, master, T_NEARLY, retention, month row, indicators, markers.
void BM_ImportDay(benchmark::State &state) {
    const int maxdtc = static_cast<int>(state.range(0));
    const History &h = history(maxdtc);
    setMaxdtc(maxdtc);
    test::RecordingPort port;
    for (auto _ : state) {
        state.PauseTiming();
        auto db = storage::Database::open(h.copy(), storage::kConnectString);
        state.ResumeTiming();
        const std::string result = acquire::ImportDayFile(*db, h.nextFile, port, h.next);
        state.PauseTiming();
        if (!result.empty())
            state.SkipWithError(result.c_str());
        db.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kStocks);
}
// One import per repetition; on a machine that others share the minimum is the figure least
// disturbed by them, the median the typical one.
BENCHMARK(BM_ImportDay)
    ->Arg(40)
    ->Arg(250)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(12)
    ->ComputeStatistics("min",
                        [](const std::vector<double> &v) {
                            return *std::min_element(v.begin(), v.end());
                        })
    ->ReportAggregatesOnly(true);

// The decoder alone, inside a transaction as the import runs it.
void BM_DecodeDay(benchmark::State &state) {
    const History &h = history(40);
    auto db = storage::Database::open(h.copy(), storage::kConnectString);
    test::RecordingPort port;
    for (auto _ : state) {
        db->execute("BEGIN");
        db->execute("Delete from wonton_dat01 ");
        const std::string result =
            acquire::DecodeDailyFile(*db, h.nextFile, acquire::kDayFileKey, port);
        db->execute("COMMIT");
        if (!result.empty())
            state.SkipWithError(result.c_str());
    }
    state.SetItemsProcessed(state.iterations() * kStocks);
}
BENCHMARK(BM_DecodeDay)->Unit(benchmark::kMillisecond);

// The three passes of the indicators over the newest date, inside a transaction.
void BM_ComputeIndicators(benchmark::State &state) {
    const History &h = history(40);
    auto db = storage::Database::open(h.copy(), storage::kConnectString);
    test::RecordingPort port;
    const long long newest = db->scalar("Select Max(IDATE) from T_NEARLY ; ").toInt();
    for (auto _ : state) {
        db->execute("BEGIN");
        const std::string result = acquire::ComputeIndicators(*db, port, newest);
        db->execute("COMMIT");
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
