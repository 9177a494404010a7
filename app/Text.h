#pragma once

#include "platform/AsciiText.h"

#include <optional>
#include <string>
#include <string_view>

namespace vek::app {

// Text rules that every front end applies the same way.

// The text without its leading and trailing blanks and control characters
// (every character up to the blank, code 32).
std::string trimmed(std::string_view text);

// Upper or lower case for the letters A to Z only.
using platform::lowerAZ;
using platform::upperAZ;

// A core text as a screen shows it: the line breaks that texts of the core
// carry in every Windows form (CR LF, LF CR, a lone CR) each become one line
// feed.
std::string screenText(std::string text);

// Any bytes as lower-case hexadecimal digits, two per byte, and back: how the
// client's own records keep a file name or an identifier whole on one line.
// unhex gives nothing for an odd length or a character that is no lower-case
// hexadecimal digit.
std::string hex(std::string_view bytes);
std::optional<std::string> unhex(std::string_view text);

}  // namespace vek::app
