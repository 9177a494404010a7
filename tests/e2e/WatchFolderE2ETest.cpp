#include "platform/Socket.h"
#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vek::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A loopback relay in front of zebd that holds back what the client sends on
// its first connection once `holdAfter` bytes went through, until released.
class HoldingRelay
{
public:
    HoldingRelay(std::uint16_t target, std::size_t holdAfter)
        : target_(target)
        , holdAfter_(holdAfter)
    {
        listener_.listen("127.0.0.1", 0);
        port_ = listener_.localPort();
        thread_ = std::thread([this] { serve(); });
    }
    ~HoldingRelay()
    {
        release();
        stop_ = true;
        thread_.join();
        for (auto& t : connections_) {
            t.join();
        }
    }
    HoldingRelay(const HoldingRelay&) = delete;
    HoldingRelay& operator=(const HoldingRelay&) = delete;

    [[nodiscard]] std::uint16_t port() const { return port_; }
    [[nodiscard]] bool holding() const { return holding_; }
    void release() { released_ = true; }

private:
    void serve()
    {
        int index = 0;
        while (!stop_) {
            pollfd p{listener_.fd(), POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                continue;
            }
            const int client = accept(listener_.fd(), nullptr, nullptr);
            if (client < 0) {
                continue;
            }
            const int server = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(target_);
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                close(client);
                close(server);
                continue;
            }
            const bool first = index++ == 0;
            connections_.emplace_back([this, client, server, first] { pump(client, server, first); });
        }
    }

    void pump(int client, int server, bool first)
    {
        std::size_t sent = 0;
        char buf[4096];
        for (;;) {
            const bool hold = first && sent >= holdAfter_ && !released_;
            if (hold) {
                holding_ = true;
            }
            pollfd fds[2] = {{server, POLLIN, 0}, {hold ? -1 : client, POLLIN, 0}};
            if (poll(fds, 2, 50) < 0) {
                break;
            }
            if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t n = read(server, buf, sizeof buf);
                if (n <= 0 || write(client, buf, static_cast<std::size_t>(n)) != n) {
                    break;
                }
            }
            if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
                const std::size_t room = first && !released_ ? std::min(sizeof buf, holdAfter_ - sent) : sizeof buf;
                const ssize_t n = read(client, buf, room);
                if (n <= 0 || write(server, buf, static_cast<std::size_t>(n)) != n) {
                    break;
                }
                sent += static_cast<std::size_t>(n);
            }
            if (stop_ && !hold) {
                break;
            }
        }
        close(client);
        close(server);
    }

    platform::TcpListener listener_;
    std::uint16_t target_;
    std::uint16_t port_ = 0;
    std::size_t holdAfter_;
    std::atomic<bool> holding_{false};
    std::atomic<bool> released_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<std::thread> connections_;
};

std::string protocolOf(const std::string& record)
{
    std::smatch m;
    return std::regex_search(record, m, std::regex("<protocoloTX>([^<]*)</protocoloTX>")) ? m[1].str() : std::string();
}

class WatchFolderE2E : public ::testing::Test
{
protected:
    Sandbox server{false};
    Sandbox client{false};
    ZebdProcess zebd{server.path() / "dados"};
    CliClient cli{client, zebd.messagePort()};
    fs::path entrada = client.path() / "entrada";
    fs::path enviados = client.path() / "saida" / "enviados";
    fs::path falhas = client.path() / "saida" / "falhas";

    void SetUp() override { fs::create_directories(entrada); }

    std::vector<std::string> watchArgs(bool json = false) const
    {
        std::vector<std::string> args{"vigiar",
                                      "--registro",
                                      "123456",
                                      "--pasta",
                                      entrada.string(),
                                      "--enviados",
                                      enviados.string(),
                                      "--falhas",
                                      falhas.string()};
        if (json) {
            args.push_back("--json");
        }
        return args;
    }

