#include "bench/BenchData.h"
#include "crypto/TDecryptFile.h"
#include "platform/File.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace vek;

void BM_TDecryptFile(benchmark::State& state)
{
    const auto file = bench::randomFile();
    const auto out = bench::benchDir() / "temp" / "decipher.out";
    std::filesystem::create_directories(out.parent_path());
    crypto::TDecryptFile d;
    d.SetArquivoOriginal(file.string());
    d.SetArquivoDestino(out.string());
    d.SetSenha("CHAVE-DO-ARQUIVO-42");
    d.ExcecaoErro = true;
    for (auto _ : state) {
        d.Executar();
    }
    std::filesystem::remove(out);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(file)));
}

// The plain loop a programmer would write: 64 KiB read, XOR with one byte, write.
void BM_PlainXorLoop(benchmark::State& state)
{
    const auto file = bench::randomFile();
    const auto out = bench::benchDir() / "temp" / "xor.out";
    std::filesystem::create_directories(out.parent_path());
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (auto _ : state) {
        platform::File source;
        platform::File destination;
        if (!source.openRead(file.string()) || !destination.create(out.string())) {
            state.SkipWithError("open");
            return;
        }
        for (;;) {
            const auto n = source.readFull(buffer.data(), buffer.size());
            if (n <= 0) {
                break;
            }
            for (std::ptrdiff_t i = 0; i < n; ++i) {
                buffer[static_cast<std::size_t>(i)] ^= 0x7F;
            }
            (void)destination.writeAll(buffer.data(), static_cast<std::size_t>(n));
        }
    }
    std::filesystem::remove(out);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(file)));
}

BENCHMARK(BM_TDecryptFile)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PlainXorLoop)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
