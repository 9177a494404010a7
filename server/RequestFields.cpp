#include "server/RequestFields.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace vek::server {
namespace {

bool allDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::vector<std::string> splitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const auto bar = text.find('|', from);
        fields.push_back(text.substr(from, bar - from));
        if (bar == std::string::npos) {
            return fields;
        }
        from = bar + 1;
    }
}

std::string joinFields(const std::vector<std::string>& fields, std::size_t first, std::size_t end)
{
    std::string out;
    for (std::size_t i = first; i < end && i < fields.size(); ++i) {
        if (i != first) {
            out += '|';
        }
        out += fields[i];
    }
    return out;
}

bool isMonthText(const std::string& text)
{
    if (text.size() != 7 || text[2] != '/' || !allDigits(text.substr(0, 2)) || !allDigits(text.substr(3))) {
        return false;
    }
    const int month = std::stoi(text.substr(0, 2));
    return month >= 1 && month <= 12;
}

std::optional<std::string> isoDayOf(const std::string& text)
{
    if (text.size() != 10 || text[2] != '/' || text[5] != '/') {
        return std::nullopt;
    }
    const std::string d = text.substr(0, 2);
    const std::string m = text.substr(3, 2);
    const std::string y = text.substr(6);
    if (!allDigits(d) || !allDigits(m) || !allDigits(y)) {
        return std::nullopt;
    }
    const std::chrono::year_month_day day{std::chrono::year(std::stoi(y)),
                                          std::chrono::month(static_cast<unsigned>(std::stoi(m))),
                                          std::chrono::day(static_cast<unsigned>(std::stoi(d)))};
    if (!day.ok() || std::stoi(y) < 1) {
        return std::nullopt;
    }
    return y + "-" + m + "-" + d;
}

}  // namespace vek::server
