#include "app/Text.h"

namespace vek::app {

namespace {

bool blank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::string trimmed(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string screenText(std::string text)
{
    replaceAll(text, "\r\n", "\n");
    replaceAll(text, "\n\r", "\n");
    replaceAll(text, "\r", "\n");
    return text;
}

std::string hex(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::optional<std::string> unhex(std::string_view text)
{
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;
    };
    std::string out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = value(text[i]);
        const int lo = value(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

}  // namespace vek::app
