// zebd serving many independent clients at once: each a vek-cli process with
// its own base directory, uploading while others list, download and read the
// history.

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "tests/fixtures/Process.h"
#include "tests/fixtures/SocketPair.h"
#include "tests/server/ServerTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <regex>
#include <set>

namespace vek::test {
namespace {

using namespace std::chrono_literals;

// A vek-cli base directory pointed at the server.
struct CliBase
{
    explicit CliBase(const RunningServer& zebd)
    {
        writeFile(box.path() / "vek.INI",
                  "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" + std::to_string(zebd.port()) +
                      "\r\nPortaFTP=" + std::to_string(zebd.ftpPort()) +
                      "\r\nPortaDados=" + std::to_string(freePort()) + "\r\n");
    }

    ProcessResult run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), binPath("vek-cli"));
        return runProcess(args, {{"VEK_DIR", box.path().string()}, {"VEK_SENHA", "demo"}}, {"TMPDIR"});
    }

    Sandbox box{false};
};

TEST(ZebdUnderLoad, SixtyFourUploadsWhileOthersListDownloadAndReadTheHistory)
{
    constexpr int Uploads = 64;
    // Room for every upload and the queries beside them: what is tested here
    // is the work, not the refusal beyond the bound (tested on its own).
    RunningServer zebd([](server::ServerConfig& c) {
        c.maxConnections = 2 * Uploads;
        // A busy machine may leave a client without the processor for a while.
        c.timeouts.streamTimeout = 120s;
        c.idleTimeout = 120s;
    });
    const std::string published = randomBytes(40000, 999);
    const auto file = publish(zebd, "retorno-carga.xml", published);
    const std::string today = platform::formatTimestamp(platform::localNow()).substr(0, 10);

    std::atomic<int> uploadsLeft{Uploads};
    // Queries run in rounds until the last upload has ended, at least one round each.
    auto queries = std::async(std::launch::async, [&] {
        CliBase cli(zebd);
        int rounds = 0;
        std::vector<std::string> failures;
        do {
            ++rounds;
            const auto list = cli.run({"listar", "--registro", "123456", "--tipo", "RET"});
            if (list.exitCode != 0 || list.out.find("retorno-carga.xml") == std::string::npos) {
                failures.push_back("listar: " + list.err);
            }
            const auto history = cli.run({"historico", "--registro", "123456", "--inicio", today, "--fim", today});
            if (history.exitCode != 0) {
                failures.push_back("historico: " + history.err);
            }
            const auto destino = cli.box.path() / ("baixado-" + std::to_string(rounds));
            std::filesystem::create_directories(destino);
            const auto download = cli.run({"baixar",
                                           "--registro",
                                           "123456",
                                           "--tipo",
                                           "RET",
                                           "--id",
                                           std::to_string(file.id),
                                           "--destino",
                                           destino.string()});
            if (download.exitCode != 0 || readFile(destino / "retorno-carga.xml") != published) {
                failures.push_back("baixar: " + download.err);
            }
        } while (uploadsLeft.load() > 0 && failures.empty());
        return std::make_pair(rounds, failures);
    });

    struct Sent
    {
        std::string content;
        ProcessResult result;
    };
    std::vector<std::future<Sent>> uploads;
    for (int i = 0; i < Uploads; ++i) {
        uploads.push_back(std::async(std::launch::async, [&zebd, &uploadsLeft, i] {
            CliBase cli(zebd);
            Sent s;
            s.content = randomBytes(2000 + static_cast<std::size_t>(i) * 97, static_cast<unsigned>(i));
            const auto path = cli.box.path() / ("carga-" + std::to_string(i) + ".xml");
            writeFile(path, s.content);
            s.result = cli.run({"enviar", "--registro", "123456", path.string()});
            --uploadsLeft;
            return s;
        }));
    }

    std::set<std::string> protocols;
    std::set<std::string> authentications;
    for (auto& f : uploads) {
        const Sent s = f.get();
        ASSERT_EQ(s.result.exitCode, 0) << s.result.err;
        const std::string protocol = outputField(s.result.out, "Protocolo");
        ASSERT_FALSE(protocol.empty()) << s.result.out;
        protocols.insert(protocol);
        authentications.insert(outputField(s.result.out, "Autenticacao"));
        const auto record = zebd.server().store().upload(std::stoll(protocol));
        ASSERT_TRUE(record.has_value()) << protocol;
        EXPECT_TRUE(readFile(record->storedPath) == s.content) << record->storedPath;
    }
    EXPECT_EQ(protocols.size(), static_cast<std::size_t>(Uploads));
    EXPECT_EQ(authentications.size(), static_cast<std::size_t>(Uploads));

    const auto [rounds, failures] = queries.get();
    EXPECT_GE(rounds, 1);
    for (const auto& f : failures) {
        ADD_FAILURE() << f;
    }
    // Nothing is left half received.
    for (const auto& e : std::filesystem::directory_iterator(zebd.dataDir() / server::ReceivedDirName)) {
        EXPECT_NE(e.path().filename().string().rfind(".recebendo-", 0), 0U) << e.path();
    }
}

}  // namespace
}  // namespace vek::test
