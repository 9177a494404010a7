// The configuration an installed client reads: its user's vek.INI over the
// system-wide template, and nothing tried while no server is named anywhere.

#include "channel/ConfigurationCheck.h"
#include "channel/TCanalZEBCliente.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "platform/UiServices.h"
#include "tests/fixtures/InstalledClient.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

namespace vek::channel {
namespace {

using namespace std::chrono_literals;

struct Seen
{
    std::string host;
    int porta = 0;
    int portaFTP = 0;
    bool configured = false;
};

// What a channel of `user`'s run reads at the start of an operation.
Seen startAs(const test::InstalledClient& machine, const std::string& user)
{
    const auto run = machine.runAs(user);
    TCanalZEBCliente canal;
    canal.LerConfiguracao();
    return {canal.host(), canal.porta(), canal.portaFTP(), !unconfiguredMessage()};
}

void expectSees(
    const test::InstalledClient& machine, const std::string& user, const std::string& host, int porta, int portaFTP)
{
    SCOPED_TRACE(user);
    const Seen seen = startAs(machine, user);
    EXPECT_TRUE(seen.configured);
    EXPECT_EQ(seen.host, host);
    EXPECT_EQ(seen.porta, porta);
    EXPECT_EQ(seen.portaFTP, portaFTP);
}

TEST(InstalledConfiguration, UsersFollowEveryChangeOfTheTemplateAndKeepTheKeysTheySet)
{
    test::InstalledClient machine;

    // op1 starts before the administrator wrote the template: not configured,
    // and no default is written into op1's file to hide the template later.
    EXPECT_FALSE(startAs(machine, "op1").configured);
    EXPECT_FALSE(std::filesystem::exists(machine.userConfig("op1")));

    machine.writeTemplate("ServidorInternet=zeb.example.org\r\nPortaServico=8080\r\n");
    expectSees(machine, "op1", "zeb.example.org", 8080, 21);
    expectSees(machine, "op2", "zeb.example.org", 8080, 21);
    EXPECT_FALSE(std::filesystem::exists(machine.userConfig("op1")));
    EXPECT_FALSE(std::filesystem::exists(machine.userConfig("op2")));

    const std::string byHand = "[Defaults]\r\nPortaServico=9000\r\n";
    test::writeFile(machine.userConfig("op1"), byHand);
    machine.writeTemplate("ServidorInternet=novo.example.org\r\nPortaServico=8081\r\nPortaFTP=2121\r\n");
    expectSees(machine, "op1", "novo.example.org", 9000, 2121);
    expectSees(machine, "op2", "novo.example.org", 8081, 2121);
    EXPECT_EQ(test::readFile(machine.userConfig("op1")), byHand);
}

TEST(InstalledConfiguration, TheMessageSaysWhereTheServerKeyGoes)
{
    test::InstalledClient machine;
    const auto message = [&](const std::string& user) {
        const auto run = machine.runAs(user);
        return unconfiguredMessage();
    };
    const auto text = message("op1");
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("O VEK não está configurado"), std::string::npos) << *text;
    EXPECT_NE(text->find("ServidorInternet"), std::string::npos) << *text;
    EXPECT_NE(text->find(machine.userConfig("op1").string()), std::string::npos) << *text;
    EXPECT_NE(text->find(machine.templatePath().string()), std::string::npos) << *text;

    EXPECT_EQ(text->find("não pode lê-lo"), std::string::npos) << *text;

    // A template this user cannot read is named as such.
    std::filesystem::create_directories(machine.templatePath());
    const auto unreadable = message("op1");
    ASSERT_TRUE(unreadable);
    EXPECT_NE(unreadable->find(machine.templatePath().string() + " existe, mas este usuário não pode lê-lo."),
              std::string::npos)
        << *unreadable;
    std::filesystem::remove(machine.templatePath());

    // An empty key is no server either, wherever it lies; a user's own key
    // is enough without a template.
    machine.writeTemplate("ServidorInternet=\r\n");
    EXPECT_TRUE(message("op1"));
    test::writeFile(machine.userConfig("op2"), "[Defaults]\r\nServidorInternet=meu.servidor\r\n");
    EXPECT_FALSE(message("op2"));

    // A base directory of its own (VEK_DIR, a copy in a folder of its own)
    // keeps writing the default server, as it always did.
    test::Sandbox own;
    EXPECT_FALSE(unconfiguredMessage());
}

// Every operation ends at once, without a connection, while no server is
// named: the listener where the default server and the user's ports point
// has no connection waiting when the operation is over.
TEST(InstalledConfiguration, NoOperationConnectsWhileNoServerIsConfigured)
{
    test::InstalledClient machine;
    test::Sandbox work(false);
    const auto arquivo = work.write("movimento.xml", "<movimento/>\n");
    platform::TcpListener listener;
    listener.listen("127.0.0.1", 0);
    const std::string port = std::to_string(listener.localPort());
    test::writeFile(machine.userConfig("op1"), "[Defaults]\r\nPortaServico=" + port + "\r\nPortaFTP=" + port + "\r\n");
    test::RecordingUiServices ui;
    const platform::ScopedUi scopedUi(ui);
    const auto run = machine.runAs("op1");

    struct Case
    {
        const char* name;
        std::function<void(TCanalZEBCliente&)> operation;
        bool saysWhy;  // the password change shows only its generic box
    };
    const std::array cases{
        Case{.name = "upload",
             .operation =
                 [&](TCanalZEBCliente& canal) {
                     TResultadoEnvio resultado;
                     canal.Arquivo = arquivo.string();
                     canal.EnviarArquivo(resultado);
                 },
             .saysWhy = true},
        Case{.name = "list query",
             .operation =
                 [](TCanalZEBCliente& canal) {
                     std::string lista;
                     canal.ConsultarListaDownload("RET", "", "", lista);
                 },
             .saysWhy = true},
        Case{.name = "history query",
             .operation =
                 [](TCanalZEBCliente& canal) {
                     std::string lista;
                     canal.ConsultarHistoricoTx("01/01/2026", "31/01/2026", lista);
                 },
             .saysWhy = true},
        Case{.name = "type list",
             .operation =
                 [](TCanalZEBCliente& canal) {
                     std::string lista;
                     canal.ListarTiposArquivoEnvio(lista);
                 },
             .saysWhy = true},
        Case{.name = "download",
             .operation =
                 [&](TCanalZEBCliente& canal) {
                     canal.ReceberArquivo("r.xml", "p", "42", "RET", "chave", (work.path() / "r.xml").string(), 1);
                 },
             .saysWhy = true},
        Case{.name = "password change",
             .operation =
                 [](TCanalZEBCliente& canal) {
                     if (canal.AlterarSenha("nova") == ResultadoAlteracaoSenha::Falhou) {
                         throw Error("falhou");
                     }
                 },
             .saysWhy = false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCanalZEBCliente canal;
        canal.CD_Operadora = "123456";
        canal.Senha = "demo";
        // Against a hang only, should a connection be made after all.
        canal.timeouts.streamTimeout = 2s;
        canal.timeouts.waitForData = 2s;
        std::string error;
        try {
            c.operation(canal);
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_FALSE(error.empty());
        if (c.saysWhy) {
            EXPECT_NE(error.find("O VEK não está configurado"), std::string::npos) << error;
        }
        EXPECT_FALSE(listener.accept(0ms).connected());
    }
}

}  // namespace
}  // namespace vek::channel
