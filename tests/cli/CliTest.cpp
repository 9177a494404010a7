#include "cli/Cli.h"

#include "channel/MessageCodes.h"
#include "crypto/TBlowfishQv.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

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
        {FakeStep::expect(channel::CMD_TIPOS_ENVIO), FakeStep::reply(channel::CMD_ACEITO, "XML#Dados XML|TXT#Texto")},
        {FakeStep::expect(channel::CMD_TIPOS_DOWNLOAD), FakeStep::reply(channel::CMD_TIPOS_DOWNLOAD, "RET#Retorno")},
        {FakeStep::expect(channel::CMD_TIPOS_DOWNLOAD), FakeStep::reply(channel::CMD_NEGADO, "ocupado")},
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
    test::FakeZebServer server(
        {{FakeStep::expect(channel::CMD_TIPOS_ENVIO), FakeStep::close()},
         {FakeStep::expect(channel::CMD_TIPOS_ENVIO), FakeStep::raw({9, 0xFF, 0xFF, 0xFF, 0x7F})}});
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
    const std::string modulus("\xC7\x1A\x3B\x55\x90\x11\x02\x6F", 8);
    test::FakeZebServer server(
        {{FakeStep::expect(channel::CMD_PEDIDO_ENVIO),
          FakeStep::reply(channel::CMD_ACEITO),
          FakeStep::reply(channel::CMD_CHAVE_MODULO, modulus),
          FakeStep::reply(channel::CMD_CHAVE_EXPOENTE, "\x03"),
          FakeStep::expect(channel::CMD_CHAVE_SIMETRICA),
          FakeStep::expect(channel::CMD_HASH_ARQUIVO),
          FakeStep::reply(channel::CMD_ACK),
          FakeStep::expect(channel::CMD_TAMANHO),
          FakeStep::reply(channel::CMD_ACK),
          FakeStep::ackBlocks(),
          FakeStep::reply(channel::CMD_PROTOCOLO, "77|09/12/2026 10:11:12|127.0.0.1|AB12"),
          FakeStep::expect(channel::CMD_ACK)},
         {FakeStep::expect(channel::CMD_PEDIDO_ENVIO), FakeStep::reply(channel::CMD_NEGADO, "Tipo n\xE3o permitido")}});
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

TEST(VekCli, UsageErrorsExitWithTwo)
{
    test::Sandbox box;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"nao-existe"}, {"tipos-envio", "--xyz"}, {"tipos-envio", "extra"}, {"crc32"}}) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        EXPECT_EQ(runCli(args).code, 2);
    }
    const auto help = runCli({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("tipos-envio"), std::string::npos);
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
