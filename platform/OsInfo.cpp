#include "platform/OsInfo.h"

#include <cstdio>
#include <sys/utsname.h>

namespace vek::platform {

OsVersionInfo currentOsVersion()
{
    OsVersionInfo info;
    utsname u{};
    if (uname(&u) == 0) {
        info.servicePack = std::string(u.sysname) + " " + u.release;
        std::sscanf(u.release, "%d.%d", &info.major, &info.minor);
    }
    return info;
}

}  // namespace vek::platform
