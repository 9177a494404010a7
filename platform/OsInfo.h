#pragma once

#include <string>

namespace vek::platform {

// The values the client's operating-system name is built from. Linux is
// family 3 (none of the three families the name table knows), so only the
// parenthesised service text remains: uname's sysname and release.
struct OsVersionInfo
{
    int platformFamily = 3;
    int major = 0;
    int minor = 0;
    std::string servicePack;
};

OsVersionInfo currentOsVersion();

}  // namespace vek::platform
