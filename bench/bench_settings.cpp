// Reading a settings file with many keys in one section, as a long updater state or a
// hand-filled file may have: one value looked up, and the whole section read. Both read the
// whole file, so their time must grow with its size, not with its square.
#include "core/common/paths.h"
#include "core/storage/settings_store.h"
#include "support/temp_env.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace tesmo;

namespace {

// A settings file of `keys` keys in one section, written as the store writes it.
void writeKeys(int keys) {
    std::ofstream out(storage::settingsFilePath("bench"), std::ios::trunc);
    out << "[trg_dt]\n";
    for (int i = 0; i < keys; ++i)
        out << "module" << i << ".dat=124010100\n";
}

void BM_ReadOneKey(benchmark::State &state) {
    test::TempEnv env;
    std::filesystem::create_directories(settingsDir());
    writeKeys(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(storage::getSetting("bench", "trg_dt", "module1.dat", ""));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadOneKey)->Arg(40000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_ReadWholeSection(benchmark::State &state) {
    test::TempEnv env;
    std::filesystem::create_directories(settingsDir());
    writeKeys(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(storage::getAllSettings("bench", "trg_dt"));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadWholeSection)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

} // namespace

BENCHMARK_MAIN();
