#include "platform/AsciiText.h"

namespace vek::platform {

std::string toHex(std::span<const std::uint8_t> bytes, HexCase letters)
{
    const char* digits = letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0xF]);
    }
    return text;
}

std::string upperAZ(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = upperAZ(c);
    }
    return out;
}

std::string lowerAZ(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = lowerAZ(c);
    }
    return out;
}

}  // namespace vek::platform
