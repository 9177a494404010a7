#include "bench/BenchData.h"
#include "crypto/TGzip.h"
#include "crypto/UploadPreparation.h"
#include "platform/File.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vek;

// Resident memory of the process right now.
double residentMiB()
{
    long pages = 0;
    long resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

void prepare(benchmark::State& state, const std::filesystem::path& file)
{
    const auto temp = bench::benchDir() / "temp";
    std::filesystem::create_directories(temp);
    std::int64_t enciphered = 0;
    const double baseline = residentMiB();
    for (auto _ : state) {
        // The preparation the upload uses: the blocks wait in the enciphered work file.
        crypto::PreparedUploadFile up = crypto::prepareUploadFile(file.string(), temp, crypto::UploadBlockSize, {});
        enciphered = up.blocks.total();
        benchmark::DoNotOptimize(up.blocks.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(file)));
    state.counters["enciphered_MiB"] = static_cast<double>(enciphered) / (1 << 20);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["maxrss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024;
    state.counters["baseline_MiB"] = baseline;
}

// zlib level 1 alone, file to file, with the same read size: the floor.
void zlibLevel1(benchmark::State& state, const std::filesystem::path& file)
{
    const auto out = bench::benchDir() / "temp" / "zlib1.out";
    std::filesystem::create_directories(out.parent_path());
    std::vector<std::uint8_t> in(1 << 20);
    std::vector<std::uint8_t> buffer(256 * 1024);
    z_stream z{};
    for (auto _ : state) {
        platform::File source;
        platform::File destination;
        if (!source.openRead(file.string()) || !destination.create(out.string())) {
            state.SkipWithError("open");
            return;
        }
        z = z_stream{};
        deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        auto drain = [&](int flush) {
            do {
                z.next_out = buffer.data();
                z.avail_out = static_cast<uInt>(buffer.size());
                deflate(&z, flush);
                (void)destination.writeAll(buffer.data(), buffer.size() - z.avail_out);
            } while (z.avail_out == 0);
        };
        for (;;) {
            const auto n = source.readFull(in.data(), in.size());
            if (n <= 0) {
                break;
            }
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
            drain(Z_NO_FLUSH);
        }
        drain(Z_FINISH);
        deflateEnd(&z);
    }
    std::filesystem::remove(out);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(file)));
    // The gzip file zlib's level 1 would make: the deflate stream, the
    // fixed header with the name and the trailer.
    state.counters["gzip_bytes"] = static_cast<double>(z.total_out + 10 + file.filename().string().size() + 1 + 8);
}

// The gzip component alone at level 1, file to file, on every core it takes.
void gzipLevel1(benchmark::State& state, const std::filesystem::path& file)
{
    const auto out = bench::benchDir() / "temp" / "tgzip1.gz";
    std::filesystem::create_directories(out.parent_path());
    double size = 0;
    for (auto _ : state) {
        crypto::TGzip gz;
        gz.FileSource = file.string();
        gz.FileDestination = out.string();
        gz.CompressionLevel = 1;
        gz.WindowOnError = false;
        if (gz.Compress() != crypto::TGzip::ResultOk) {
            state.SkipWithError("compress");
            return;
        }
        size = static_cast<double>(std::filesystem::file_size(out));
    }
    std::filesystem::remove(out);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(file)));
    state.counters["gzip_bytes"] = size;
}

// The preparation's pipeline with a chosen number of deflating threads (the
// first argument): the gzip work file written (second argument 1; 0 sends it
// to /dev/null, to show what writing it costs), every gzip byte enciphered
// into the block file on the calling thread. With one thread the deflate runs
// on one core and the cipher and the writing on the other; with two or more
// the pieces are deflated on both cores beside the cipher.
void gzipCipher(benchmark::State& state, const std::filesystem::path& file)
{
    const auto temp = bench::benchDir() / "temp";
    std::filesystem::create_directories(temp);
    const std::filesystem::path gzPath = state.range(1) != 0 ? temp / "pipeline.gz" : "/dev/null";
    crypto::SymmetricKey key{};
    key[0] = 1;
    for (auto _ : state) {
        crypto::BlockFile blocks(temp / "pipeline.cpt");
        crypto::UploadEncipherer encipherer(key);
        crypto::TGzip gz;
        gz.FileSource = file.string();
        gz.FileDestination = gzPath.string();
        gz.CompressionLevel = 1;
        gz.WindowOnError = false;
        gz.CompressionThreads = static_cast<unsigned>(state.range(0));
        gz.setOutputObserver([&](std::span<const std::uint8_t> bytes) { blocks.append(encipherer.update(bytes)); });
        if (gz.Compress() != crypto::TGzip::ResultOk) {
            state.SkipWithError("compress");
            return;
        }
        blocks.append(encipherer.finish());
        blocks.finish(crypto::UploadBlockSize);
        if (state.range(1) != 0) {
            std::filesystem::remove(gzPath);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(file)));
}

void BM_PrepareUpload_Compressible(benchmark::State& s)
{
    prepare(s, bench::compressibleFile());
}
void BM_PrepareUpload_Random(benchmark::State& s)
{
    prepare(s, bench::randomFile());
}
void BM_ZlibLevel1_Compressible(benchmark::State& s)
{
    zlibLevel1(s, bench::compressibleFile());
}
void BM_ZlibLevel1_Random(benchmark::State& s)
{
    zlibLevel1(s, bench::randomFile());
}

void BM_TGzipLevel1_Compressible(benchmark::State& s)
{
    gzipLevel1(s, bench::compressibleFile());
}
void BM_TGzipLevel1_Random(benchmark::State& s)
{
    gzipLevel1(s, bench::randomFile());
}
void BM_ZlibLevel1_Text(benchmark::State& s)
{
    zlibLevel1(s, bench::textFile());
}
void BM_TGzipLevel1_Text(benchmark::State& s)
{
    gzipLevel1(s, bench::textFile());
}

// One run per repetition: run_peers.sh takes the best of its repetitions.
BENCHMARK(BM_PrepareUpload_Compressible)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PrepareUpload_Random)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ZlibLevel1_Compressible)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ZlibLevel1_Random)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TGzipLevel1_Compressible)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TGzipLevel1_Random)->Unit(benchmark::kMillisecond)->Iterations(1);
// CPU time of every thread beside the wall time, one run per repetition.
BENCHMARK_CAPTURE(gzipCipher, Compressible, bench::compressibleFile())
    ->ArgsProduct({{1, 2, 3}, {1, 0}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(gzipCipher, Random, bench::randomFile())
    ->ArgsProduct({{1, 2, 3}, {1, 0}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_ZlibLevel1_Text)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TGzipLevel1_Text)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
