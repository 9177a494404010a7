#include "dataset/FieldValue.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace vek::dataset {
namespace {

TEST(Decimal, ParsesOnlyPlainDecimalTextIntoOneCanonicalForm)
{
    struct Case
    {
        const char* text;
        const char* canonical;  // nullptr: refused
    };
    // clang-format off
    const std::array cases{
        Case{"12.5", "12.5"},
        Case{"1000", "1000"},
        Case{"0001000.00000000", "1000"},
        Case{"-0.25", "-0.25"},
        Case{"-0.000", "0"},
        Case{"+3", "3"},
        Case{".5", "0.5"},
        Case{"5.", "5"},
        Case{"123456789012345678901234.12345678", "123456789012345678901234.12345678"},
        Case{"0.123456780", "0.12345678"},  // a trailing zero past the 8th place changes nothing
        Case{"1234567890123456789012345", nullptr},  // 25 integer digits
        Case{"0.123456789", nullptr},                // 9 decimal places
        Case{"", nullptr},
        Case{"-", nullptr},
        Case{".", nullptr},
        Case{"1,5", nullptr},
        Case{"1.000,5", nullptr},
        Case{"1e3", nullptr},
        Case{" 1", nullptr},
        Case{"1 ", nullptr},
        Case{"1.2.3", nullptr},
        Case{"--1", nullptr},
        Case{"0x10", nullptr},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto d = Decimal::parse(c.text);
        if (c.canonical == nullptr) {
            EXPECT_FALSE(d.has_value());
        } else {
            ASSERT_TRUE(d.has_value());
            EXPECT_EQ(d->toString(), c.canonical);
        }
    }
    EXPECT_EQ(Decimal::parse("2.50"), Decimal::parse("2.5"));
    EXPECT_EQ(Decimal::parse("-0"), Decimal{});
}

TEST(Decimal, RoundsHalvesToTheEvenNeighbour)
{
    struct Case
    {
        const char* text;
        const char* rounded;
    };
    const std::array cases{
        Case{"2.5", "2"},
        Case{"3.5", "4"},
        Case{"0.5", "0"},
        Case{"1.5", "2"},
        Case{"-2.5", "-2"},
        Case{"-3.5", "-4"},
        Case{"-0.5", "0"},  // no negative zero
        Case{"2.50000001", "3"},
        Case{"2.49999999", "2"},
        Case{"9.5", "10"},
        Case{"199.5", "200"},
        Case{"999999999999999999999999.5", "1000000000000000000000000"},
        Case{"7", "7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Decimal::parse(c.text)->roundedToInteger().toString(), c.rounded);
    }
}

TEST(Decimal, ConvertsToInt64WithinRangeOnly)
{
    constexpr auto Max = std::numeric_limits<std::int64_t>::max();
    constexpr auto Min = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(Decimal::parse("9223372036854775807")->toInt64(), Max);
    EXPECT_EQ(Decimal::parse("9223372036854775806.5")->toInt64(), Max - 1);
    EXPECT_EQ(Decimal::parse("-9223372036854775808")->toInt64(), Min);
    EXPECT_EQ(Decimal::parse("-9223372036854775808.5")->toInt64(), Min);  // 8 is even
    EXPECT_EQ(Decimal::parse("3.5")->toInt64(), 4);
    EXPECT_THROW((void)Decimal::parse("9223372036854775807.5")->toInt64(), Error);
    EXPECT_THROW((void)Decimal::parse("-9223372036854775809")->toInt64(), Error);
    EXPECT_EQ(Decimal::fromInteger(Min).toString(), "-9223372036854775808");
    EXPECT_EQ(Decimal::fromInteger(0), Decimal{});
}

TEST(Timestamp, ParsesTheSqlDateTimeFormWithRealDatesOnly)
{
    struct Case
    {
        const char* text;
        bool ok;
    };
    // clang-format off
    const std::array cases{
        Case{"20261209T14:05:09123", true},
        Case{"20240229T00:00:00000", true},   // leap day
        Case{"00010101T23:59:59999", true},
        Case{"20230229T00:00:00000", false},  // not a leap year
        Case{"21000229T00:00:00000", false},
        Case{"20261309T00:00:00000", false},
        Case{"20261200T00:00:00000", false},
        Case{"20261131T00:00:00000", false},
        Case{"20261209T24:00:00000", false},
        Case{"20261209T14:60:00000", false},
        Case{"20261209T14:05:60000", false},
        Case{"00000101T00:00:00000", false},
        Case{"20261209 14:05:09000", false},
        Case{"20261209T14:05:0900", false},
        Case{"2026-1209T14:05:09000", false},
        Case{"+0261209T14:05:09000", false},
        Case{"20261209T14-05:09000", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseSqlDateTime(c.text).has_value(), c.ok);
    }
    const Timestamp t{2026, 12, 9, 14, 5, 9, 123};
    EXPECT_EQ(parseSqlDateTime("20261209T14:05:09123"), t);
    EXPECT_EQ(formatSqlDateTime(t), "20261209T14:05:09123");
    EXPECT_EQ(platform::formatTimestamp(t), "09/12/2026 14:05:09");
    EXPECT_TRUE(isZeroSqlDateTime("00000000T00:00:00000"));
}

TEST(TsvCell, WritesEachKindOfValueAsACell)
{
    EXPECT_EQ(tsvCell(std::monostate{}), "");
    EXPECT_EQ(tsvCell(std::string("a\tb\r\nc ")), "a b  c ");
    EXPECT_EQ(tsvCell(Timestamp{2026, 1, 2, 3, 4, 5, 999}), "02/01/2026 03:04:05");
    EXPECT_EQ(tsvCell(*Decimal::parse("1000.00")), "1000");
    EXPECT_EQ(tsvCell(*Decimal::parse("-2.50")), "-2.5");
    EXPECT_EQ(tsvCell(true), "True");
}

}  // namespace
}  // namespace vek::dataset
