#pragma once

#include <iosfwd>
#include <string>

namespace vek::server {

// Asks for a new password on the terminal `fd`, without echo, twice; the
// prompts go to `prompts`. The terminal's settings are restored on every
// way out. Throws vek::Error when the two answers differ, when the input
// ends first, or when SIGINT or SIGTERM (blocked by the caller) arrive.
std::string askNewPassword(int fd, std::ostream& prompts, const std::string& registro);

}  // namespace vek::server
