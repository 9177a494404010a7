#pragma once

#include <string>
#include <string_view>

namespace vek::wire {

// An error text meant to reach the user unchanged begins with this prefix,
// then a blank and the text. Whatever layer raises such an error (the
// channel, the upload preparation, the FTP client) writes it with
// userMessage(); the channel's public operations cut the prefix off before
// the text leaves them, and replace any other error by their own text.
inline constexpr std::string_view UserMessagePrefix = "<<CANAL_ZEB>>";

// The prefix, a blank and the text.
std::string userMessage(std::string_view text);

// True when the first 13 characters, upper-cased, are the prefix. A text
// that holds the prefix further on is not one: cutting 13 characters off its
// front would only mangle it.
[[nodiscard]] bool hasUserMessagePrefix(std::string_view message);

// The text after the prefix (normally beginning with the blank that followed
// it). Only for a message with the prefix.
[[nodiscard]] std::string withoutUserMessagePrefix(std::string_view message);

}  // namespace vek::wire
