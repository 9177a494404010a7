#include "platform/Socket.h"

#include "platform/Error.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/SocketPair.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <sys/socket.h>
#include <thread>

namespace vek::platform {
namespace {

using namespace std::chrono_literals;

using test::connectedPair;

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

TEST(TcpSocket, ExactReadAndWholeWriteMustFinishWithinOneTimeOut)
{
    auto p = connectedPair();
    // One byte every 800 ms: each gap is shorter than the time-out of 1 s,
    // the whole (4 s) far longer, even for a reader that starts late.
    std::thread dripper([&] {
        for (std::uint8_t b = 0; b < 5; ++b) {
            std::this_thread::sleep_for(800ms);
            try {
                p.server.writeAll(std::span(&b, 1), 1s);
            } catch (const Error&) {
                return;
            }
        }
    });
    std::array<std::uint8_t, 5> header{};
    // Each byte comes within the time-out, the five only after 4 s: a read
    // that restarted its time-out per byte would succeed.
    try {
        p.client.readExact(header, 1s);
        ADD_FAILURE() << "a trickling header should time out";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ETIMEDOUT);
    }
    dripper.join();

    // A reader that takes 16 KiB every 100 ms lets the writer go on many
    // times, never after a whole time-out, yet 4 MiB cannot pass in 300 ms:
    // at that pace they would take over 25 s. The pace is fixed per wake-up
    // (a reader that emptied the socket at each one would race the writer
    // and let megabytes pass on a busy machine).
    auto q = connectedPair();
    const int small = 64 * 1024;
    ASSERT_EQ(::setsockopt(q.client.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    ASSERT_EQ(::setsockopt(q.server.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    std::atomic<bool> stop{false};
    std::thread slowReader([&] {
        std::vector<std::uint8_t> chunk(16 * 1024);
        while (!stop) {
            std::this_thread::sleep_for(100ms);
            (void)::recv(q.server.fd(), chunk.data(), chunk.size(), MSG_DONTWAIT);
        }
    });
    const std::vector<std::uint8_t> big(4 * 1024 * 1024, 0x5A);
    try {
        q.client.writeAll(big, 300ms);
        ADD_FAILURE() << "a slow reader should make the write time out";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ETIMEDOUT);
    }
    stop = true;
    q.client.close();
    slowReader.join();
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
    // Some twenty slices of 50 ms: at least three run however busy the machine.
    EXPECT_FALSE(p.client.waitReadable(1s));
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
