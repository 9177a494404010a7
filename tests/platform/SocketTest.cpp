#include "platform/Error.h"
#include "platform/Socket.h"

#include "tests/fixtures/RecordingUiServices.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace vek::platform {
namespace {

using namespace std::chrono_literals;

struct Pair
{
    TcpListener listener;
    TcpSocket client;
    TcpSocket server;
};

Pair connectedPair()
{
    Pair p;
    p.listener.listen("127.0.0.1", 0);
    p.client.connect("127.0.0.1", p.listener.localPort(), 5s);
    p.server = p.listener.accept(5s);
    return p;
}

TEST(TcpSocket, ExactReadAndWholeWriteCarryBytes)
{
    auto p = connectedPair();
    ASSERT_TRUE(p.server.connected());
    std::vector<std::uint8_t> big(3 * 1024 * 1024);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::thread writer([&] { p.client.writeAll(big, 5s); });
    std::vector<std::uint8_t> got(big.size());
    p.server.readExact(got, 5s);
    writer.join();
    EXPECT_EQ(got, big);
    EXPECT_EQ(p.server.peerAddress(), "127.0.0.1");
    EXPECT_EQ(p.server.peerPort(), p.client.localPort());
}

TEST(TcpSocket, ReadFailsOnSilenceWithTimeoutCodeAndOnCloseWithCodeZero)
{
    auto p = connectedPair();
    std::array<std::uint8_t, 5> header{};
    try {
        p.client.readExact(header, 100ms);
        FAIL() << "read should time out";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ETIMEDOUT);
    }
    const std::uint8_t two[2] = {1, 2};
    p.server.writeAll(two, 1s);
    p.server.close();
    try {
        p.client.readExact(header, 1s);
        FAIL() << "read should fail at end of stream";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), 0);
    }
}

TEST(TcpSocket, ConnectKeepsErrnoOfRefusalAndResolverText)
{
    TcpListener l;
    l.listen("127.0.0.1", 0);
    const auto port = l.localPort();
    l.close();
    TcpSocket s;
    try {
        s.connect("127.0.0.1", port, 1s);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ECONNREFUSED);
    }
    EXPECT_FALSE(s.connected());
    EXPECT_THROW(s.connect("nao-existe.invalid", 80, 1s), Error);
}

TEST(TcpSocket, WaitReadableAndEventPumpDuringWaits)
{
    auto p = connectedPair();
    test::RecordingUiServices ui;
    ScopedUi scope(ui);
    p.client.setEventPump(true);
    EXPECT_FALSE(p.client.waitReadable(200ms));
    EXPECT_GE(ui.eventCalls(), 3);
    const std::uint8_t b[1] = {9};
    p.server.writeAll(b, 1s);
    EXPECT_TRUE(p.client.waitReadable(1s));
}

TEST(TcpListener, PolledAcceptReturnsUnconnectedOnTimeout)
{
    TcpListener l;
    l.listen("127.0.0.1", 0);
    EXPECT_EQ(l.localAddress(), "127.0.0.1");
    EXPECT_NE(l.localPort(), 0);
    EXPECT_FALSE(l.accept(50ms).connected());
    TcpListener busy;
    EXPECT_THROW(busy.listen("127.0.0.1", l.localPort()), Error);
}

}  // namespace
}  // namespace vek::platform
