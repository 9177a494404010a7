#pragma once

#include <filesystem>

namespace vek::platform {

// The running executable's path (/proc/self/exe).
std::filesystem::path executablePath();

// Where the configuration file, the trace file, temp/ and Protocolos/ live:
// VEK_DIR when set and non-empty, else the executable's directory.
std::filesystem::path baseDir();

// The user's temporary directory: TMPDIR when set and non-empty, else /tmp.
std::filesystem::path tempDir();

}  // namespace vek::platform
