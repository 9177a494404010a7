#include "channel/Frame.h"

#include "channel/MessageCodes.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::channel {
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

TEST(PayloadText, StopsAtFirstNul)
{
    EXPECT_EQ(payloadText(Bytes{'a', 0, 'b'}), "a");
    EXPECT_EQ(payloadText(Bytes{}), "");
    EXPECT_EQ(payloadText(Bytes{'a', 'b', 'c'}), "abc");
}

}  // namespace
}  // namespace vek::channel