    // Every file ends in exactly one place; a sent one byte for byte as
    // written and as zebd stored it, with its record beside it; a failed one
    // with its record and its error text.
    void expectPlaced(const std::map<std::string, std::string>& written,
                      const std::set<std::string>& refused,
                      const std::set<std::string>& leftInEntrada = {})
    {
        const auto stored = storedByProtocol(server.path() / "dados");
        for (const auto& [name, content] : written) {
            SCOPED_TRACE(name);
            const int places = (fs::exists(entrada / name) ? 1 : 0) + (fs::exists(enviados / name) ? 1 : 0) +
                               (fs::exists(falhas / name) ? 1 : 0);
            EXPECT_EQ(places, 1);
            if (leftInEntrada.count(name) != 0) {
                EXPECT_TRUE(readFile(entrada / name) == content);
                continue;
            }
            const fs::path& dir = refused.count(name) != 0 ? falhas : enviados;
            ASSERT_TRUE(fs::exists(dir / name));
            EXPECT_TRUE(readFile(dir / name) == content);
            const std::string record = readFile(dir / (name + ".registro.xml"));
            EXPECT_NE(record.find("<operadora>123456</operadora>"), std::string::npos) << record;
            const std::string protocolo = protocolOf(record);
            // The receipt's own values went along with the record's copy.
            const std::string recibo = readFile(dir / (name + ".registro.recibo"));
            EXPECT_NE(recibo.find("<protocoloTX>" + protocolo + "</protocoloTX>"), std::string::npos) << recibo;
            if (refused.count(name) != 0) {
                EXPECT_EQ(protocolo, "");
                // The error text alone, as a program reads it.
                const std::string erro = readFile(dir / (name + ".erro"));
                EXPECT_TRUE(std::regex_match(erro, std::regex("[^ \r\n].*não permitido.*[^ \r\n]\n"))) << erro;
            } else {
                ASSERT_EQ(stored.count(protocolo), 1U) << record;
                EXPECT_TRUE(readFile(stored.at(protocolo)) == content);
                EXPECT_FALSE(fs::exists(dir / (name + ".erro")));
            }
        }
    }
};

TEST_F(WatchFolderE2E, FilesAreTakenOnlyWhenWrittenAndPlacedWithTheirOutcome)
{
    std::map<std::string, std::string> written;
    const auto drop = [&](const std::string& name, const std::string& content) {
        writeFile(entrada / name, content);
        written[name] = content;
    };
    drop("antes.xml", "<ja>estava na pasta</ja>");
    RunningCli watch(cli, client.path() / "logs", watchArgs());
    ASSERT_TRUE(watch.waitForLine("antes.xml")) << watch.err();

    // A file written slowly in pieces through one open descriptor.
    const std::string pieces[] = {randomBytes(50000, 1), randomBytes(70000, 2), randomBytes(30000, 3)};
    std::ofstream lento(entrada / "lento.xml", std::ios::binary);
    lento << pieces[0] << std::flush;

    // Files that must stay where they are, and files taken meanwhile.
    for (const char* ignored : {".oculto.xml", "copiando.xml.tmp", "baixando.PART"}) {
        writeFile(entrada / ignored, "ainda não");
    }
    drop("rapido.xml", "<rapido/>");
    drop("recusado.qqq", "tipo fora da lista");
    ASSERT_TRUE(watch.waitForLine("rapido.xml")) << watch.err();
    ASSERT_TRUE(watch.waitForLine("recusado.qqq")) << watch.err();
    EXPECT_EQ(watch.linesFor("lento.xml"), 0U);

    lento << pieces[1] << std::flush;
    drop("rapido2.xml", "<rapido numero=\"2\"/>");
    ASSERT_TRUE(watch.waitForLine("rapido2.xml")) << watch.err();
    EXPECT_EQ(watch.linesFor("lento.xml"), 0U);
    EXPECT_TRUE(fs::exists(entrada / "lento.xml"));

    lento << pieces[2];
    lento.close();
    written["lento.xml"] = pieces[0] + pieces[1] + pieces[2];
    ASSERT_TRUE(watch.waitForLine("lento.xml")) << watch.err();

    watch.signal(SIGTERM);
    EXPECT_EQ(watch.wait(), 0) << watch.err();
    expectPlaced(written, {"recusado.qqq"});
    for (const char* ignored : {".oculto.xml", "copiando.xml.tmp", "baixando.PART"}) {
        EXPECT_EQ(readFile(entrada / ignored), "ainda não") << ignored;
        EXPECT_EQ(watch.linesFor(ignored), 0U);
    }
    // One line per file: when, outcome, name, protocol or error, where it went.
    const std::regex sent("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\tenviado\tlento.xml\t[0-9]+\t" +
                          (enviados / "lento.xml").string() + "\n");
    EXPECT_TRUE(std::regex_search(watch.out(), sent)) << watch.out();
    const std::regex failed("\tfalhou\trecusado.qqq\t[^ \t\n][^\t\n]*QQQ[^\t\n]*[^ \t\n]\t" +
                            (falhas / "recusado.qqq").string() + "\n");
    EXPECT_TRUE(std::regex_search(watch.out(), failed)) << watch.out();
    const std::string out = watch.out();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5) << out;
}

