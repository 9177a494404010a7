#pragma once

#include "platform/Clock.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vek::dataset {

// An exact decimal number of at most 32 significant digits, 8 of them after
// the point, kept in a canonical form (no leading zeros in the integer part,
// no trailing zeros in the fraction, no negative zero), so that equal numbers
// compare equal and have one text.
class Decimal
{
public:
    static constexpr std::size_t MaxIntegerDigits = 24;
    static constexpr std::size_t MaxFractionDigits = 8;

    Decimal() = default;
    static Decimal fromInteger(std::int64_t value);

    // Optional "-" or "+", digits, optional "." and digits (digits on at least
    // one side of the point); no exponent, blanks or group separators. Zeros
    // that change nothing do not count towards the limits. Nothing when the
    // text is not such a number or the number does not fit.
    static std::optional<Decimal> parse(std::string_view text);

    // The shortest exact text with "." as separator: "2.5", "1000", "-0.25", "0".
    [[nodiscard]] std::string toString() const;

    // The nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
    [[nodiscard]] Decimal roundedToInteger() const;
    // The same as a 64-bit integer; throws vek::Error when it does not fit.
    [[nodiscard]] std::int64_t toInt64() const;
    // The nearest double (for spreadsheets, which hold doubles).
    [[nodiscard]] double toDouble() const;

    [[nodiscard]] bool isZero() const { return integer_.empty() && fraction_.empty(); }
    [[nodiscard]] bool negative() const { return negative_; }

    bool operator==(const Decimal&) const = default;

private:
    bool negative_ = false;
    std::string integer_;   // digits, no leading zero; empty for a zero integer part
    std::string fraction_;  // digits, no trailing zero
};

// A date and time of day as the server wrote it (local wall time, no zone);
// platform::formatTimestamp shows it as "dd/mm/yyyy hh:nn:ss".
using Timestamp = platform::LocalDateTime;

// "yyyymmddThh:nn:ssmmm" with a real calendar date (years 1 to 9999) and
// time of day; nothing otherwise.
std::optional<Timestamp> parseSqlDateTime(std::string_view text);
// The all-zero text "00000000T00:00:00000", which stands for no date.
bool isZeroSqlDateTime(std::string_view text);
std::string formatSqlDateTime(const Timestamp& t);

enum class FieldType
{
    String,       // text of at most `size` characters
    FixedString,  // text of exactly `size` characters (shorter values are padded with blanks)
    Timestamp,
    Decimal,
    Boolean,  // computed fields only
};

// One field of a table as the program declares it.
struct FieldDef
{
    std::string name{};
    FieldType type = FieldType::String;
    int size = 0;  // characters, for the text types
    bool required = false;
    std::string label{};    // display label: grid title when the grid sets none, spreadsheet header
    int displayWidth = 0;   // characters; a guide for grids and exports
    bool visible = true;    // hidden fields stay out of grids and exports
    bool computed = false;  // worked out by the table, never read from or written to a file
};

// A value of a field; monostate is null.
using Value = std::variant<std::monostate, std::string, Timestamp, Decimal, bool>;
using Row = std::vector<Value>;

[[nodiscard]] inline bool isNull(const Value& v)
{
    return std::holds_alternative<std::monostate>(v);
}

// Index of the named field; throws vek::Error when the definition has none.
std::size_t fieldIndex(std::span<const FieldDef> fields, std::string_view name);

// A row of the definition's width with the named values set and the rest null.
Row makeRow(std::span<const FieldDef> fields, std::initializer_list<std::pair<std::string_view, Value>> values);

// A value as one cell of a tab-separated table: text with tab, carriage
// return and line feed written as a blank; timestamps as "dd/mm/yyyy
// hh:nn:ss"; decimals as Decimal::toString; booleans as "True"/"False";
// null as nothing.
std::string tsvCell(const Value& v);

}  // namespace vek::dataset
