// The upload over loopback against an in-process zebd, beside the physical
// limit of its stop-and-wait pattern: a bare ping-pong of one 1285-byte frame
// and one 5-byte reply, the shape of one data block and its acknowledgement.
// Also the whole upload of the preparation benchmark's two 256 MiB inputs
// with a window of 4096 blocks, from the call to the receipt.
#include "bench/BenchData.h"
#include "channel/TCanalZEBCliente.h"
#include "platform/Socket.h"
#include "server/ZebServer.h"
#include "wire/Frame.h"
#include "wire/MessageCodes.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t UploadBytes = 100 * 1000 * 1000;

std::filesystem::path benchDir()
{
    const char* dir = std::getenv("VEK_BENCH_DIR");
    std::filesystem::path p = dir != nullptr ? dir : "/tmp/vek-bench";
    std::filesystem::create_directories(p);
    return p;
}

// 100 MB of pseudo-random bytes: nothing to compress, about 78,000 blocks.
std::filesystem::path uploadFile()
{
    const auto path = benchDir() / "upload-100mb.bin";
    if (!std::filesystem::exists(path) || std::filesystem::file_size(path) != UploadBytes) {
        std::mt19937_64 gen(42);
        std::vector<std::uint64_t> buf(UploadBytes / 8);
        for (auto& v : buf) {
            v = gen();
        }
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(buf.data()), UploadBytes);
    }
    return path;
}

