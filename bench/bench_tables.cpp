// The ranking table with about 3,800 stocks: opening it (run its record source and read every
// row), one re-sort, and a full copy to text.
#include "core/storage/connection.h"
#include "core/storage/data_source.h"
#include "core/storage/settings_keys.h"
#include "core/tables/clip_tbl.h"
#include "core/tables/table_sources.h"
#include "support/temp_env.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

using namespace tesmo;

namespace {

constexpr int kStocks = 3800;

struct RankingDb {
    test::TempEnv env;
    std::string path;
    RankingDb() {
        path = env.newDatabase();
        storage::writeSetting(storage::keys::mdbpath, path);
        auto db = storage::Database::open(path, storage::kConnectString);
        std::string sql = "BEGIN;";
        for (int i = 0; i < kStocks; ++i) {
            const std::string code = std::to_string(1300 + i);
            const std::string n = std::to_string(i);
            sql += "INSERT INTO master (CODE, NAME, MARKET) VALUES ('" + code + "', '銘柄" + n +
                   "', '東証1部');";
            sql += "INSERT INTO T_NEARLY (IDATE, CODE, PRC, DVAL, TALK, ANPRC, A1PRC, A1TALK, "
                   "AXTALK, VAL2) VALUES (20240105, '" +
                   code + "', " + std::to_string(500 + i % 977) + ", 12000, " +
                   std::to_string(i % 31) + ", 512.25, 0.0123, -0.25, " + std::to_string(i % 53) +
                   ", " + std::to_string((i * 7919) % 1000 / 100.0) + ");";
            sql += "INSERT INTO T_MONTHLY (YYYYMM, CODE, AVDVAL) VALUES (202312, '" + code +
                   "', 10500.5);";
        }
        sql += "UPDATE T_config SET pINT = 20240105 WHERE pID = 'MAXDT';";
        sql += "UPDATE T_config SET pINT = 202312 WHERE pID = 'MAXMM1';COMMIT;";
        db->executeNative(sql);
    }
};

RankingDb &rankingDb() {
    static RankingDb db;
    return db;
}

void BM_OpenRanking(benchmark::State &state) {
    RankingDb &r = rankingDb();
    for (auto _ : state) {
        // A window's first open: its own connection, the stored sort, all rows read.
        storage::DataSource data;
        data.setDatabaseName(r.path);
        tables::RankTable rank;
        data.setRecordSource(rank.open());
        data.refresh();
        benchmark::DoNotOptimize(data.rows().rowCount());
        state.counters["rows"] = static_cast<double>(data.rows().rowCount());
    }
}
BENCHMARK(BM_OpenRanking)->Unit(benchmark::kMillisecond);

void BM_ResortRanking(benchmark::State &state) {
    RankingDb &r = rankingDb();
    storage::DataSource data;
    data.setDatabaseName(r.path);
    tables::RankTable rank;
    data.setRecordSource(rank.open());
    data.refresh();
    int c = 0;
    for (auto _ : state) {
        data.setRecordSource(rank.sortByColumn(c));
        data.refresh();
        benchmark::DoNotOptimize(data.rows().rowCount());
        c = (c + 1) % 11;
    }
}
BENCHMARK(BM_ResortRanking)->Unit(benchmark::kMillisecond);

void BM_CopyRanking(benchmark::State &state) {
    RankingDb &r = rankingDb();
    auto db = storage::Database::open(r.path, storage::kConnectString);
    tables::RankTable rank;
    const std::string source = rank.open();
    for (auto _ : state) {
        const std::string text = tables::clipText(*db, *tables::clipStatement(source, rank.columns),
                                                  {}, rank.columns, '\t');
        benchmark::DoNotOptimize(text.size());
        state.counters["bytes"] = static_cast<double>(text.size());
    }
}
BENCHMARK(BM_CopyRanking)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
