#include "platform/AsciiText.h"
#include "platform/BaseDir.h"
#include "platform/Clock.h"
#include "platform/OsInfo.h"
#include "platform/Win1252.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

namespace vek::platform {
namespace {

TEST(AsciiText, HexHasTwoDigitsPerByteInTheBytesOrder)
{
    const std::array<std::uint8_t, 5> bytes{0x00, 0x0F, 0xA5, 0x5A, 0xFF};
    EXPECT_EQ(toHex(bytes), "000FA55AFF");
    EXPECT_EQ(toHex(bytes, HexCase::Lower), "000fa55aff");
    EXPECT_EQ(toHex({}), "");
}

TEST(AsciiText, CaseChangesOnlyTheLettersAToZ)
{
    // A Latin-1 byte and a UTF-8 letter stay as they are whatever the locale.
    const std::string text = "az AZ 09 {@[`} \xE7 ç";
    EXPECT_EQ(upperAZ(text), "AZ AZ 09 {@[`} \xE7 ç");
    EXPECT_EQ(lowerAZ(text), "az az 09 {@[`} \xE7 ç");
}

TEST(Win1252, ConvertsBothWaysAndMarksWhatHasNoForm)
{
    struct Case
    {
        const char* name;
        std::string utf8;
        std::string cp1252;
    };
    const std::array cases{
        Case{.name = "ascii", .utf8 = "abc|123", .cp1252 = "abc|123"},
        Case{.name = "latin",
             .utf8 = "Código indisponível ção",
             .cp1252 = "C\xF3"
                       "digo indispon\xEDvel \xE7\xE3o"},
        Case{.name = "upper half of 0x80", .utf8 = "€ “x” …", .cp1252 = "\x80 \x93x\x94 \x85"},
        Case{.name = "nul kept", .utf8 = std::string("a\0b", 3), .cp1252 = std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toWin1252(c.utf8), c.cp1252);
        EXPECT_EQ(fromWin1252(c.cp1252), c.utf8);
    }
    EXPECT_EQ(toWin1252("a\xE2\x82 b"), "a? b");  // broken UTF-8
    EXPECT_EQ(toWin1252("日本"), "??");
    // The bytes Windows-1252 leaves unassigned map to the C1 controls and
    // back, so that any byte string survives the round trip.
    EXPECT_EQ(fromWin1252("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
    std::string every;
    for (int b = 1; b < 256; ++b) {
        every.push_back(static_cast<char>(b));
    }
    EXPECT_EQ(toWin1252(fromWin1252(every)), every);
    EXPECT_EQ(toWin1252("\u0085"), "?");  // a C1 control Windows-1252 has no byte for
}

TEST(Win1252, CountsAndCutsCharactersNotBytes)
{
    EXPECT_EQ(utf8Length("ação"), 4U);
    EXPECT_EQ(utf8Left("ação!", 3),
              "aç"
              "ã");
    EXPECT_EQ(utf8Left("ab", 5), "ab");
}

TEST(Clock, FormatsTimestampsAndElapsedTime)
{
    const LocalDateTime t{.year = 2007, .month = 3, .day = 5, .hour = 14, .minute = 2, .second = 9, .millisecond = 31};
    EXPECT_EQ(formatTimestampMs(t), "05/03/2007 14:02:09.031");
    EXPECT_EQ(formatTimestamp(t), "05/03/2007 14:02:09");
    EXPECT_EQ(formatElapsed(std::chrono::milliseconds(3723004)), "01:02:03.004");
    const auto a = tickCount();
    sleepFor(std::chrono::milliseconds(20));
    const auto b = tickCount();
    EXPECT_GE(static_cast<std::uint32_t>(b - a), 19U);
}

TEST(BaseDir, FollowsVekDirElseExecutableDirectory)
{
    {
        test::Sandbox box;
        EXPECT_EQ(baseDir(), box.path());
    }
    setenv("VEK_DIR", "", 1);
    EXPECT_EQ(baseDir(), executablePath().parent_path());
    unsetenv("VEK_DIR");
}

TEST(OsInfo, LinuxIsOutsideTheKnownFamilies)
{
    const auto info = currentOsVersion();
    EXPECT_EQ(info.platformFamily, 3);
    EXPECT_EQ(info.servicePack.rfind("Linux ", 0), 0U);
}

}  // namespace
}  // namespace vek::platform
