#include "crypto/TBlowfishQv.h"
#include "platform/Error.h"
#include "server/Store.h"
#include "tests/server/ServerTestSupport.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace vek::test {
namespace {

using namespace wire;
using namespace std::chrono_literals;

// The demo lists as they go on the wire: Windows-1252, one byte per accented letter.
TEST(TypeLists, AnswerWithTheStoredListsInWindows1252)
{
    RunningServer zebd;
    struct Case
    {
        const char* name;
        std::uint8_t request;
        std::uint8_t reply;
        std::string payload;
    };
    const std::array cases{
        Case{"send types",
             CMD_TIPOS_ENVIO,
             CMD_TIPOS_ENVIO,
             "XML#Arquivo de dados XML|TXT#Arquivo texto|ZIP#Arquivo compactado|CSV#Planilha em texto (CSV)|"
             "PDF#Documento de informa\xE7\xF5"
             "es"},
        Case{"download types",
             CMD_TIPOS_DOWNLOAD,
             CMD_TIPOS_DOWNLOAD,
             "RET#Arquivo de retorno|CNF#Confer\xEAncia de cadastro|REL#Relat\xF3rio de processamento"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::TcpSocket s = connectTo(zebd.port());
        sendFrame(s, c.request, {});
        const Message m = receive(s);
        EXPECT_EQ(m.code, c.reply);
        EXPECT_EQ(std::string(m.payload.begin(), m.payload.end()), c.payload);
    }

    // A list changed in the store is what the next client gets.
    zebd.server().store().setTiposEnvio("ABC#Só este");
    platform::TcpSocket s = connectTo(zebd.port());
    sendFrame(s, CMD_TIPOS_ENVIO, {});
    EXPECT_EQ(receive(s).text(), "ABC#S\xF3 este");
}

TEST(MessageServer, AnUnexpectedFrameClosesOnlyThatConnection)
{
    RunningServer zebd;
    platform::TcpSocket bystander = connectTo(zebd.port());
    sendFrame(bystander, CMD_TIPOS_ENVIO, {});
    ASSERT_EQ(receive(bystander).code, CMD_TIPOS_ENVIO);

    struct Case
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    const std::array cases{
        Case{"a code no exchange starts with", MontarMensagem(CMD_BLOCO, 3, std::vector<std::uint8_t>{1, 2, 3})},
        Case{"an acknowledgement out of the blue", MontarMensagem(CMD_ACK, 0)},
        Case{"an absurd length", {CMD_TIPOS_ENVIO, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::TcpSocket s = connectTo(zebd.port());
        writeFrame(s, c.bytes, 5s);
        EXPECT_TRUE(closedByPeer(s));
    }

    // The connection that was open all along is still served.
    sendFrame(bystander, CMD_TIPOS_DOWNLOAD, {});
    EXPECT_EQ(receive(bystander).code, CMD_TIPOS_DOWNLOAD);
}

TEST(MessageServer, ConnectionsBeyondTheBoundAreClosed)
{
    RunningServer zebd([](server::ServerConfig& c) { c.maxConnections = 2; });
    platform::TcpSocket first = connectTo(zebd.port());
    platform::TcpSocket second = connectTo(zebd.port());
    sendFrame(first, CMD_TIPOS_ENVIO, {});
    sendFrame(second, CMD_TIPOS_ENVIO, {});
    receive(first);
    receive(second);

    platform::TcpSocket third = connectTo(zebd.port());
    EXPECT_TRUE(closedByPeer(third));

    // Once a connection ends, its place is free again.
    first.close();
    EXPECT_TRUE(waitFor([&] {
        platform::TcpSocket again = connectTo(zebd.port());
        try {
            sendFrame(again, CMD_TIPOS_ENVIO, {});
            return receive(again).code == CMD_TIPOS_ENVIO;
        } catch (const Error&) {
            return false;
        }
    }));
}

TEST(MessageServer, StopReturnsPromptlyWithIdleConnectionsOpen)
{
    RunningServer zebd([](server::ServerConfig& c) { c.idleTimeout = 60s; });
    platform::TcpSocket idle = connectTo(zebd.port());
    sendFrame(idle, CMD_TIPOS_ENVIO, {});
    receive(idle);
    platform::TcpSocket silent = connectTo(zebd.port());

    const auto start = std::chrono::steady_clock::now();
    zebd.stop();
    // Far below the idle time-out: the stop ended the sessions, their time-out did not.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_TRUE(closedByPeer(idle));
    EXPECT_TRUE(closedByPeer(silent));
}

TEST(MessageServer, StopLetsAnUploadInFlightFinish)
{
    RunningServer zebd;
    platform::TcpSocket s = connectTo(zebd.port());
    sendText(s, CMD_PEDIDO_ENVIO, "4.0.8|VEK|123456|XML|Linux|a.xml|" + crypto::EncryptProtocolText("demo"));
    ASSERT_EQ(receive(s).code, CMD_ACEITO);
    receive(s);  // modulus
    receive(s);  // exponent

    // Stop while the client is between two messages of its upload: the
    // server keeps serving that exchange until it ends.
    auto stopping = std::async(std::launch::async, [&zebd] { zebd.stop(); });
    EXPECT_EQ(stopping.wait_for(300ms), std::future_status::timeout);
    sendFrame(s, CMD_CHAVE_SIMETRICA, std::vector<std::uint8_t>{1, 2, 3});
    sendText(s, CMD_HASH_ARQUIVO, "");
    EXPECT_EQ(receive(s).code, CMD_NEGADO);  // that key was not wrapped with the server's
    s.close();
    EXPECT_EQ(stopping.wait_for(15s), std::future_status::ready);
}

}  // namespace
}  // namespace vek::test
