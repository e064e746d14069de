// The dialect's like, which the stock search runs on every name at every keystroke: ten stars
// over a text of 40 characters that they never match, alone and through SQL, and the search
// of 3,800 names for "?*?*...?" (each '?' one character) with more '?' than most names have
// characters, the case that costs a matcher that goes back over every star the most.
//
//   build/bin/bench_like [--benchmark_filter=...]
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/jet_functions.h"
#include "core/tables/table_sources.h"
#include "support/temp_env.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

using namespace tesmo;

namespace {

constexpr int kStocks = 3800;
const std::string kFortyA(40, 'a');
const std::string kTenStars = "*a*a*a*a*a*a*a*a*a*a*b";

// Names of 2 to 24 characters, kanji, kana and letters mixed, as the stock master holds them.
std::string stockName(int i) {
    static const std::vector<std::string> pieces = {"日", "本", "水", "産", "極", "洋", "ホ",
                                                    "ー", "ル", "デ", "ィ", "ン", "グ", "ス",
                                                    "ｶ",  "ﾌﾞ", "A",  "B",  "銀", "行"};
    std::string name;
    const int length = 2 + (i * 7) % 23;
    for (int k = 0; k < length; ++k)
        name += pieces[static_cast<size_t>((i * 31 + k * 17) % static_cast<int>(pieces.size()))];
    return name;
}

struct NamesDb {
    test::TempEnv env;
    std::unique_ptr<storage::Database> db;
    NamesDb() {
        db = storage::Database::open(env.newDatabase(), storage::kConnectString);
        std::string sql = "BEGIN;";
        for (int i = 0; i < kStocks; ++i)
            sql += "INSERT INTO master (CODE, NAME, MARKET) VALUES ('" + std::to_string(1301 + i) +
                   "', '" + stockName(i) + "', '東証P');";
        db->executeNative(sql + "COMMIT;");
    }
};

NamesDb &namesDb() {
    static NamesDb n;
    return n;
}

void BM_LikeTenStars(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(storage::jetLike(kFortyA.c_str(), kTenStars.c_str()));
}
BENCHMARK(BM_LikeTenStars)->Unit(benchmark::kMicrosecond);

void BM_LikeTenStarsThroughSql(benchmark::State &state) {
    storage::Database &db = *namesDb().db;
    const std::string sql = "select '" + kFortyA + "' like '" + kTenStars + "'";
    for (auto _ : state)
        benchmark::DoNotOptimize(db.scalar(sql).toInt());
}
BENCHMARK(BM_LikeTenStarsThroughSql)->Unit(benchmark::kMicrosecond);

// The argument is the number of '?' typed into the search box.
void BM_StockSearch(benchmark::State &state) {
    storage::Database &db = *namesDb().db;
    std::string typed = "?";
    for (int i = 1; i < state.range(0); ++i)
        typed += "*?";
    const storage::Query query = tables::searchSource(typed, false);
    for (auto _ : state) {
        const storage::ResultSet rows = db.openRecordset(query.sql, query.params);
        state.counters["rows"] = static_cast<double>(rows.rowCount());
    }
}
BENCHMARK(BM_StockSearch)->Arg(4)->Arg(12)->Arg(20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
