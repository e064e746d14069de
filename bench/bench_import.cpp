// The import of one trading day, as the data update runs it every day: a day file of 3,800
// stocks into a database that already holds the days before it. The UI port does not sleep,
// so the one-second pauses at the file's separator lines are not part of the figures.
//
//   build-release/bin/bench_import [--benchmark_filter=...]
//
// BM_ImportDay/40, /250 and /500 run with maxdtc 40 (or 250, 500) into a database whose retention
// window is full, 41 (or 251, 501) dates, so that the import also deletes the oldest date as it
// does every day. Each repetition imports the same day file twice, into two fresh copies of that
// database: once with the import (the time reported) and once with the floor, the reference
// import of tests/support (the counter floor_ms), which does the same work with the fewest
// statements SQLite needs; which of the two runs first alternates. Before the first
// repetition both run once and their tables are compared. The run ends with a summary: the
// medians of wall and CPU time, the ratio of import to floor per retention and of the import at
// 250 and 500 days to the import at 40. The repetitions of all three are shuffled together.
// Building the databases runs the import itself for every day and takes a minute or two for the
// 251 days, twice that for the 501.
#include "core/acquire/day_file_decoder.h"
#include "core/acquire/day_file_writer.h"
#include "core/acquire/import_driver.h"
#include "core/acquire/indicators.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "support/recording_port.h"
#include "support/reference_import.h"
#include "support/temp_env.h"
#include "support/timing.h"
#include "support/trading_days.h"

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
        env(); // the settings below go to its folder
        storage::writeSetting(storage::keys::compyc, "3000");
        setMaxdtc(maxdtc);
        const int days = maxdtc + 1;
        const std::vector<long long> dates =
            test::tradingDays(20230104, static_cast<size_t>(days) + 1);
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
            const std::string result = acquire::importDayFile(*db, file, port, dates[i]);
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
    std::string copy(const std::string &name) const {
        const std::string p = env().path(name);
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

using test::Timing;
using test::timingOf;

// The import and the floor on two copies of the history, their tables compared; the empty
// text when they agree. The clock of both connections stands still, so that the stamps of
// master compare too.
std::string checkFloor(const History &h) {
    const std::string clock = "benchmark";
    auto importDb = storage::Database::open(h.copy("check-import.mdb"), storage::kConnectString);
    auto floorDb = storage::Database::open(h.copy("check-floor.mdb"), storage::kConnectString);
    test::fixClock(*importDb, &clock);
    test::fixClock(*floorDb, &clock);
    test::RecordingPort port;
    std::string result = acquire::importDayFile(*importDb, h.nextFile, port, h.next);
    if (result.empty())
        result = test::referenceImport(*floorDb, h.nextFile);
    if (result.empty())
        result = test::firstDifference(*importDb, *floorDb);
    return result.empty() ? result : "import and floor differ: " + result;
}

// The timings of every repetition by maxdtc, for the summary.
std::map<int, std::vector<Timing>> &importTimes() {
    static std::map<int, std::vector<Timing>> t;
    return t;
}
std::map<int, std::vector<Timing>> &floorTimes() {
    static std::map<int, std::vector<Timing>> t;
    return t;
}

// The whole import (decoder, master, T_NEARLY, retention, month row, indicators, markers) and
// the floor's, in turn.
void BM_ImportDay(benchmark::State &state) {
    const int maxdtc = static_cast<int>(state.range(0));
    const History &h = history(maxdtc);
    setMaxdtc(maxdtc);
    static std::map<int, bool> checked;
    if (!checked[maxdtc]) {
        if (const std::string error = checkFloor(h); !error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        checked[maxdtc] = true;
    }
    test::RecordingPort port;
    for (auto _ : state) {
        auto importDb = storage::Database::open(h.copy("import.mdb"), storage::kConnectString);
        auto floorDb = storage::Database::open(h.copy("floor.mdb"), storage::kConnectString);
        std::string result;
        Timing importTime, floorTime;
        auto runImport = [&] {
            importTime = timingOf(
                [&] { result += acquire::importDayFile(*importDb, h.nextFile, port, h.next); });
        };
        auto runFloor = [&] {
            floorTime = timingOf([&] { result += test::referenceImport(*floorDb, h.nextFile); });
        };
        const bool floorFirst = importTimes()[maxdtc].size() % 2 == 1;
        if (floorFirst)
            runFloor();
        runImport();
        if (!floorFirst)
            runFloor();
        if (!result.empty()) {
            state.SkipWithError(result.c_str());
            break;
        }
        state.SetIterationTime(importTime.wall / 1000);
        state.counters["floor_ms"] = floorTime.wall;
        state.counters["ratio"] = importTime.wall / floorTime.wall;
        importTimes()[maxdtc].push_back(importTime);
        floorTimes()[maxdtc].push_back(floorTime);
    }
    state.SetItemsProcessed(state.iterations() * kStocks);
}
// One import per repetition; the medians are the figures, the minimum the one least disturbed
// by other work on the machine.
BENCHMARK(BM_ImportDay)
    ->Arg(40)
    ->Arg(250)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(12)
    ->UseManualTime()
    ->ComputeStatistics("min",
                        [](const std::vector<double> &v) {
                            return *std::min_element(v.begin(), v.end());
                        })
    ->ReportAggregatesOnly(true);

// The decoder alone, inside a transaction as the import runs it.
void BM_DecodeDay(benchmark::State &state) {
    const History &h = history(40);
    auto db = storage::Database::open(h.copy("work.mdb"), storage::kConnectString);
    test::RecordingPort port;
    for (auto _ : state) {
        db->execute("BEGIN");
        db->execute("Delete from wonton_dat01 ");
        const std::string result =
            acquire::decodeDailyFile(*db, h.nextFile, acquire::kDayFileKey, port);
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
    auto db = storage::Database::open(h.copy("work.mdb"), storage::kConnectString);
    test::RecordingPort port;
    const long long newest = db->scalar("Select Max(IDATE) from T_NEARLY ; ").toInt();
    for (auto _ : state) {
        db->execute("BEGIN");
        const std::string result = acquire::computeIndicators(*db, port, newest);
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

double median(const std::vector<Timing> &timings, double Timing::*part) {
    std::vector<double> v;
    for (const Timing &t : timings)
        v.push_back(t.*part);
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Medians of wall time (what the user waits for) and of CPU time (the work, less disturbed by
// other programs on the machine).
void printSummary() {
    const auto &imports = importTimes();
    for (const char *what : {"wall", "cpu"}) {
        const auto part = std::string(what) == "wall" ? &Timing::wall : &Timing::cpu;
        for (const auto &[maxdtc, times] : imports) {
            const double importMs = median(times, part);
            const double floorMs = median(floorTimes().at(maxdtc), part);
            std::printf("%-4s maxdtc %3d: import %6.1f ms, floor %6.1f ms, import/floor %.2f "
                        "(%zu runs)\n",
                        what, maxdtc, importMs, floorMs, importMs / floorMs, times.size());
        }
        for (const int days : {250, 500})
            if (imports.count(40) && imports.count(days))
                std::printf("%-4s import at %d days / import at 40 days: %.2f\n", what, days,
                            median(imports.at(days), part) / median(imports.at(40), part));
    }
}

} // namespace

int main(int argc, char **argv) {
    // The repetitions of the two retentions run in a shuffled order, so that a change in the
    // machine's load falls on both alike (the flag given on the command line still wins).
    std::vector<char *> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    argc = static_cast<int>(args.size());
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
