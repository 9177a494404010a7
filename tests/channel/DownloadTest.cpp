#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TDecryptFile.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/fixtures/FakeFtpServer.h"
#include "tests/fixtures/PublishedFile.h"
#include "tests/fixtures/RecordingSleeper.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"
#include "tests/fixtures/SocketPair.h"

#include <gtest/gtest.h>

namespace vek::channel {
namespace {

using namespace std::chrono_literals;
using ftp::test::FakeFtpServer;
using ftp::test::FtpScript;
using ftp::test::FtpStep;
using test::freePort;

constexpr const char* Chave = "chave-do-arquivo";

// The bytes the server sends for a file: enciphered with its listed key.
std::string enciphered(const test::Sandbox& box, const std::string& content)
{
    return test::encipheredForDownload(box, content, Chave);
}

FtpScript login()
{
    return {FtpStep::reply("220 servidor\r\n"),
            FtpStep::command("USER "),
            FtpStep::reply("331 senha\r\n"),
            FtpStep::command("PASS "),
            FtpStep::reply("230 ok\r\n"),
            FtpStep::command("FEAT"),
            FtpStep::reply("211-Extensoes\r\n SIZE\r\n211 fim\r\n"),
            FtpStep::command("TYPE I"),
            FtpStep::reply("200 ok\r\n"),
            FtpStep::command("SYST"),
            FtpStep::reply("215 UNIX\r\n")};
}

FtpScript with(FtpScript s, std::initializer_list<FtpStep> more)
{
    s.insert(s.end(), more);
    return s;
}

struct Download
{
    Download(const test::Sandbox& box, std::uint16_t ftpPort)
    {
        test::writeFile(box.path() / "vek.INI",
                        "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=9\r\nPortaFTP=" +
                            std::to_string(ftpPort) + "\r\nPortaDados=" + std::to_string(freePort()) + "\r\n");
        canal.CD_Operadora = "123456";
        canal.Senha = "demo";
        canal.UsuarioDownload = "usuario";
        canal.SenhaDownload = "segredo";
        canal.IdentificadorDownload = "ID77";
        canal.timeouts.ftpReply = 2000ms;
        canal.timeouts.afterDownload = 0ms;
        canal.timeouts.afterDownloadExtra = 0ms;
        canal.AoReceberArquivo = [this](TCanalZEBCliente&, const TStatusDownload& s) {
            reports.emplace_back(s.PercentFeito, s.TextoInfo);
        };
        std::filesystem::create_directories(box.path() / "temp");
    }

    std::string run(const std::string& nome, const std::string& destino = {}, std::int32_t kb = 1)
    {
        try {
            canal.ReceberArquivo(nome, "/srv/ret/" + nome, "42", "RET", Chave, destino, kb);
            return {};
        } catch (const Error& e) {
            return e.what();
        }
    }

