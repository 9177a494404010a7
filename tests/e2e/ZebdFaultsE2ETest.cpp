// zebd as a process when the machine misbehaves around it: stopped with
// uploads in flight, and without room for a received file.

#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <sys/resource.h>

namespace vek::test {
namespace {

using namespace std::chrono_literals;

// The received uploads: file name → stored path.
std::map<std::string, std::string> received(const std::filesystem::path& dados)
{
    std::map<std::string, std::string> names;
    for (const auto& u : receivedUploads(dados)) {
        names[u.nome] = u.caminho;
    }
    return names;
}

// Work files of uploads being received.
std::vector<std::string> halfReceived(const std::filesystem::path& dados)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dados / "recebidos", ec)) {
        if (e.path().filename().string().rfind(".recebendo-", 0) == 0) {
            names.push_back(e.path().filename().string());
        }
    }
    return names;
}

TEST(ZebdFaults, SigtermDuringUploadsEndsEachOneWholeOrRefusedAndExitsZero)
{
    constexpr int Clients = 6;
    Sandbox server{false};
    const auto dados = server.path() / "dados";
    ZebdProcess zebd{dados};

    struct Sent
    {
        std::string name;
        std::string content;
        ProcessResult result;
    };
    std::atomic<int> finished{0};
    std::vector<std::future<Sent>> uploads;
    for (int i = 0; i < Clients; ++i) {
        uploads.push_back(std::async(std::launch::async, [&, i] {
            Sandbox box{false};
            CliClient cli{box, zebd.messagePort()};
            Sent s;
            s.name = "parada-" + std::to_string(i) + ".xml";
            // Some thousands of blocks: the upload is still running when the server is told to stop.
            s.content = randomBytes(3 * 1024 * 1024, static_cast<unsigned>(i));
            const auto path = box.path() / s.name;
            writeFile(path, s.content);
            s.result = cli.run({"enviar", "--registro", "123456", path.string()});
            ++finished;
            return s;
        }));
    }
    // The stop comes once the server is receiving an upload's data.
    ASSERT_TRUE(waitFor([&] { return !halfReceived(dados).empty(); }, 300s));
    const int finishedBeforeStop = finished.load();
    EXPECT_EQ(zebd.stop(), 0);
    EXPECT_LT(finishedBeforeStop, Clients);

    const auto stored = received(dados);
    int completed = 0;
    for (auto& f : uploads) {
        const Sent s = f.get();
        SCOPED_TRACE(s.name);
        if (s.result.exitCode == 0) {
            ++completed;
            EXPECT_FALSE(outputField(s.result.out, "Protocolo").empty()) << s.result.out;
            ASSERT_EQ(stored.count(s.name), 1U);
            EXPECT_TRUE(readFile(stored.at(s.name)) == s.content);
        } else {
            EXPECT_EQ(s.result.exitCode, 1) << s.result.err;
            EXPECT_EQ(s.result.err.rfind("Erro: ", 0), 0U) << s.result.err;
            EXPECT_EQ(stored.count(s.name), 0U);
        }
    }
    // The upload being received when the stop came was finished, not dropped.
    EXPECT_GE(completed, 1);
    EXPECT_EQ(halfReceived(dados), std::vector<std::string>{});
}

// A disk that is full for zebd alone: a file-size limit on the process
// (SIGXFSZ ignored, so a write beyond it fails instead of killing it).
TEST(ZebdFaults, NoRoomForAReceivedFileRefusesItWithAReasonAndTheServerRecovers)
{
    constexpr rlim_t Limit = 2 * 1024 * 1024;
    struct IgnoreXfsz
    {
        IgnoreXfsz() { previous = std::signal(SIGXFSZ, SIG_IGN); }
        ~IgnoreXfsz() { std::signal(SIGXFSZ, previous); }
        void (*previous)(int) = nullptr;
    } ignore;
    Sandbox server{false};
    Sandbox client{false};
    const auto dados = server.path() / "dados";
    ZebdProcess zebd{dados};
    CliClient cli{client, zebd.messagePort()};
    const auto upload = [&](const std::string& name, const std::string& content) {
        const auto path = client.path() / name;
        writeFile(path, content);
        return cli.run({"enviar", "--registro", "123456", path.string()});
    };
    const auto setLimit = [&](rlim_t soft) {
        const rlimit lim{soft, RLIM_INFINITY};
        ASSERT_EQ(prlimit(zebd.pid(), RLIMIT_FSIZE, &lim, nullptr), 0);
    };

    const std::string earlier = randomBytes(100 * 1024, 1);
    ASSERT_EQ(upload("antes.xml", earlier).exitCode, 0);

    setLimit(Limit);
    const std::string big = randomBytes(3 * 1024 * 1024, 2);
    auto r = upload("grande.xml", big);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    // The reason says what happened, and nothing of the server's own paths.
    EXPECT_EQ(r.err,
              "Erro:  Erro ao confirmar transmissão: Não há espaço no servidor para guardar o arquivo. Tente novamente "
              "mais tarde.\n");
    EXPECT_EQ(halfReceived(dados), std::vector<std::string>{});
    auto stored = received(dados);
    EXPECT_EQ(stored.count("grande.xml"), 0U);
    ASSERT_EQ(stored.count("antes.xml"), 1U);
    EXPECT_TRUE(readFile(stored.at("antes.xml")) == earlier);

    // It keeps serving what fits.
    EXPECT_EQ(cli.run({"listar", "--registro", "123456", "--tipo", "RET"}).exitCode, 0);
    EXPECT_EQ(upload("pequeno.xml", randomBytes(10 * 1024, 3)).exitCode, 0);

    // Room again: the same file goes through.
    setLimit(RLIM_INFINITY);
    r = upload("grande.xml", big);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    stored = received(dados);
    ASSERT_EQ(stored.count("grande.xml"), 1U);
    EXPECT_TRUE(readFile(stored.at("grande.xml")) == big);
    EXPECT_EQ(zebd.stop(), 0);
}

}  // namespace
}  // namespace vek::test
