#pragma once

#include <filesystem>
#include <string>

namespace vek::platform {

// Writes that survive a crash or a power cut once the call returns. Each
// throws vek::Error naming the file.

// Flushes a file's data, or a directory's entries, to the disk.
void syncPath(const std::filesystem::path& path);

// Writes `content` to `path` through a hidden temporary file beside it,
// flushed and then renamed into place: `path` holds either nothing or all of it.
void writeFileDurably(const std::filesystem::path& path, const std::string& content);

// Moves a file to `to` (which must not exist) and flushes both directories.
// Across file systems the file is copied and flushed first and the original
// removed afterwards, so that at every moment at least one whole copy exists.
void moveDurably(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vek::platform
