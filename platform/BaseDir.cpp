#include "platform/BaseDir.h"

#include <cstdlib>
#include <system_error>

namespace vek::platform {

std::filesystem::path executablePath()
{
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return std::filesystem::current_path(ec) / "vek";
    }
    return p;
}

std::filesystem::path baseDir()
{
    if (const char* dir = std::getenv("VEK_DIR"); dir != nullptr && *dir != '\0') {
        return std::filesystem::path(dir);
    }
    return executablePath().parent_path();
}

std::filesystem::path tempDir()
{
    if (const char* dir = std::getenv("TMPDIR"); dir != nullptr && *dir != '\0') {
        return std::filesystem::path(dir);
    }
    return "/tmp";
}

}  // namespace vek::platform
