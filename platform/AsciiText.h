#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vek::platform {

// Byte-wise text rules that every layer applies the same way, whatever the
// process locale.

enum class HexCase
{
    Upper,
    Lower
};

// Two hexadecimal digits per byte, in the bytes' order.
[[nodiscard]] std::string toHex(std::span<const std::uint8_t> bytes, HexCase letters = HexCase::Upper);

// Upper or lower case for the letters A to Z only; every other byte, those of
// accented letters included, stays as it is.
[[nodiscard]] constexpr char upperAZ(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
[[nodiscard]] constexpr char lowerAZ(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
[[nodiscard]] std::string upperAZ(std::string_view text);
[[nodiscard]] std::string lowerAZ(std::string_view text);

}  // namespace vek::platform
