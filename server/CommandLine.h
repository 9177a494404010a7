#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace vek::server {

// Exit codes of zebd.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// zebd with its arguments (without the program name). Serving prints the
// listening line on `out` once both ports listen, then blocks in
// `waitForStop` and stops cleanly when it returns. `terminal` is the
// descriptor of the terminal that `zebd operadora` may ask a password on, or
// -1 when there is none.
int runZebd(const std::vector<std::string>& args,
            std::ostream& out,
            std::ostream& err,
            const std::function<void()>& waitForStop,
            int terminal = -1);

}  // namespace vek::server
