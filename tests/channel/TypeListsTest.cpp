#include "channel/TCanalZEBCliente.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

namespace vek::channel {
namespace {

using namespace wire;

using namespace std::chrono_literals;
using test::FakeStep;

constexpr const char* EnvioPadrao = "-- Lista de arquivos indisponível.";
constexpr const char* DownloadPadrao = "---#Lista de arquivos permitidos Indisponível (servidor congestionado)";

// A short connection budget; no case here waits a read out, so the reads
// keep waits a busy machine's scripted server can answer within.
void shorten(TCanalZEBCliente& canal)
{
    canal.timeouts.streamTimeout = 10s;
    canal.timeouts.waitForData = 10s;
    canal.timeouts.connectPause = 10ms;
    canal.timeouts.connectBudget = 50ms;
}

TEST(ListarTiposArquivo, ReturnsThePayloadAsSentForEveryAcceptedReply)
{
    struct Case
    {
        const char* name;
        bool download;
        std::uint8_t replyCode;
        std::string payload;  // Windows-1252, as on the wire
        std::string expected;
    };
    const std::array cases{
        Case{"send list, any code", false, CMD_NEGADO, "XYZ#Descri\xE7\xE3o|WVU#Outro", "XYZ#Descrição|WVU#Outro"},
        Case{"send list, empty payload", false, CMD_TIPOS_ENVIO, "", ""},
        Case{"send list, text up to NUL", false, CMD_TIPOS_ENVIO, std::string("AAA#a\0lixo", 10), "AAA#a"},
        Case{"download list, code 40", true, CMD_TIPOS_DOWNLOAD, "RET#Retorno", "RET#Retorno"},
        Case{"download list, code 94", true, CMD_NEGADO, "ocupado", DownloadPadrao},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        const std::uint8_t request = c.download ? CMD_TIPOS_DOWNLOAD : CMD_TIPOS_ENVIO;
        test::FakeZebServer server({{FakeStep::expect(request), FakeStep::reply(c.replyCode, c.payload)}});
        test::writeClientConfig(box.path().string(), server.port());
        TCanalZEBCliente canal;
        shorten(canal);
        std::string lista = "lixo anterior";
        if (c.download) {
            canal.ListarTiposArquivoDownload(lista);
        } else {
            canal.ListarTiposArquivoEnvio(lista);
        }
        EXPECT_EQ(lista, c.expected);
        EXPECT_FALSE(canal.socCliente().connected());
        ASSERT_TRUE(server.waitDone());
        EXPECT_TRUE(server.errors().empty());
        ASSERT_EQ(server.received().size(), 1U);
        EXPECT_EQ(server.received()[0].length, 0);
    }
}

TEST(ListarTiposArquivo, DownloadPausesBeforeReading)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::expect(CMD_TIPOS_DOWNLOAD), FakeStep::reply(CMD_TIPOS_DOWNLOAD, "A#b")}});
    test::writeClientConfig(box.path().string(), server.port());
    TCanalZEBCliente canal;
    const auto start = std::chrono::steady_clock::now();
    std::string lista;
    canal.ListarTiposArquivoDownload(lista);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(lista, "A#b");
}

TEST(ListarTiposArquivo, UnreachableServerSetsTheDefaultThenFailsWithConectarsMessage)
{
    test::Sandbox box;
    std::uint16_t port = 0;
    {
        platform::TcpListener l;
        l.listen("127.0.0.1", 0);
        port = l.localPort();
    }
    test::writeClientConfig(box.path().string(), port);
    for (bool download : {false, true}) {
        SCOPED_TRACE(download ? "download" : "send");
        TCanalZEBCliente canal;
        shorten(canal);
        std::string lista = "x";
        try {
            download ? canal.ListarTiposArquivoDownload(lista) : canal.ListarTiposArquivoEnvio(lista);
            FAIL();
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("<<CANAL_ZEB>> Erro ao conectar-se com o servidor da ZEB: ", 0), 0U);
        }
        EXPECT_EQ(lista, download ? DownloadPadrao : EnvioPadrao);
    }
}

TEST(ListarTiposArquivo, ServerClosingWithoutReplyKeepsDefaultAndRaisesTheReadError)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::expect(CMD_TIPOS_ENVIO), FakeStep::close()}});
    test::writeClientConfig(box.path().string(), server.port());
    TCanalZEBCliente canal;
    shorten(canal);
    std::string lista;
    EXPECT_THROW(canal.ListarTiposArquivoEnvio(lista), Error);
    EXPECT_EQ(lista, EnvioPadrao);
    EXPECT_FALSE(canal.socCliente().connected());
}

TEST(ListarTiposArquivo, LogArgumentRenamesTheTraceForListQueriesOnly)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::expect(CMD_TIPOS_ENVIO), FakeStep::reply(CMD_TIPOS_ENVIO, "A#b")}});
    test::writeClientConfig(box.path().string(), server.port(), "Depuracao=S\r\nArquivoDepuracaoCript=N\r\n");
    TCanalZEBCliente canal;
    canal.PrimeiroArgumento = "logteste.txt";
    canal.LerConfiguracao();
    canal.GravarTrace("antes");  // an operation that does not look at the argument
    EXPECT_TRUE(std::filesystem::exists(box.path() / "TraceVEK.log"));
    std::string lista;
    canal.ListarTiposArquivoEnvio(lista);
    canal.GravarTrace("depois");
    EXPECT_NE(box.read("LOGTESTE.log").find("depois"), std::string::npos);
    EXPECT_EQ(box.read("TraceVEK.log").find("depois"), std::string::npos);
}

TEST(ListarTiposArquivo, AnExistingFileAsFirstArgumentIsAParameterFileNotATraceName)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::expect(CMD_TIPOS_ENVIO), FakeStep::reply(CMD_TIPOS_ENVIO, "A#b")}});
    test::writeClientConfig(box.path().string(), server.port(), "Depuracao=S\r\nArquivoDepuracaoCript=N\r\n");
    box.write("logs/envio.par", "cifrado\r\n");
    // The argument is relative, as a caller gives it, to the working directory.
    struct WorkingDirectory
    {
        std::filesystem::path previous = std::filesystem::current_path();
        ~WorkingDirectory() { std::filesystem::current_path(previous); }
    } restore;
    std::filesystem::current_path(box.path());
    TCanalZEBCliente canal;
    canal.PrimeiroArgumento = "logs/envio.par";
    std::string lista;
    canal.ListarTiposArquivoEnvio(lista);
    canal.GravarTrace("depois");
    EXPECT_EQ(lista, "A#b");
    EXPECT_FALSE(std::filesystem::exists(box.path() / "ENVIO.log"));
    EXPECT_NE(box.read("TraceVEK.log").find("depois"), std::string::npos);
    EXPECT_TRUE(server.waitDone());
    EXPECT_TRUE(server.errors().empty());
}

}  // namespace
}  // namespace vek::channel
