#include "cli/Cli.h"

#include "app/SendRules.h"
#include "crypto/TBlowfishQv.h"
#include "dataset/DataPacket.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/Clock.h"
#include "tests/cli/CliScripts.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vek::cli {
namespace {

using test::FakeStep;

struct Result
{
    int code;
    std::string out;
    std::string err;
};

Result runCli(std::vector<std::string> args)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = run(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(VekCli, TypeListsPrintThePayloadAsSent)
{
    test::Sandbox box;
    test::FakeZebServer server({
        {FakeStep::expect(wire::CMD_TIPOS_ENVIO), FakeStep::reply(wire::CMD_ACEITO, "XML#Dados XML|TXT#Texto")},
        {FakeStep::expect(wire::CMD_TIPOS_DOWNLOAD), FakeStep::reply(wire::CMD_TIPOS_DOWNLOAD, "RET#Retorno")},
        {FakeStep::expect(wire::CMD_TIPOS_DOWNLOAD), FakeStep::reply(wire::CMD_NEGADO, "ocupado")},
    });
    test::writeClientConfig(box.path().string(), server.port());
    auto r = runCli({"tipos-envio"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "XML#Dados XML|TXT#Texto\n");
    EXPECT_EQ(r.err, "");
    r = runCli({"tipos-download"});
    EXPECT_EQ(r.out, "RET#Retorno\n");
    r = runCli({"tipos-download"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "---#Lista de arquivos permitidos Indisponível (servidor congestionado)\n");
}

TEST(VekCli, TypeListFailurePrintsTheRaisedTextWithItsPrefixAndNothingOnStdout)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::expect(wire::CMD_TIPOS_ENVIO), FakeStep::close()},
                                {FakeStep::expect(wire::CMD_TIPOS_ENVIO), FakeStep::raw({9, 0xFF, 0xFF, 0xFF, 0x7F})}});
    test::writeClientConfig(box.path().string(), server.port());
    auto r = runCli({"tipos-envio"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Erro: Erro de leitura: a conexão foi encerrada pelo outro lado\n");
    r = runCli({"tipos-envio"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind("Erro: <<CANAL_ZEB>> O servidor da ZEB enviou uma mensagem inválida", 0), 0U) << r.err;
}

TEST(VekCli, EnviarPrintsTheReceiptAndWritesTheRecord)
{
    test::Sandbox box;
    test::FakeZebServer server(
        {test::acceptedUpload(),
         {FakeStep::expect(wire::CMD_PEDIDO_ENVIO), FakeStep::reply(wire::CMD_NEGADO, "Tipo n\xE3o permitido")}});
    test::writeClientConfig(box.path().string(), server.port());
    const auto file = box.write("entrada/Dados.Xml", "<a>1</a>");
    setenv("VEK_SENHA", "demo", 1);
    auto r = runCli({"enviar", "--registro", "123456", file.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string prefix =
        "Protocolo: 77\nDataHora: 09/12/2026 10:11:12\nEnderecoIP: 127.0.0.1\nAutenticacao: AB12\n"
        "Registro: " +
        (box.path() / "Protocolos").string() + "/VEK-Dados.Xml-";
    EXPECT_EQ(r.out.rfind(prefix, 0), 0U) << r.out;
    const std::string record = r.out.substr(r.out.find("Registro: ") + 10, std::string::npos);
    const auto xml = test::readFile(record.substr(0, record.size() - 1));
    EXPECT_NE(xml.find("<tipo_Arquivo>Xml</tipo_Arquivo>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<protocoloTX>77</protocoloTX>"), std::string::npos);
    const auto pedido = server.received()[0].text();
    EXPECT_NE(pedido.find("|123456|XML|"), std::string::npos) << pedido;

    r = runCli({"enviar", "--registro", "123456", "--tipo", "abc", file.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "VEK: Tipo não permitido\nErro:  O servidor reportou que esta transmissão foi rejeitada. Mensagem: "
              "Tipo não permitido\n");
    unsetenv("VEK_SENHA");
    if (isatty(STDIN_FILENO) == 0) {
        EXPECT_EQ(runCli({"enviar", "--registro", "123456", file.string()}).code, 2);  // no password, no terminal
    }
}

TEST(VekCli, ARecordNeverReplacesAnEarlierOneOfTheSameName)
{
    test::Sandbox box;
    test::FakeZebServer server({test::acceptedUpload()});
    test::writeClientConfig(box.path().string(), server.port());
    const auto file = box.write("entrada/dados.xml", "<a>1</a>");
    // Records of the same file already stand under every name the next
    // seconds would give.
    constexpr std::uint32_t Span = 10000;
    std::filesystem::create_directory(box.path() / "Protocolos");
    const std::uint32_t now = platform::tickCount();
    for (std::uint32_t t = now; t < now + Span; ++t) {
        std::ofstream(box.path() / "Protocolos" / app::nomeArquivoRegistro(file.string(), t)) << "anterior";
    }
    setenv("VEK_SENHA", "demo", 1);
    const auto r = runCli({"enviar", "--registro", "123456", file.string()});
    unsetenv("VEK_SENHA");
    ASSERT_EQ(r.code, 0) << r.err;
    const auto at = r.out.find("Registro: ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::string record = r.out.substr(at + 10, r.out.size() - at - 11);
    EXPECT_NE(test::readFile(record).find("<protocoloTX>77</protocoloTX>"), std::string::npos) << record;
    std::size_t kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(box.path() / "Protocolos")) {
        kept += test::readFile(e.path()) == "anterior" ? 1 : 0;
    }
    EXPECT_EQ(kept, Span);
}

// A list or history file as the server sends it: a gzipped data packet.
TEST(VekCli, ListarAndHistoricoPrintTheirTables)
{
    test::Sandbox box;
    const auto listRows = test::sampleListRows("retorno\tjan.xml", "Retorno de janeiro");
    const auto histRows = test::sampleHistoryRows("20261201T08:00:00000");
    const std::string listGz =
        test::gzippedPacket(box, "lista", dataset::writeDataPacket(dataset::ListTable::definition(), listRows));
    const std::string histGz =
        test::gzippedPacket(box, "historico", dataset::writeDataPacket(dataset::HistoryTable::definition(), histRows));
    test::FakeZebServer server({test::listScript(wire::CMD_PEDIDO_LISTA, listGz, "lista.xml", true),
                                {FakeStep::expect(wire::CMD_PEDIDO_LISTA),
                                 FakeStep::reply(wire::CMD_ACEITO),
                                 FakeStep::reply(wire::CMD_ACEITO, "0")},
                                test::listScript(wire::CMD_PEDIDO_HISTORICO, histGz, "hist.xml", false)});
    test::writeClientConfig(box.path().string(), server.port());
    setenv("VEK_SENHA", "demo", 1);

    auto r = runCli({"listar", "--registro", "123456", "--tipo", "RET", "--competencia", "12/2026"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "NM_ARQUIVO\tDE_CONTEUDO_ARQUIVO\tTAMANHO\tMEDIDA\tULT_DOWNLOAD\tDT_CADASTRO\tID_ARQUIVO_DISPONIVEL\t"
              "CD_CHAVE_CRIPTOGRAFIA\tDE_PATH_ARQUIVO\tCD_TIPO_ARQUIVO\tTAMANHOFTM\n"
              "retorno jan.xml\tRetorno de janeiro\t2.5\tKBytes\t\t09/12/2026 14:05:09\t42\tchave\t/srv/42\tRET\t"
              "2 KBytes(s)\n");
    r = runCli({"listar", "--registro", "123456", "--tipo", "RET"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);  // the header only
    EXPECT_NE(r.err.find("VEK: A consulta efetuada"), std::string::npos) << r.err;

    const auto xlsx = box.path() / "historico.xlsx";
    r = runCli({"historico",
                "--registro",
                "123456",
                "--inicio",
                "01/12/2026",
                "--fim",
                "09/12/2026",
                "--xlsx",
                xlsx.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "DT_TRANSMISSAO\tNM_ARQUIVO\tCD_TIPO_ARQUIVO\tCD_PROTOCOLO\tNM_STATUS_PROCESSAMENTO\tQT_AVISOS\tQT_ERROS\n"
        "01/12/2026 08:00:00\tdados.xml\tXML\t77\tProcessado\t1\t0\n");
    EXPECT_TRUE(std::filesystem::exists(xlsx));
    unsetenv("VEK_SENHA");
}

TEST(VekCli, InputChecksOfTheQueriesExitWithTwo)
{
    test::Sandbox box;
    setenv("VEK_SENHA", "demo", 1);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"listar", "--registro", "123456", "--tipo", "RET", "--competencia", "13/2026"},
             {"historico", "--registro", "123456", "--inicio", "10/12/2026", "--fim", "01/12/2026"},
             {"historico", "--registro", "123456", "--inicio", "01/01/2020", "--fim", "31/12/2020"},
             {"historico", "--registro", "123456", "--inicio", "31/02/2026", "--fim", "01/03/2026"}}) {
        SCOPED_TRACE(args[1 + 5 < args.size() ? 6 : 0]);
        const auto r = runCli(args);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.rfind("VEK: ", 0) == 0 || r.err.rfind("Erro: ", 0) == 0) << r.err;
    }
    unsetenv("VEK_SENHA");
}

TEST(VekCli, UsageErrorsExitWithTwo)
{
    test::Sandbox box;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"nao-existe"}, {"tipos-envio", "--xyz"}, {"tipos-envio", "extra"}, {"crc32"}}) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        EXPECT_EQ(runCli(args).code, 2);
    }
    // A watched folder that does not exist, or whose files would be moved back into it.
    const std::string entrada = (box.path() / "entrada").string();
    std::filesystem::create_directories(entrada);
    struct Case
    {
        std::vector<std::string> args;
        const char* reason;
    };
    const std::vector<Case> cases{
        {{"vigiar", "--registro", "1", "--pasta", (box.path() / "nao-existe").string()}, "a pasta não existe"},
        {{"vigiar", "--registro", "1", "--pasta", entrada, "--enviados", entrada}, "outras pastas"},
        {{"vigiar", "--registro", "1", "--pasta", entrada, "--falhas", entrada + "/."}, "outras pastas"},
        {{"enviar", "--registro", "1"}, "informe o arquivo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const auto r = runCli(c.args);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const auto help = runCli({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("tipos-envio"), std::string::npos);
    // The integrators' commands are listed, and --json is explained.
    for (const char* text : {"\n  enviar ", "\n  vigiar ", "--json"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(runCli({"decifrar-trace", "--help"}).code, 0);
}

TEST(VekCli, DecifrarTracePrintsCipheredAndPlainLines)
{
    test::Sandbox box;
    const std::string line1 = "05/03/2007 14:02:09.031 - Conex\xE3o";
    const std::string line2 = "05/03/2007 14:02:09.040 - *** ENVIO DE ARQUIVO *** \r\r";
    box.write("TraceVEK.log",
              crypto::EncryptVEKText(line1) + "\r\n" + line2 + "\r\n" +
                  crypto::EncryptVEKText("05/03/2007 14:02:10.000 - fim") + "\r\n");
    const auto r = runCli({"decifrar-trace"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "05/03/2007 14:02:09.031 - Conexão\n05/03/2007 14:02:09.040 - *** ENVIO DE ARQUIVO *** \r\r\n"
              "05/03/2007 14:02:10.000 - fim\n");
    const auto missing = runCli({"decifrar-trace", (box.path() / "nada.log").string()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err.rfind("Erro: ", 0), 0U);
}

TEST(VekCli, ChecksumCommands)
{
    test::Sandbox box;
    const auto file = box.write("dados.txt", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-");
    auto r = runCli({"tiger", file.string()});
    EXPECT_EQ(r.out, "F71C8583902AFB879EDFE610F82C0D4786A3A534504486B5\n");
    box.write("crc.txt", "123456789");
    r = runCli({"crc32", (box.path() / "crc.txt").string()});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "CBF43926\n");  // the standard check value
    r = runCli({"crc32", (box.path() / "nada.txt").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("VEK: ", 0), 0U) << r.err;
}

}  // namespace
}  // namespace vek::cli
