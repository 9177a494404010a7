#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vek::crypto {

// A file descriptor that closes itself. Every failing call leaves errno as
// the system set it, so callers can capture it right away.
class PosixFile
{
public:
    PosixFile() = default;
    ~PosixFile();
    PosixFile(PosixFile&& other) noexcept;
    PosixFile& operator=(PosixFile&& other) noexcept;
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    // false (errno set) when the file cannot be opened.
    [[nodiscard]] bool openRead(const std::string& path);
    // Creates the file, or empties it when it exists.
    [[nodiscard]] bool create(const std::string& path);

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] int fd() const { return fd_; }

    // Reads until `size` bytes are in or the end of the file is reached;
    // -1 (errno set) on a read error.
    [[nodiscard]] std::ptrdiff_t readFull(void* data, std::size_t size);
    // Writes everything; false (errno set) on a short or failed write.
    [[nodiscard]] bool writeAll(const void* data, std::size_t size);
    // Size of the open file, -1 (errno set) on failure.
    [[nodiscard]] std::int64_t size() const;
    // false (errno set) when closing fails; the descriptor is released either way.
    bool close();

private:
    int fd_ = -1;
};

}  // namespace vek::crypto
