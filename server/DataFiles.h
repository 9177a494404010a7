#pragma once

#include <filesystem>
#include <string>

namespace vek::server {

// Creates `file` with `content`, readable and writable by the owner only,
// written through to the disk. Never replaces a file that is already there
// (another process may have been first); returns false then.
bool writeNewPrivateFile(const std::filesystem::path& file, const std::string& content);

std::string readWholeFile(const std::filesystem::path& file);

// Makes a rename or link inside `dir` durable.
void syncDirectory(const std::filesystem::path& dir);

}  // namespace vek::server