TEST_F(WatchFolderE2E, StopDuringAnUploadFinishesItAndARestartTakesTheRest)
{
    std::map<std::string, std::string> written{
        {"grande.zip", randomBytes(400000, 9)}, {"p1.xml", "<p>1</p>"}, {"p2.xml", "<p>2</p>"}};
    for (const auto& [name, content] : written) {
        writeFile(entrada / name, content);
    }
    {
        // The upload of the first file is held in the middle by the relay.
        HoldingRelay relay(zebd.messagePort(), 30000);
        CliClient throughRelay{client, relay.port()};
        RunningCli watch(throughRelay, client.path() / "logs1", watchArgs());
        ASSERT_TRUE(waitFor([&] { return relay.holding(); }, 120s)) << watch.err();
        watch.signal(SIGTERM);
        relay.release();
        EXPECT_EQ(watch.wait(), 0) << watch.err();
        EXPECT_EQ(watch.linesFor("grande.zip"), 1U) << watch.out();
        expectPlaced(written, {}, {"p1.xml", "p2.xml"});
    }
    CliClient direct{client, zebd.messagePort()};
    RunningCli watch(direct, client.path() / "logs2", watchArgs(true));
    ASSERT_TRUE(waitFor([&] { return !fs::exists(entrada / "p1.xml") && !fs::exists(entrada / "p2.xml"); }, 120s))
        << watch.err();
    ASSERT_TRUE(waitFor(
        [&] {
            const std::string out = watch.out();
            return std::count(out.begin(), out.end(), '\n') == 2;
        },
        120s));
    watch.signal(SIGTERM);
    EXPECT_EQ(watch.wait(), 0) << watch.err();
    expectPlaced(written, {});

    // The JSON form of the per-file line, read back by Python.
    const auto lines = client.write("vigiar.jsonl", watch.out());
    const auto r = runProcess({"/usr/bin/python3",
                               "-c",
                               "import json, sys\n"
                               "for line in open(sys.argv[1], encoding='utf-8'):\n"
                               "    o = json.loads(line)\n"
                               "    print('|'.join(o.keys()), o['Sucesso'], o['Arquivo'], o['Destino'])\n",
                               lines.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string keys =
        "Arquivo|Sucesso|Protocolo|DataHora|EnderecoIP|Autenticacao|Registro|Erro|Destino|DataHoraLocal True ";
    EXPECT_EQ(r.out,
              keys + (entrada / "p1.xml").string() + " " + (enviados / "p1.xml").string() + "\n" + keys +
                  (entrada / "p2.xml").string() + " " + (enviados / "p2.xml").string() + "\n");
}

TEST_F(WatchFolderE2E, AFileRemovedDuringItsUploadDoesNotEndTheWatch)
{
    writeFile(entrada / "some.zip", randomBytes(400000, 4));
    HoldingRelay relay(zebd.messagePort(), 30000);
    CliClient throughRelay{client, relay.port()};
    RunningCli watch(throughRelay, client.path() / "logs", watchArgs());
    ASSERT_TRUE(waitFor([&] { return relay.holding(); }, 120s)) << watch.err();
    fs::remove(entrada / "some.zip");
    relay.release();
    ASSERT_TRUE(waitFor([&] { return watch.linesFor("some.zip") > 0 || watch.ended(); }, 120s));
    EXPECT_FALSE(watch.ended()) << watch.err();
    EXPECT_NE(watch.err().find("foi removido da pasta"), std::string::npos) << watch.err();

    writeFile(entrada / "depois.xml", "<depois/>");
    ASSERT_TRUE(watch.waitForLine("depois.xml")) << watch.err();
    watch.signal(SIGTERM);
    EXPECT_EQ(watch.wait(), 0) << watch.err();
    expectPlaced({{"depois.xml", "<depois/>"}}, {});
    EXPECT_FALSE(fs::exists(enviados / "some.zip"));
    EXPECT_FALSE(fs::exists(enviados / "some.zip.registro.xml"));
}

// vigiar dies (as with kill -9) at each point of a file's way; a restart
// places every file exactly once, byte for byte, and a file whose receipt
// was kept is not sent again. Only a crash after the receipt arrived and
// before it reached the disk cannot be told from a lost upload: that file is
// sent (and receipted) twice.
TEST_F(WatchFolderE2E, AfterACrashAFileWhoseReceiptWasKeptIsNotSentAgain)
{
    struct Case
    {
        const char* point;
        std::size_t receipts;  // zebd's receipts for the file once the restart is done
    };
    const Case cases[] = {
        {"antes-da-conexao", 1},
        {"durante-os-blocos", 1},
        {"apos-o-recibo", 2},
        {"apos-o-registro", 1},
        {"apos-mover", 1},
    };
    unsigned seed = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.point);
        Sandbox box{false};
        const CliClient own{box, zebd.messagePort()};
        const fs::path in = box.path() / "entrada";
        const fs::path sent = box.path() / "enviados";
        const fs::path failed = box.path() / "falhas";
        fs::create_directories(in);
        const std::vector<std::string> args{"vigiar",
                                            "--registro",
                                            "123456",
                                            "--pasta",
                                            in.string(),
                                            "--enviados",
                                            sent.string(),
                                            "--falhas",
                                            failed.string()};
        const std::string name = std::string(c.point) + ".zip";
        const std::string content = randomBytes(200000, ++seed);
        writeFile(in / name, content);
        {
            RunningCli crashing(own, box.path() / "logs1", args, {{"VEK_TESTE_QUEDA", c.point}});
            ASSERT_EQ(crashing.wait(), 86) << crashing.err();
        }
        RunningCli restarted(own, box.path() / "logs2", args);
        // Taken only after whatever the crash left was dealt with.
        writeFile(in / "depois.xml", "<depois/>");
        ASSERT_TRUE(restarted.waitForLine("depois.xml")) << restarted.err();
        restarted.signal(SIGTERM);
        EXPECT_EQ(restarted.wait(), 0) << restarted.err();

        EXPECT_FALSE(fs::exists(in / name));
        EXPECT_FALSE(fs::exists(failed / name));
        ASSERT_TRUE(fs::exists(sent / name));
        EXPECT_TRUE(readFile(sent / name) == content);
        EXPECT_FALSE(fs::exists(sent / (fs::path(name).stem().string() + "-2.zip")));
        std::size_t receipts = 0;
        for (const auto& u : receivedUploads(server.path() / "dados")) {
            if (u.nome == name) {
                ++receipts;
                EXPECT_TRUE(readFile(u.caminho) == content);
            }
        }
        EXPECT_EQ(receipts, c.receipts);
        // The record beside the file is of one of those receipts.
        const std::string protocolo = protocolOf(readFile(sent / (name + ".registro.xml")));
        EXPECT_NE(storedPath(server.path() / "dados", protocolo), "") << protocolo;
        EXPECT_NE(readFile(sent / (name + ".registro.recibo")).find("<protocoloTX>" + protocolo + "</protocoloTX>"),
                  std::string::npos);
        // Nothing kept for a file that was placed.
        EXPECT_TRUE(fs::is_empty(in / ".vek-recibos")) << c.point;
    }
}

}  // namespace
}  // namespace vek::test
