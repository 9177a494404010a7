#include "bench/BenchData.h"
#include "crypto/TCrc32.h"
#include "crypto/THashFunctions.h"

#include <benchmark/benchmark.h>

namespace {

using namespace vek;

void BM_Crc32File(benchmark::State& state)
{
    const auto file = bench::randomFile();
    crypto::TCrc32 crc;
    crc.Crc32FileName = file.string();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc.CalculateCrc32());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(file)));
}

void BM_TigerFile(benchmark::State& state)
{
    const auto file = bench::randomFile();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crypto::THashFunctions::TigerFileHash(file.string()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(file)));
}

BENCHMARK(BM_Crc32File)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_TigerFile)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
