// A 256 MiB download from an in-process zebd over loopback: the transfer
// phase with the program's FTP client beside curl in active mode against the
// same server in the same run, then the decipherment; the fixed waits of the
// download are added to give the whole download's wall time.
#include "crypto/TBlowfishQv.h"
#include "crypto/TDecryptFile.h"
#include "ftp/TZebFTP.h"
#include "server/Availability.h"
#include "server/ListRows.h"
#include "server/Store.h"
#include "server/ZebServer.h"
#include "wire/Timeouts.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t DownloadBytes = 256ULL * 1024 * 1024;

std::filesystem::path benchDir()
{
    const char* dir = std::getenv("VEK_BENCH_DIR");
    std::filesystem::path p = dir != nullptr ? dir : "/tmp/vek-bench";
    std::filesystem::create_directories(p);
    return p;
}

std::filesystem::path sourceFile()
{
    const auto path = benchDir() / "download-256mib.bin";
    if (!std::filesystem::exists(path) || std::filesystem::file_size(path) != DownloadBytes) {
        std::mt19937_64 gen(7);
        std::vector<std::uint64_t> buf(DownloadBytes / 8);
        for (auto& v : buf) {
            v = gen();
        }
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(buf.data()), DownloadBytes);
    }
    return path;
}

std::string enc(const std::string& text)
{
    return vek::crypto::EncryptProtocolText(text);
}

// One server and one published file for every benchmark of the run.
struct Published
{
    Published()
    {
        const auto base = benchDir() / "download-run";
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base);
        vek::server::ServerConfig config;
        config.dataDir = base / "dados";
        config.messagePort = 0;
        config.ftpPort = 0;
        config.demo = true;
        config.demoContent = false;
        server.start(config);
        file = vek::server::makeFileAvailable(
            server.store(), config.dataDir, {"123456", "RET", sourceFile(), "Arquivo de teste", "", {}});
        login = server.store().issueDownloadCredentials("123456", std::chrono::hours(1));
        request = "123456|demo|" + file.fileName + "|" + std::to_string(file.id) + "|RET|" +
                  vek::server::serverPathOf(file) + "|" + login.identifier;
        work = base;
    }
    vek::server::ZebServer server;
    vek::server::AvailableFile file;
    vek::server::DownloadCredentials login;
    std::string request;
    std::filesystem::path work;
};

Published& published()
{
    static Published p;
    return p;
}

void BM_FtpClientTransfer(benchmark::State& state)
{
    Published& p = published();
    const auto local = p.work / "cliente.tmp";
    for (auto _ : state) {
        vek::ftp::TZebFTP ftp;
        ftp.Host = "127.0.0.1";
        ftp.Port = p.server.ports().ftp;
        ftp.Username = enc(p.login.user);
        ftp.Password = enc(p.login.password);
        ftp.ReadTimeout = 6000;
        ftp.TamanhoEsperadoKB = static_cast<std::int32_t>(DownloadBytes / 1024);
        ftp.Connect();
        ftp.RetrieveFile(enc(p.request), local.string());
        ftp.Disconnect();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(local)));
}

void BM_CurlTransfer(benchmark::State& state)
{
    Published& p = published();
    const auto local = p.work / "curl.tmp";
    const std::string command = "curl -s -S -P 127.0.0.1 --disable-eprt --user " + enc(p.login.user) + ":" +
                                enc(p.login.password) + " ftp://127.0.0.1:" + std::to_string(p.server.ports().ftp) +
                                "/" + enc(p.request) + " -o " + local.string();
    for (auto _ : state) {
        const int rc = std::system(command.c_str());
        if (rc != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(local)));
}

void BM_Decipherment(benchmark::State& state)
{
    Published& p = published();
    const auto local = p.work / "cliente.tmp";
    if (!std::filesystem::exists(local)) {
        state.SkipWithError("run BM_FtpClientTransfer first");
        return;
    }
    for (auto _ : state) {
        vek::crypto::TDecryptFile d;
        d.SetArquivoOriginal(local.string());
        d.SetArquivoDestino((p.work / "claro.bin").string());
        d.SetSenha(p.file.cipherKey);
        d.UsarSenha = true;
        d.ExcecaoErro = true;
        d.Executar();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(DownloadBytes));
    const vek::wire::Timeouts t;
    state.counters["fixed_waits_s"] = std::chrono::duration<double>(t.afterDownload + t.afterDownloadExtra).count();
}

}  // namespace

BENCHMARK(BM_FtpClientTransfer)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_CurlTransfer)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_FtpClientTransfer)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_CurlTransfer)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Decipherment)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
