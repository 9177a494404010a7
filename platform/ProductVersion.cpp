#include "platform/ProductVersion.h"

namespace vek::platform {

std::string_view productVersion()
{
    return VEK_PRODUCT_VERSION;
}

std::string versionLine(std::string_view program)
{
    return std::string(program) + " " + std::string(productVersion()) + "\n";
}

}  // namespace vek::platform
