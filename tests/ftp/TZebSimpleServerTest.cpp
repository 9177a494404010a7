#include "ftp/TZebSimpleServer.h"

#include "platform/Error.h"
#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace vek::ftp {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Connects to 127.0.0.1:port; the errno of the failure, or 0.
int tryConnect(std::uint16_t port, platform::TcpSocket& socket)
{
    try {
        socket.connect("127.0.0.1", port, 2000ms);
        return 0;
    } catch (const Error& e) {
        return e.code();
    }
}

TEST(TZebSimpleServer, AcceptsOneConnectionAndRefusesASecond)
{
    TZebSimpleServer server;
    server.BoundIP = "127.0.0.1";
    // One poll far longer than the test: the accept must come from the
    // connection's arrival, not from the end of a poll.
    server.AcceptWait = 60s;
    server.acceptLimit = 60s;
    server.StartListening();
    ASSERT_TRUE(server.listening());
    const std::uint16_t port = server.boundPort();
    ASSERT_NE(port, 0);

    // The peer connects a few polls into the wait.
    platform::TcpSocket peer;
    std::thread connector([&] {
        std::this_thread::sleep_for(250ms);
        tryConnect(port, peer);
    });
    const auto start = Clock::now();
    EXPECT_TRUE(server.AcceptConnection());
    const auto waited = Clock::now() - start;
    connector.join();
    EXPECT_LT(waited, 30s) << "the accept waited for the poll to end";
    EXPECT_FALSE(server.listening());

    const std::string text = "dados";
    peer.writeAll({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, 1000ms);
    std::array<std::uint8_t, 5> got{};
    server.connection().readExact(got, 1000ms);
    EXPECT_EQ(std::string(got.begin(), got.end()), text);

    platform::TcpSocket second;
    EXPECT_EQ(tryConnect(port, second), ECONNREFUSED);
}

TEST(TZebSimpleServer, ConnectionMadeBeforeTheWaitIsAcceptedAtOnce)
{
    // Some servers connect as soon as they read PORT, before RETR.
    TZebSimpleServer server;
    server.BoundIP = "127.0.0.1";
    server.StartListening();
    server.AcceptWait = 60s;
    server.acceptLimit = 60s;
    platform::TcpSocket peer;
    ASSERT_EQ(tryConnect(server.boundPort(), peer), 0);
    const auto start = Clock::now();
    EXPECT_TRUE(server.AcceptConnection());
    EXPECT_LT(Clock::now() - start, 30s) << "the accept waited for the poll to end";
    EXPECT_TRUE(server.connection().connected());
}

TEST(TZebSimpleServer, NoConnectionFailsWithTheUserMessageAfterTheLimit)
{
    TZebSimpleServer server;
    server.BoundIP = "127.0.0.1";
    server.AcceptWait = 100ms;
    server.acceptLimit = 350ms;
    const auto start = Clock::now();
    try {
        server.AcceptConnection();  // listens first
        FAIL() << "the wait ended without a connection and without an error";
    } catch (const Error& e) {
        const auto waited = Clock::now() - start;
        // The first poll that ends past the limit (the fourth, at about
        // 400 ms); the upper figure only guards against a wait without end.
        EXPECT_GE(waited, 350ms);
        EXPECT_LT(waited, 60s);
        EXPECT_EQ(e.code(), ETIMEDOUT);
        const std::string m = e.what();
        EXPECT_EQ(m, TZebSimpleServer::WaitFailedMessage);
        EXPECT_EQ(m.rfind("<<CANAL_ZEB>> O VEK esperou 15 segundos por uma conexão vinda do servidor da ZEB", 0), 0u);
        EXPECT_EQ(std::count(m.begin(), m.end(), '\r'), 2);
        EXPECT_NE(m.find("\rVerifique se o Firewall"), std::string::npos);
        EXPECT_NE(m.find("na porta 20.0001 vindas do endereço da ZEB.\r"), std::string::npos);
        EXPECT_NE(m.find("\rPara mais informações, acesso o Help do VEK"), std::string::npos);
        EXPECT_TRUE(m.ends_with("entregue-o ao Administrador de rede."));
    }
}

TEST(TZebSimpleServer, BusyFixedPortFailsWithTheBindMessage)
{
    platform::TcpListener holder;
    holder.listen("127.0.0.1", 0);
    TZebSimpleServer server;
    server.BoundIP = "127.0.0.1";
    server.BoundPort = holder.localPort();
    server.BoundPortMin = server.BoundPortMax = holder.localPort();
    try {
        server.StartListening();
        FAIL() << "bound a port that another socket listens on";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
        EXPECT_EQ(e.code(), EADDRINUSE);
    }
    EXPECT_FALSE(server.listening());
}

TEST(TZebSimpleServer, PortRangeTakesTheFirstFreePort)
{
    platform::TcpListener holder;
    holder.listen("127.0.0.1", 0);
    const int busy = holder.localPort();
    if (busy == 65535) {
        GTEST_SKIP() << "no port above the held one";
    }
    {
        platform::TcpListener probe;
        try {
            probe.listen("127.0.0.1", static_cast<std::uint16_t>(busy + 1));
        } catch (const Error&) {
            GTEST_SKIP() << "the port above the held one is not free";
        }
    }
    struct Case
    {
        const char* name;
        int min;
        int max;
        int expectedPort;  // 0: the bind fails
    };
    const std::array<Case, 2> cases{{
        {.name = "busy port skipped", .min = busy, .max = busy + 1, .expectedPort = busy + 1},
        {.name = "every port busy", .min = busy, .max = busy, .expectedPort = 0},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TZebSimpleServer server;
        server.BoundIP = "127.0.0.1";
        server.BoundPortMin = c.min;
        server.BoundPortMax = c.max;
        if (c.expectedPort != 0) {
            server.StartListening();
            EXPECT_EQ(server.boundPort(), c.expectedPort);
        } else {
            try {
                server.StartListening();
                FAIL() << "bound a busy port";
            } catch (const Error& e) {
                EXPECT_EQ(e.code(), EADDRINUSE) << e.what();
            }
        }
    }
}

}  // namespace
}  // namespace vek::ftp