    TCanalZEBCliente canal;
    std::vector<std::pair<int, std::string>> reports;
};

TEST(ReceberArquivo, FetchesDeciphersAndNotifiesTheServer)
{
    test::Sandbox box;
    const std::string content(70000, 'z');
    const std::string wire = enciphered(box, content);
    FakeFtpServer server(with(login(),
                              {FtpStep::command("PORT 127,0,0,1,"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR "),
                               FtpStep::reply("150 abrindo\r\n"),
                               FtpStep::sendData(wire, {32768, 32768, wire.size() - 65536}, 5ms),
                               FtpStep::reply("226 fim\r\n"),
                               FtpStep::command("RETR "),
                               FtpStep::reply("250 anotado\r\n"),
                               FtpStep::command("QUIT"),
                               FtpStep::reply("221 tchau\r\n")}));
    Download d(box, server.port());
    box.write("temp/retorno.tst", "velho");
    d.canal.timeouts.afterDownload = 2000ms;
    d.canal.timeouts.afterDownloadExtra = 500ms;
    const test::RecordingSleeper clock;
    EXPECT_EQ(d.run("retorno.xml", "", 68), "");
    const auto pauses = clock.pauses();
    ASSERT_GE(pauses.size(), 2U);
    EXPECT_EQ(pauses[pauses.size() - 2], 2000ms);
    EXPECT_EQ(pauses.back(), 500ms);
    EXPECT_EQ(box.read("temp/retorno.xml"), content);
    EXPECT_FALSE(std::filesystem::exists(box.path() / "temp" / "retorno.tmp"));
    EXPECT_FALSE(std::filesystem::exists(box.path() / "temp" / "retorno.tst"));

    const auto commands = server.finish();
    EXPECT_TRUE(server.problems().empty()) << server.problems().front();
    ASSERT_GE(commands.size(), 9U);
    EXPECT_EQ(crypto::DecryptProtocolText(commands[0].substr(5)), "usuario");
    EXPECT_EQ(crypto::DecryptProtocolText(commands[1].substr(5)), "segredo");
    EXPECT_EQ(crypto::DecryptProtocolText(commands[6].substr(5)),
              "123456|demo|retorno.xml|42|RET|/srv/ret/retorno.xml|ID77");
    EXPECT_EQ(crypto::DecryptProtocolText(commands[7].substr(5)), "ENDFILE 123456|retorno.xml|RET|42|ID77");

    ASSERT_GE(d.reports.size(), 5U);
    EXPECT_EQ(d.reports[0].first, 10);
    EXPECT_EQ(d.reports[0].second.rfind("Conectado no endereço: 127.0.0.1:", 0), 0U);
    EXPECT_EQ(d.reports[1].second, "Aguardando conexão do servidor da ZEB...");
    EXPECT_EQ(d.reports[2].second, "Aguardando dados do arquivo...");
    EXPECT_EQ(d.reports.back(), (std::pair<int, std::string>{100, "Arquivo LIBERADO."}));
    EXPECT_EQ(d.canal.StatusDownload.PercentFeito, 100);
}

TEST(ReceberArquivo, FailuresAndTheirTexts)
{
    struct Case
    {
        const char* name;
        FtpScript script;
        std::string error;
    };
    const std::vector<Case> cases{
        {"RETR refused",
         with(login(),
              {FtpStep::command("PORT"),
               FtpStep::reply("200 ok\r\n"),
               FtpStep::command("RETR"),
               FtpStep::reply("550 arquivo inexistente\r\n")}),
         " Houve um erro inesperado ao efetuar download do arquivo."},
        {"no data connection",
         with(login(),
              {FtpStep::command("PORT"),
               FtpStep::reply("200 ok\r\n"),
               FtpStep::command("RETR"),
               FtpStep::reply("150 abrindo\r\n"),
               FtpStep::pause(3s)}),
         " O VEK esperou 15 segundos por uma conexão vinda do servidor da ZEB e não a recebeu.\r"},
        {"login refused four times",
         {FtpStep::reply("220 ok\r\n"), FtpStep::command("USER"), FtpStep::reply("530 nao\r\n")},
         " O VEK tentou 4 vezes conectar-se ao servidor da ZEB e \rnão obteve sucesso. \rA seguir, a lista dos "
         "códigos de erro obtidos em cada tentativa: \rCódigo de erro -> /1ª tentativa: 0\r/2ª tentativa: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        FakeFtpServer server(c.script);
        Download d(box, server.port());
        d.canal.timeouts.dataConnection = 1500ms;
        const auto error = d.run("retorno.xml");
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
        EXPECT_FALSE(std::filesystem::exists(box.path() / "temp" / "retorno.xml"));
    }
}

// A text reaches the user as it is only when it begins with the prefix. A
// server's FTP reply that holds the prefix further on is a failure like any
// other: reported with its text, then the generic message (it once lost its
// first 13 characters instead).
TEST(ReceberArquivo, OnlyATextThatBeginsWithThePrefixReachesTheUserAsItIs)
{
    struct Case
    {
        const char* name;
        std::string reply;
        std::string error;
        std::string report;  // the "Erro: " report, or empty when none is made
    };
    const std::vector<Case> cases{
        {"prefix in the middle",
         "550 falhou: <<CANAL_ZEB>> texto do servidor\r\n",
         " Houve um erro inesperado ao efetuar download do arquivo.",
         "Erro: falhou: <<CANAL_ZEB>> texto do servidor. Código de erro do Windows: 0"},
        {"prefix in front", "550 <<CANAL_ZEB>> texto do servidor\r\n", " texto do servidor", ""},
        {"prefix in front, in lower case", "550 <<canal_zeb>> em minusculas\r\n", " em minusculas", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        FakeFtpServer server(with(login(),
                                  {FtpStep::command("PORT"),
                                   FtpStep::reply("200 ok\r\n"),
                                   FtpStep::command("RETR"),
                                   FtpStep::reply(c.reply)}));
        Download d(box, server.port());
        EXPECT_EQ(d.run("retorno.xml"), c.error);
        std::vector<std::string> errorReports;
        for (const auto& [percent, text] : d.reports) {
            if (text.rfind("Erro: ", 0) == 0) {
                errorReports.push_back(text);
                EXPECT_EQ(percent, 11);  // the connection's 10, plus one
            }
        }
        EXPECT_EQ(errorReports, c.report.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.report});
        server.finish();
        EXPECT_TRUE(server.problems().empty()) << server.problems().front();
    }
}

// The local data port is taken by another program: the code alone would
// tell the operator nothing, so the text names the port.
TEST(ReceberArquivo, ABusyDataPortIsNamedAfterTheErrorCode)
{
    test::Sandbox box;
    platform::TcpListener ocupante;
    ocupante.listen("127.0.0.1", 0);
    const auto porta = ocupante.localPort();
    FakeFtpServer server(with(login(), {FtpStep::command("QUIT"), FtpStep::reply("221 tchau\r\n")}));
    Download d(box, server.port());
    test::writeFile(box.path() / "vek.INI",
                    "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=9\r\nPortaFTP=" +
                        std::to_string(server.port()) + "\r\nPortaDados=" + std::to_string(porta) + "\r\n");
    EXPECT_EQ(d.run("retorno.xml"),
              " Houve um erro ao efetuar download do arquivo. Código de erro do Windows: 98 (porta " +
                  std::to_string(porta) + " já está em uso)");
    server.finish();
    EXPECT_TRUE(server.problems().empty()) << server.problems().front();
}

TEST(ReceberArquivo, RefusedConnectionsListFourAttempts)
{
    test::Sandbox box;
    Download d(box, freePort());
    EXPECT_EQ(d.run("retorno.xml"),
              " O VEK tentou 4 vezes conectar-se ao servidor da ZEB e \rnão obteve sucesso. \rA seguir, a lista dos "
              "códigos de erro obtidos em cada tentativa: \rCódigo de erro -> /1ª tentativa: 111\r/2ª tentativa: "
              "111\r/3ª tentativa: 111\r/4ª tentativa: 111\r");
}

TEST(ReceberArquivo, MissingDestinationDirectoryFailsBeforeConnecting)
{
    test::Sandbox box;
    Download d(box, 1);
    EXPECT_EQ(d.run("retorno.xml", "so-o-nome.xml"), "O diretório  não existe!");
    EXPECT_EQ(d.run("retorno.xml", (box.path() / "nao" / "x.xml").string()),
              "O diretório " + (box.path() / "nao").string() + " não existe!");
    EXPECT_TRUE(d.reports.empty());
}

TEST(ReceberArquivo, ListedNamesEndingInTmpOrCarryingDirectoriesStayApart)
{
    struct Case
    {
        const char* listed;
        const char* saved;
    };
    for (const auto& c : {Case{"dados.tmp", "dados.tmp"}, Case{"../../fora.xml", "fora.xml"}}) {
        SCOPED_TRACE(c.listed);
        test::Sandbox box;
        const std::string content = "conteúdo do arquivo";
        const std::string wire = enciphered(box, content);
        FakeFtpServer server(with(login(),
                                  {FtpStep::command("PORT"),
                                   FtpStep::reply("200 ok\r\n"),
                                   FtpStep::command("RETR"),
                                   FtpStep::reply("150 abrindo\r\n"),
                                   FtpStep::sendData(wire, {wire.size()}, 0ms),
                                   FtpStep::reply("226 fim\r\n"),
                                   FtpStep::command("RETR"),
                                   FtpStep::pause(2500ms)}));  // the notice goes unanswered
        Download d(box, server.port());
        EXPECT_EQ(d.run(c.listed), "");
        EXPECT_EQ(box.read(std::string("temp/") + c.saved), content);
        EXPECT_FALSE(std::filesystem::exists(box.path().parent_path() / "fora.xml"));
    }
}

}  // namespace
}  // namespace vek::channel
