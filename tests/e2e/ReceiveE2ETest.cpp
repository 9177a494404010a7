#include "tests/e2e/E2E.h"
#include "tests/fixtures/SocketPair.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sstream>

namespace vek::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::set<std::string> lineSet(const std::string& text)
{
    std::set<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(all.insert(line).second) << line;
    }
    return all;
}

class ReceiveE2E : public ::testing::Test
{
protected:
    Sandbox server{false};
    Sandbox client{false};
    ZebdProcess zebd{server.path() / "dados"};
    CliClient cli{client,
                  zebd.messagePort(),
                  "PortaFTP=" + std::to_string(zebd.ftpPort()) + "\r\nPortaDados=" + std::to_string(freePort()) +
                      "\r\n"};
    fs::path destino = client.path() / "recebidos";

    void SetUp() override
    {
        fs::create_directories(destino);
        // A type of its own, so that the demo's files stay out of the rounds.
        const auto r = runProcess({binPath("zebd"),
                                   "tipos",
                                   "--dados",
                                   (server.path() / "dados").string(),
                                   "--download",
                                   "RET#Arquivo de retorno|TST#Arquivos do teste"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    // Makes a file of `content` available as `name` (type TST); its identifier.
    std::string publish(const std::string& name, const std::string& content)
    {
        const auto file = server.write("publicar/" + name, content);
        const auto r = runProcess({binPath("zebd"),
                                   "disponibilizar",
                                   "--dados",
                                   (server.path() / "dados").string(),
                                   "--registro",
                                   "123456",
                                   "--tipo",
                                   "TST",
                                   "--arquivo",
                                   file.string(),
                                   "--descricao",
                                   "Arquivo publicado no teste"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        fs::remove(file);
        return r.out.substr(0, r.out.find_first_of("\r\n"));
    }

    std::vector<std::string> args(std::vector<std::string> extra) const
    {
        std::vector<std::string> all{"receber", "--registro", "123456", "--tipo", "TST", "--pasta", destino.string()};
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    }

    // Every file of the destination, hidden ones too.
    std::map<std::string, std::string> folder() const
    {
        std::map<std::string, std::string> all;
        for (const auto& e : fs::directory_iterator(destino)) {
            all[e.path().filename().string()] = readFile(e.path());
        }
        return all;
    }
};

TEST_F(ReceiveE2E, EachRoundBringsWhatIsNewOnceAndReplacesNothing)
{
    const std::string a = randomBytes(300000, 1);
    const std::string b = "<retorno>b</retorno>";
    const std::string c = "texto c\n";
    publish("a.bin", a);
    publish("b.xml", b);
    publish("c.txt", c);
    writeFile(destino / "b.xml", "do operador");

    auto r = cli.run(args({"--uma-vez"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // In the list's order, whichever it is: one line per file.
    EXPECT_EQ(lineSet(r.out),
              (std::set<std::string>{
                  (destino / "a.bin").string(), (destino / "b-2.xml").string(), (destino / "c.txt").string()}));
    EXPECT_TRUE(folder() == (std::map<std::string, std::string>{
                                {"a.bin", a}, {"b.xml", "do operador"}, {"b-2.xml", b}, {"c.txt", c}}));

    // A second round: nothing new, nothing downloaded.
    r = cli.run(args({"--uma-vez"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(folder().size(), 4U);

    // Published between rounds, under a name already taken; one JSON object per file.
    const std::string id = publish("c.txt", "texto c, segunda versao\n");
    r = cli.run(args({"--uma-vez", "--json"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"Caminho\":\"" + (destino / "c-2.txt").string() + "\",\"ID_ARQUIVO_DISPONIVEL\":" + id +
                  ",\"NM_ARQUIVO\":\"c.txt\"}\n");
    EXPECT_EQ(readFile(destino / "c-2.txt"), "texto c, segunda versao\n");
    EXPECT_EQ(folder().size(), 5U);
    // The identifiers received are kept in the base directory.
    EXPECT_TRUE(fs::exists(fs::path(cli.dir) / "Recebidos" / "123456-TST.txt"));
}

TEST_F(ReceiveE2E, RoundsRunUntilStoppedAndSigusr1StartsTheNextAtOnce)
{
    publish("um.xml", "<um/>");
    RunningCli receiving(cli, client.path() / "logs", args({"--intervalo", "60"}));
    ASSERT_TRUE(waitFor([&] { return receiving.lines() == 1 || receiving.ended(); }, 120s)) << receiving.err();
    publish("dois.xml", "<dois/>");
    receiving.signal(SIGUSR1);
    ASSERT_TRUE(waitFor([&] { return receiving.lines() == 2 || receiving.ended(); }, 120s)) << receiving.err();
    receiving.signal(SIGTERM);
    EXPECT_EQ(receiving.wait(), 0) << receiving.err();
    EXPECT_EQ(receiving.out(), (destino / "um.xml").string() + "\n" + (destino / "dois.xml").string() + "\n");
    EXPECT_TRUE(folder() == (std::map<std::string, std::string>{{"um.xml", "<um/>"}, {"dois.xml", "<dois/>"}}));
}

TEST_F(ReceiveE2E, BadInputIsRefusedBeforeAnythingIsAsked)
{
    struct Case
    {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{"--uma-vez", "--intervalo", "5"}, "use --uma-vez ou --intervalo, não os dois"},
        {{"--intervalo", "0"}, "--intervalo deve ser um número inteiro de minutos de 1 a 10080: 0"},
        {{"--intervalo", "5min"}, "--intervalo deve ser um número inteiro"},
        {{"--uma-vez", "--competencia", "13/2026"}, "Mês/Ano de competência inválido"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const auto r = cli.run(args(c.args));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const auto r = cli.run({"receber", "--registro", "123456", "--tipo", "TST", "--pasta", "/nao/existe", "--uma-vez"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("a pasta não existe: /nao/existe"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vek::test
