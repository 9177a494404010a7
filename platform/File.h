#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace vek::platform {

// A POSIX file descriptor that closes itself. Every failing call leaves errno
// as the system set it, so callers can capture it right away. Descriptors are
// opened close-on-exec.
class File
{
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // open(2) with the given flags; `mode` applies when the flags create the file.
    // false (errno set) when the file cannot be opened.
    [[nodiscard]] bool open(const std::filesystem::path& path, int flags, unsigned mode = 0666);
    [[nodiscard]] bool openRead(const std::filesystem::path& path);
    // Creates the file, or empties it when it exists.
    [[nodiscard]] bool create(const std::filesystem::path& path, unsigned mode = 0666);
    // Creates a new private file from `pathTemplate`, which ends in "XXXXXX"
    // and receives the name chosen (mkstemp(3)).
    [[nodiscard]] bool createTemporary(std::string& pathTemplate);

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] int fd() const { return fd_; }

    // Reads until `size` bytes are in or the end of the file is reached;
    // -1 (errno set) on a read error.
    [[nodiscard]] std::ptrdiff_t readFull(void* data, std::size_t size);
    // Writes everything; false (errno set) on a short or failed write.
    [[nodiscard]] bool writeAll(const void* data, std::size_t size);
    // Size of the open file, -1 (errno set) on failure.
    [[nodiscard]] std::int64_t size() const;
    // fsync(2); false (errno set) on failure.
    [[nodiscard]] bool sync();
    // false (errno set) when closing fails; the descriptor is released either way.
    bool close();

private:
    int fd_ = -1;
};

// A stdio stream that closes itself.
class StdioFile
{
public:
    StdioFile() = default;
    ~StdioFile();
    StdioFile(StdioFile&& other) noexcept;
    StdioFile& operator=(StdioFile&& other) noexcept;
    StdioFile(const StdioFile&) = delete;
    StdioFile& operator=(const StdioFile&) = delete;

    // fopen(3); false (errno set) when the file cannot be opened.
    [[nodiscard]] bool open(const std::filesystem::path& path, const char* mode);

    [[nodiscard]] bool isOpen() const { return f_ != nullptr; }
    [[nodiscard]] std::FILE* get() const { return f_; }

    // false (errno set) when the buffered data cannot be written out or the
    // stream cannot be closed; the stream is released either way.
    bool close();

private:
    std::FILE* f_ = nullptr;
};

}  // namespace vek::platform
