#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vek::cli {

// Exit codes shared by every command but the parameter-file one.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;  // the operation failed or the server refused
inline constexpr int ExitUsage = 2;   // usage or input error

// Runs one vek-cli command line; results go to out, messages and errors to err.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vek::cli
