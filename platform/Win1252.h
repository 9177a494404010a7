#pragma once

#include <string>
#include <string_view>

namespace vek::platform {

// UTF-8 to Windows-1252; a character without a Windows-1252 form, or a byte
// that is not valid UTF-8, becomes "?".
std::string toWin1252(std::string_view utf8);

// Windows-1252 to UTF-8; the five unassigned bytes become "?".
std::string fromWin1252(std::string_view bytes);

// Number of characters of a UTF-8 text (short-string limits count characters).
std::size_t utf8Length(std::string_view utf8);

// The first `count` characters of a UTF-8 text.
std::string utf8Left(std::string_view utf8, std::size_t count);

}  // namespace vek::platform

namespace vek::platform {

// Upper case of a UTF-8 text for the letters Windows-1252 holds (the
// accented Latin letters included).
std::string upperText(std::string_view utf8);

}  // namespace vek::platform