// One pass of the bare pattern: `blocks` round trips of a 1285-byte frame and
// a 5-byte reply between this thread and a peer thread; blocks per second.
double stopAndWaitLimit(int blocks)
{
    vek::platform::TcpListener listener;
    listener.listen("127.0.0.1", 0);
    std::thread server([&] {
        auto conn = listener.accept(10s);
        std::array<std::uint8_t, 1285> frame{};
        const auto ack = vek::wire::MontarMensagem(vek::wire::CMD_ACK, 0);
        try {
            for (;;) {
                conn.readExact(frame, 30s);
                conn.writeAll(ack, 30s);
            }
        } catch (const std::exception&) {
        }
    });
    vek::platform::TcpSocket client;
    client.connect("127.0.0.1", listener.localPort(), 5s);
    const std::vector<std::uint8_t> payload(1280, 0xAB);
    const auto frame = vek::wire::MontarMensagem(vek::wire::CMD_BLOCO, 1280, payload);
    std::array<std::uint8_t, 5> reply{};
    const auto start = Clock::now();
    for (int i = 0; i < blocks; ++i) {
        client.writeAll(frame, 30s);
        client.readExact(reply, 30s);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    client.close();
    server.join();
    return blocks / seconds;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const auto n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The limit alone, for reference.
void BM_StopAndWaitLimit(benchmark::State& state)
{
    const auto blocks = static_cast<int>(state.range(0));
    std::vector<double> rates;
    for (auto _ : state) {
        rates.push_back(stopAndWaitLimit(blocks));
    }
    state.counters["blocks_per_s"] = median(rates);
}

// Each iteration measures the limit and then the upload, back to back, so
// that the two share the machine's state of the moment (this machine's
// loopback rate swings by half from one minute to the next); the ratio is
// taken per pair. Counters are medians over the pairs, plus the best pair.
void BM_Upload100MB(benchmark::State& state)
{
    const auto file = uploadFile();
    const auto base = benchDir() / "upload-run";
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base / "cliente");
    vek::server::ZebServer server;
    vek::server::ServerConfig config;
    config.dataDir = base / "dados";
    config.messagePort = 0;
    config.ftpPort = 0;
    config.demo = true;
    server.start(config);
    std::ofstream(base / "cliente" / "vek.INI")
        << "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" << server.ports().mensagens << "\r\n";
    setenv("VEK_DIR", (base / "cliente").c_str(), 1);

    std::vector<double> prep;
    std::vector<double> auth;
    std::vector<double> transfer;
    std::vector<double> rate;
    std::vector<double> limit;
    std::vector<double> ratio;
    for (auto _ : state) {
        state.PauseTiming();
        limit.push_back(stopAndWaitLimit(78200));
        state.ResumeTiming();

        vek::channel::TCanalZEBCliente canal;
        canal.CD_Operadora = "123456";
        canal.Senha = "demo";
        canal.Arquivo = file.string();
        canal.SetTipo_Arquivo("XML");
        const auto start = Clock::now();
        Clock::time_point prepared{};
        Clock::time_point authorized{};
        canal.AoEnviarArquivo = [&](vek::channel::TCanalZEBCliente&, const vek::channel::TStatusUpload& s) {
            if (prepared == Clock::time_point{} && s.StatusPreparacao == vek::channel::tseFinalizada) {
                prepared = Clock::now();
            }
            if (authorized == Clock::time_point{} && s.StatusConexao == vek::channel::tseFinalizada) {
                authorized = Clock::now();
            }
        };
        vek::channel::TResultadoEnvio r;
        canal.EnviarArquivo(r);
        const auto end = Clock::now();
        if (!r.Sucesso) {
            state.SkipWithError("upload failed");
            break;
        }
        prep.push_back(std::chrono::duration<double>(prepared - start).count());
        auth.push_back(std::chrono::duration<double>(authorized - prepared).count());
        transfer.push_back(std::chrono::duration<double>(end - authorized).count());
        rate.push_back(static_cast<double>(canal.BlocosDados.size()) / transfer.back());
        ratio.push_back(rate.back() / limit.back());
    }
    server.stop();
    if (ratio.empty()) {
        return;
    }
    state.counters["preparation_s"] = median(prep);
    state.counters["authorization_s"] = median(auth);
    state.counters["transmission_s"] = median(transfer);
    state.counters["blocks_per_s"] = median(rate);
    state.counters["limit_blocks_per_s"] = median(limit);
    state.counters["ratio"] = median(ratio);
    state.counters["ratio_best"] = *std::max_element(ratio.begin(), ratio.end());
    state.counters["ratio_worst"] = *std::min_element(ratio.begin(), ratio.end());
}

// The whole upload with the largest window, from EnviarArquivo's call to the
// receipt: preparation, authorization and transmission of one input.
void uploadWindow4096(benchmark::State& state, const std::filesystem::path& file)
{
    const auto base = benchDir() / "upload-window-run";
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base / "cliente");
    vek::server::ZebServer server;
    vek::server::ServerConfig config;
    config.dataDir = base / "dados";
    config.messagePort = 0;
    config.ftpPort = 0;
    config.demo = true;
    server.start(config);
    std::ofstream(base / "cliente" / "vek.INI")
        << "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" << server.ports().mensagens << "\r\n";
    setenv("VEK_DIR", (base / "cliente").c_str(), 1);
    setenv("TMPDIR", (base / "cliente").c_str(), 1);

    std::vector<double> whole;
    std::vector<double> prep;
    double enciphered = 0;
    for (auto _ : state) {
        vek::channel::TCanalZEBCliente canal;
        canal.CD_Operadora = "123456";
        canal.Senha = "demo";
        canal.Arquivo = file.string();
        canal.SetTipo_Arquivo("XML");
        canal.janelaEnvio = 4096;
        const auto start = Clock::now();
        Clock::time_point prepared{};
        canal.AoEnviarArquivo = [&](vek::channel::TCanalZEBCliente&, const vek::channel::TStatusUpload& s) {
            if (prepared == Clock::time_point{} && s.StatusPreparacao == vek::channel::tseFinalizada) {
                prepared = Clock::now();
            }
        };
        vek::channel::TResultadoEnvio r;
        canal.EnviarArquivo(r);
        const auto end = Clock::now();
        if (!r.Sucesso) {
            state.SkipWithError("upload failed");
            break;
        }
        whole.push_back(std::chrono::duration<double>(end - start).count());
        prep.push_back(std::chrono::duration<double>(prepared - start).count());
        enciphered = static_cast<double>(canal.TamanhoCifrado);
        // Each upload is stored anew; the disk need not hold them all.
        state.PauseTiming();
        for (const auto& entry : std::filesystem::directory_iterator(config.dataDir / vek::server::ReceivedDirName)) {
            if (entry.is_regular_file()) {
                std::filesystem::remove(entry.path());
            }
        }
        state.ResumeTiming();
    }
    server.stop();
    std::filesystem::remove_all(base);
    if (whole.empty()) {
        return;
    }
    state.counters["to_receipt_s"] = median(whole);
    state.counters["to_receipt_best_s"] = *std::min_element(whole.begin(), whole.end());
    state.counters["preparation_s"] = median(prep);
    state.counters["enciphered_MiB"] = enciphered / (1 << 20);
}

void BM_UploadWindow4096_Compressible(benchmark::State& state)
{
    uploadWindow4096(state, vek::bench::compressibleFile());
}
void BM_UploadWindow4096_Random(benchmark::State& state)
{
    uploadWindow4096(state, vek::bench::randomFile());
}

}  // namespace

BENCHMARK(BM_UploadWindow4096_Compressible)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_UploadWindow4096_Random)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StopAndWaitLimit)->Arg(78200)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Upload100MB)->Unit(benchmark::kMillisecond)->Iterations(7);

BENCHMARK_MAIN();
