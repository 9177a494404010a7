#pragma once

#include "platform/File.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

namespace vek::ftp {

// A write-only file stream that tells its owner about every write. The file is
// created, or truncated when it exists. A write either stores every byte it
// was given or throws vek::Error with the errno of the failing call (a full
// disk, a file size limit): a partial write never passes as a success.
class TZEBFileStream
{
public:
    using WriteNotification = std::function<void(TZEBFileStream& sender, std::int64_t count)>;

    explicit TZEBFileStream(const std::filesystem::path& path);
    TZEBFileStream(const TZEBFileStream&) = delete;
    TZEBFileStream& operator=(const TZEBFileStream&) = delete;

    // Stores all of data at the current position, then calls OnWrite with its size.
    void write(std::span<const std::uint8_t> data);
    // Closes the file and reports an error that the system only gives at close
    // (some file systems defer them). The destructor closes silently.
    void close();

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    // Bytes written so far.
    [[nodiscard]] std::int64_t position() const { return position_; }

    // Called after every write with the number of bytes the write stored.
    WriteNotification OnWrite;

private:
    std::filesystem::path path_;
    platform::File file_;
    std::int64_t position_ = 0;
};

}  // namespace vek::ftp
