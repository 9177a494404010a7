#include "wire/Frame.h"

#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/fixtures/SocketPair.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <thread>

namespace vek::wire {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MontarMensagem, PinsTheFrameBytes)
{
    EXPECT_EQ(MontarMensagem(CMD_ACK, 0), (Bytes{0x27, 0x00, 0x00, 0x00, 0x00}));
    const Bytes size1000{0xE8, 0x03, 0x00, 0x00};
    EXPECT_EQ(MontarMensagem(CMD_TAMANHO, 4, size1000), (Bytes{0x07, 0x04, 0x00, 0x00, 0x00, 0xE8, 0x03, 0x00, 0x00}));
    EXPECT_EQ(frameOf(CMD_NEGADO, "abc"), (Bytes{0x5E, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'}));
    // A length above 255 spreads over the little-endian bytes.
    const Bytes block(0x0500, 0xAA);
    const auto f = MontarMensagem(CMD_BLOCO, 0x0500, block);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 5), (Bytes{0x09, 0x00, 0x05, 0x00, 0x00}));
    EXPECT_EQ(f.size(), 0x0505U);
}

TEST(DecodeHeader, ReadsCodeAndSignedLittleEndianLength)
{
    struct Case
    {
        const char* name;
        std::array<std::uint8_t, 5> bytes;
        std::uint8_t code;
        std::int32_t length;
    };
    const std::array cases{
        Case{"refusal of three bytes", {0x5E, 0x03, 0x00, 0x00, 0x00}, 94, 3},
        Case{"zero", {0x27, 0x00, 0x00, 0x00, 0x00}, 39, 0},
        Case{"negative", {0x03, 0xFF, 0xFF, 0xFF, 0xFF}, 3, -1},
        Case{"high byte", {0xFF, 0x00, 0x00, 0x00, 0x40}, 255, 0x40000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto h = decodeHeader(c.bytes);
        EXPECT_EQ(h.code, c.code);
        EXPECT_EQ(h.length, c.length);
    }
}

// The size message of an upload and every frame's length use one encoding.
TEST(Int32, IsSignedLittleEndianBothWays)
{
    struct Case
    {
        const char* name;
        std::int32_t value;
        std::array<std::uint8_t, 4> bytes;
    };
    // clang-format off
    const std::array cases{
        Case{"a thousand",          1000,       {0xE8, 0x03, 0x00, 0x00}},
        Case{"every byte differs",  0x12345678, {0x78, 0x56, 0x34, 0x12}},
        Case{"minus one",           -1,         {0xFF, 0xFF, 0xFF, 0xFF}},
        Case{"most negative",       INT32_MIN,  {0x00, 0x00, 0x00, 0x80}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encodeInt32(c.value), c.bytes);
        EXPECT_EQ(decodeInt32(c.bytes), c.value);
    }
    EXPECT_EQ(encodeHeader({CMD_BLOCO, 0x0500}), (std::array<std::uint8_t, HeaderSize>{0x09, 0x00, 0x05, 0x00, 0x00}));
}

TEST(PayloadText, StopsAtFirstNul)
{
    EXPECT_EQ(payloadText(Bytes{'a', 0, 'b'}), "a");
    EXPECT_EQ(payloadText(Bytes{}), "");
    EXPECT_EQ(payloadText(Bytes{'a', 'b', 'c'}), "abc");
}

// The buffered reader must give the same frames however the bytes are cut:
// several frames in one piece, a frame in single bytes, a payload larger than
// its buffer.
TEST(FrameReader, GivesWholeFramesHoweverTheStreamIsCut)
{
    using namespace std::chrono_literals;
    auto [listener, client, peer] = test::connectedPair();

    const Bytes big(100, 0x5A);
    Bytes stream;
    for (const auto& f : {frameOf(CMD_NEGADO, "um"), MontarMensagem(CMD_ACK, 0), frameOf(CMD_PROTOCOLO, "tres")}) {
        stream.insert(stream.end(), f.begin(), f.end());
    }
    const auto bigFrame = MontarMensagem(CMD_BLOCO, 100, big);
    const auto last = frameOf(CMD_NEGADO, "fim");
    std::thread writer([&] {
        client.writeAll(stream, 5s);  // three frames at once
        std::this_thread::sleep_for(20ms);
        for (const auto b : bigFrame) {  // one byte at a time
            client.writeAll(std::span(&b, 1), 5s);
        }
        client.writeAll(std::span(last).first(3), 5s);  // a header cut in two
        std::this_thread::sleep_for(20ms);
        client.writeAll(std::span(last).subspan(3), 5s);
    });
    FrameReader reader(peer, 16);
    const auto m1 = reader.read(5s);
    EXPECT_EQ(m1.code, CMD_NEGADO);
    EXPECT_EQ(m1.text(), "um");
    const auto m2 = reader.read(5s);
    EXPECT_EQ(m2.code, CMD_ACK);
    EXPECT_TRUE(m2.payload.empty());
    const auto m3 = reader.read(5s);
    EXPECT_EQ(m3.text(), "tres");
    EXPECT_EQ(reader.read(5s).payload, big);
    EXPECT_EQ(reader.read(5s).text(), "fim");
    EXPECT_EQ(reader.buffered(), 0U);
    writer.join();
}

// Whether the next frame is already whole decides whether a reader may hold
// a reply back; reading in two steps gives the same bytes as reading whole.
TEST(FrameReader, TellsWhetherTheNextFrameIsAlreadyWhole)
{
    using namespace std::chrono_literals;
    auto [listener, client, peer] = test::connectedPair();

    Bytes stream;
    for (const auto& f : {frameOf(CMD_NEGADO, "um"), MontarMensagem(CMD_ACK, 0), frameOf(CMD_PROTOCOLO, "tres")}) {
        stream.insert(stream.end(), f.begin(), f.end());
    }
    client.writeAll(std::span(stream).first(stream.size() - 2), 5s);  // the third frame cut short
    FrameReader reader(peer);
    EXPECT_FALSE(reader.hasWholeFrame());  // nothing read yet
    ASSERT_TRUE(peer.waitReadable(5s));
    const Header h = reader.readHeader(5s);
    EXPECT_EQ(h.code, CMD_NEGADO);
    Bytes payload(static_cast<std::size_t>(h.length));
    reader.readPayload(payload, 5s);
    EXPECT_EQ(payloadText(payload), "um");
    EXPECT_TRUE(reader.hasWholeFrame());  // the empty acknowledgement
    EXPECT_EQ(reader.read(5s).code, CMD_ACK);
    EXPECT_FALSE(reader.hasWholeFrame());
    EXPECT_GT(reader.buffered(), 0U);
    client.writeAll(std::span(stream).last(2), 5s);
    EXPECT_EQ(reader.read(5s).text(), "tres");
    reader.discard();
    EXPECT_EQ(reader.buffered(), 0U);
}

TEST(FrameReader, RefusesAbsurdLengthsAndStreamsThatEndInsideAFrame)
{
    using namespace std::chrono_literals;
    auto [listener, client, peer] = test::connectedPair();
    FrameReader reader(peer);

    client.writeAll(Bytes{CMD_BLOCO, 0x00, 0x00, 0x10, 0x00}, 5s);  // 1 MiB announced
    try {
        (void)reader.read(5s, 64 * 1024);
        FAIL() << "an absurd length was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), EMSGSIZE);
    }

    auto [listener2, client2, peer2] = test::connectedPair();
    FrameReader reader2(peer2);
    client2.writeAll(Bytes{CMD_BLOCO, 0x0A, 0x00, 0x00, 0x00, 1, 2, 3}, 5s);
    client2.close();
    EXPECT_THROW((void)reader2.read(5s), Error);

    // A header trickled one byte at a time, each inside the time-out, still
    // fails once the header as a whole takes longer than it: the five bytes
    // take 3.2 s against a time-out of 1 s, so a reader that starts late on a
    // busy machine still cannot see them all in time.
    auto [listener3, client3, peer3] = test::connectedPair();
    FrameReader reader3(peer3);
    std::thread trickle([&] {
        for (const std::uint8_t b : Bytes{CMD_ACK, 0, 0, 0, 0}) {
            client3.writeAll(std::span(&b, 1), 5s);
            std::this_thread::sleep_for(800ms);
        }
    });
    try {
        (void)reader3.read(1s);
        ADD_FAILURE() << "a trickled header was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ETIMEDOUT);
    }
    trickle.join();
}

}  // namespace
}  // namespace vek::wire
