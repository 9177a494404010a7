#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vek::cli {

// Exit codes shared by every command but the parameter-file one.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;  // the operation failed or the server refused
inline constexpr int ExitUsage = 2;   // usage or input error

// Runs one vek-cli command line; results go to out, messages and errors to
// err. errIsTerminal: err is shown on a terminal (progress line, readable
// line breaks).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal = false);

// Takes the locale from the environment (LC_ALL, LC_*, LANG), as the window
// does, with UTF-8 characters whatever its encoding: numbers in the progress
// texts then use the user's decimal separator.
void useEnvironmentLocale();

}  // namespace vek::cli
