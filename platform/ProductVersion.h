#pragma once

#include <string>
#include <string_view>

namespace vek::platform {

// The release of the programs, as their packages carry it. It is not the
// version the client reports to the server, which the protocol fixes.
[[nodiscard]] std::string_view productVersion();

// The line `--version` prints: the program's name and the release.
[[nodiscard]] std::string versionLine(std::string_view program);

}  // namespace vek::platform
