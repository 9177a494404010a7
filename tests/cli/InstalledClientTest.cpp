// vek-cli as an installed program runs it: its user's vek.INI over the
// system-wide template, and a clear usage error, with no connection tried,
// while no server is named anywhere.

#include "tests/fixtures/InstalledClient.h"

#include "cli/Cli.h"
#include "platform/Socket.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace vek::cli {
namespace {

using namespace std::chrono_literals;
using test::FakeStep;

struct Result
{
    int code;
    std::string out;
    std::string err;
};

Result runCli(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = run(args, out, err);
    return {code, out.str(), err.str()};
}

// The default server and the user's ports point at a listener of the test's:
// a connection would wait there.
class Unconfigured : public ::testing::Test
{
protected:
    void SetUp() override
    {
        listener_.listen("127.0.0.1", 0);
        const std::string port = std::to_string(listener_.localPort());
        test::writeFile(machine_.userConfig("op1"),
                        "[Defaults]\r\nPortaServico=" + port + "\r\nPortaFTP=" + port + "\r\n");
        setenv("VEK_SENHA", "demo", 1);
        setenv("VEK_NOVA_SENHA", "nova", 1);
    }
    void TearDown() override
    {
        unsetenv("VEK_SENHA");
        unsetenv("VEK_NOVA_SENHA");
    }

    [[nodiscard]] bool connectionWaiting() { return listener_.accept(0ms).connected(); }

    test::InstalledClient machine_;
    test::Sandbox work_{false};
    platform::TcpListener listener_;
};

TEST_F(Unconfigured, EveryCommandThatWouldConnectEndsWithAUsageErrorSayingWhereTheKeyGoes)
{
    const auto run = machine_.runAs("op1");
    const std::string arquivo = work_.write("movimento.xml", "<movimento/>\n").string();
    const std::string pasta = (work_.path() / "entrada").string();
    std::filesystem::create_directories(pasta);
    const std::vector<std::vector<std::string>> commands{
        {"enviar", "--registro", "123456", arquivo},
        {"listar", "--registro", "123456", "--tipo", "RET"},
        {"baixar", "--registro", "123456", "--tipo", "RET", "--id", "42"},
        {"historico", "--registro", "123456", "--inicio", "01/01/2026", "--fim", "31/01/2026"},
        {"alterar-senha", "--registro", "123456"},
        {"tipos-envio"},
        {"tipos-download"},
        {"vigiar", "--registro", "123456", "--pasta", pasta},
    };
    const std::string expected = "Erro: O VEK não está configurado: falta o endereço do servidor da ZEB (chave "
                                 "ServidorInternet da seção [Defaults]). Defina-o em " +
                                 machine_.userConfig("op1").string() +
                                 " ou, para todos os usuários deste computador, em " +
                                 machine_.templatePath().string() + ".\n";
    for (const auto& args : commands) {
        SCOPED_TRACE(args.front());
        const auto r = runCli(args);
        EXPECT_EQ(r.code, ExitUsage);
        EXPECT_EQ(r.err, expected);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(connectionWaiting());
    }
}

TEST_F(Unconfigured, CommandsThatNeedNoServerStillWork)
{
    const auto run = machine_.runAs("op1");
    const std::string arquivo = work_.write("movimento.xml", "<movimento/>\n").string();
    const std::string parametros = (work_.path() / "envio.par").string();
    struct Case
    {
        std::vector<std::string> args;
        int code;
    };
    const std::vector<Case> cases{
        {{"--help"}, ExitOk},
        {{"listar", "--help"}, ExitOk},
        {{"crc32", arquivo}, ExitOk},
        {{"tiger", arquivo}, ExitOk},
        {{"gerar-parametros",
          "--formato",
          "1",
          "--registro",
          "123456",
          "--arquivo",
          arquivo,
          "--resposta",
          "resposta.xml",
          "-o",
          parametros},
         ExitOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const auto r = runCli(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(r.err.find("não está configurado"), std::string::npos) << r.err;
        EXPECT_FALSE(connectionWaiting());
    }
    // The unattended upload keeps its own exit codes: 4, a connection error,
    // with the reason on standard error.
    const auto r = runCli({"parametros", parametros});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("O VEK não está configurado"), std::string::npos) << r.err;
    EXPECT_FALSE(connectionWaiting());
}

TEST(InstalledVekCli, TheTemplatesServerAndTheUsersPortMeet)
{
    test::InstalledClient machine;
    test::FakeZebServer server(
        {{FakeStep::expect(wire::CMD_TIPOS_ENVIO), FakeStep::reply(wire::CMD_ACEITO, "XML#Dados XML")}});
    machine.writeTemplate("ServidorInternet=127.0.0.1\r\nPortaServico=1\r\n");
    test::writeFile(machine.userConfig("op1"), "[Defaults]\r\nPortaServico=" + std::to_string(server.port()) + "\r\n");
    const auto run = machine.runAs("op1");
    const auto r = runCli({"tipos-envio"});
    EXPECT_EQ(r.code, ExitOk) << r.err;
    EXPECT_EQ(r.out, "XML#Dados XML\n");
}

}  // namespace
}  // namespace vek::cli
