#include "dataset/FieldValue.h"

#include "platform/Error.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace vek::dataset {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(std::string_view s)
{
    for (const char c : s) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
}

int number(std::string_view digits)
{
    int n = 0;
    for (const char c : digits) {
        n = n * 10 + (c - '0');
    }
    return n;
}

bool leapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m)
{
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : Days[m - 1];
}

// Adds one to a non-empty string of decimal digits.
std::string incremented(std::string digits)
{
    for (auto i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return digits;
        }
        digits[i] = '0';
    }
    return "1" + digits;
}

}  // namespace

Decimal Decimal::fromInteger(std::int64_t value)
{
    Decimal d;
    if (value == 0) {
        return d;
    }
    d.negative_ = value < 0;
    // Through unsigned so that the smallest int64 has a magnitude.
    std::uint64_t magnitude = d.negative_ ? 0U - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    d.integer_ = std::to_string(magnitude);
    return d;
}

std::optional<Decimal> Decimal::parse(std::string_view text)
{
    Decimal d;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        d.negative_ = text.front() == '-';
        text.remove_prefix(1);
    }
    const auto point = text.find('.');
    std::string_view integer = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    if ((integer.empty() && fraction.empty()) || !allDigits(integer) || !allDigits(fraction)) {
        return std::nullopt;
    }
    while (!integer.empty() && integer.front() == '0') {
        integer.remove_prefix(1);
    }
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.remove_suffix(1);
    }
    if (integer.size() > MaxIntegerDigits || fraction.size() > MaxFractionDigits) {
        return std::nullopt;
    }
    d.integer_ = integer;
    d.fraction_ = fraction;
    if (d.isZero()) {
        d.negative_ = false;
    }
    return d;
}

std::string Decimal::toString() const
{
    std::string s = negative_ ? "-" : "";
    s += integer_.empty() ? "0" : integer_;
    if (!fraction_.empty()) {
        s += '.';
        s += fraction_;
    }
    return s;
}

Decimal Decimal::roundedToInteger() const
{
    Decimal d = *this;
    d.fraction_.clear();
    if (fraction_.empty()) {
        return d;
    }
    // The fraction has no trailing zeros, so "5" alone is exactly one half.
    bool up = fraction_[0] > '5' || (fraction_[0] == '5' && fraction_.size() > 1);
    if (fraction_ == "5") {
        const char last = integer_.empty() ? '0' : integer_.back();
        up = (last - '0') % 2 == 1;
    }
    if (up) {
        d.integer_ = incremented(integer_.empty() ? "0" : integer_);
    }
    if (d.isZero()) {
        d.negative_ = false;
    }
    return d;
}

std::int64_t Decimal::toInt64() const
{
    const Decimal r = roundedToInteger();
    std::uint64_t magnitude = 0;
    const std::string digits = r.integer_.empty() ? "0" : r.integer_;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (r.negative_ ? 1 : 0);
    if (ec != std::errc{} || end != digits.data() + digits.size() || magnitude > limit) {
        throw Error("O valor " + toString() + " não cabe em um número inteiro.");
    }
    return r.negative_ ? static_cast<std::int64_t>(0U - magnitude) : static_cast<std::int64_t>(magnitude);
}

double Decimal::toDouble() const
{
    const std::string s = toString();
    double v = 0;
    // from_chars rounds correctly and ignores the locale.
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

std::optional<Timestamp> parseSqlDateTime(std::string_view text)
{
    // yyyymmddThh:nn:ssmmm
    if (text.size() != 20 || text[8] != 'T' || text[11] != ':' || text[14] != ':') {
        return std::nullopt;
    }
    const std::string_view parts[] = {text.substr(0, 4),
                                      text.substr(4, 2),
                                      text.substr(6, 2),
                                      text.substr(9, 2),
                                      text.substr(12, 2),
                                      text.substr(15, 2),
                                      text.substr(17, 3)};
    for (const auto p : parts) {
        if (!allDigits(p)) {
            return std::nullopt;
        }
    }
    Timestamp t{number(parts[0]),
                number(parts[1]),
                number(parts[2]),
                number(parts[3]),
                number(parts[4]),
                number(parts[5]),
                number(parts[6])};
    if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysInMonth(t.year, t.month) || t.hour > 23 ||
        t.minute > 59 || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

bool isZeroSqlDateTime(std::string_view text)
{
    return text == "00000000T00:00:00000";
}

std::string formatSqlDateTime(const Timestamp& t)
{
    char buf[32];
    std::snprintf(buf,
                  sizeof buf,
                  "%04d%02d%02dT%02d:%02d:%02d%03d",
                  t.year,
                  t.month,
                  t.day,
                  t.hour,
                  t.minute,
                  t.second,
                  t.millisecond);
    return buf;
}

std::size_t fieldIndex(std::span<const FieldDef> fields, std::string_view name)
{
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name == name) {
            return i;
        }
    }
    throw Error("Campo " + std::string(name) + " não encontrado.");
}

Row makeRow(std::span<const FieldDef> fields, std::initializer_list<std::pair<std::string_view, Value>> values)
{
    Row row(fields.size());
    for (const auto& [name, value] : values) {
        row[fieldIndex(fields, name)] = value;
    }
    return row;
}

std::string tsvCell(const Value& v)
{
    struct Visitor
    {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(const std::string& s) const
        {
            std::string out = s;
            for (char& c : out) {
                if (c == '\t' || c == '\r' || c == '\n') {
                    c = ' ';
                }
            }
            return out;
        }
        std::string operator()(const Timestamp& t) const { return platform::formatTimestamp(t); }
        std::string operator()(const Decimal& d) const { return d.toString(); }
        std::string operator()(bool b) const { return b ? "True" : "False"; }
    };
    return std::visit(Visitor{}, v);
}

}  // namespace vek::dataset
