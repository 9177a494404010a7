#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

namespace vek::test {
namespace {

TEST(TypeListsE2E, ListsComeFromZebdAndTheTraceDeciphers)
{
    Sandbox server(false);
    Sandbox client(false);
    ZebdProcess zebd(server.path() / "dados");
    // zebd's own administration sets the lists the client then sees.
    const auto set = runProcess({binPath("zebd"),
                                 "tipos",
                                 "--dados",
                                 (server.path() / "dados").string(),
                                 "--envio",
                                 "ABC#Descrição A|DEF#Outra",
                                 "--download",
                                 "RET#Retorno"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    CliClient cli(client, zebd.messagePort(), "Depuracao=S\r\n");
    auto r = cli.run({"tipos-envio"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "ABC#Descrição A|DEF#Outra\n");
    r = cli.run({"tipos-download"});
    EXPECT_EQ(r.out, "RET#Retorno\n");
    EXPECT_EQ(r.err, "");

    // A successful type-list query traces nothing; an upload traces every step.
    EXPECT_FALSE(std::filesystem::exists(client.path() / "TraceVEK.log"));
    r = cli.run({"enviar", "--registro", "123456", "--tipo", "ABC", client.write("a.abc", "dados").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string trace = readFile(client.path() / "TraceVEK.log");
    EXPECT_FALSE(trace.empty());
    EXPECT_EQ(trace.find_first_not_of("ABCDEFGHIJKLMNOP\r\n"), std::string::npos);  // enciphered lines only
    r = cli.run({"decifrar-trace"});
    EXPECT_EQ(r.exitCode, 0);
    // Deciphering trims the closing blank and carriage returns of a line.
    EXPECT_EQ(r.out.find(" - *** ENVIO DE ARQUIVO ***\n"), 23U) << r.out;
    EXPECT_NE(r.out.find(" - Enviando mensagem de fim de dados\n"), std::string::npos);
}

// The connection budget on the real clock.
TEST(RealTimeTypeListsE2E, NoServerGivesTheConnectionErrorAfterTheRetries)
{
    Sandbox client(false);
    std::uint16_t port = 0;
    {
        Sandbox scratch(false);
        ZebdProcess zebd(scratch.path() / "d", false);
        port = zebd.messagePort();
    }  // stopped: nothing listens there now
    CliClient cli(client, port);
    const auto start = std::chrono::steady_clock::now();
    const auto r = cli.run({"tipos-envio"});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Erro: <<CANAL_ZEB>> Erro ao conectar-se com o servidor da ZEB: \"", 0), 0U) << r.err;
    EXPECT_NE(
        r.err.find("conexão recusada (nenhum serviço atende nesse endereço e porta)\". Código de erro do Windows: 111"),
        std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace vek::test
