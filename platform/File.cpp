#include "platform/File.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vek::platform {

File::~File()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
{}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool File::open(const std::filesystem::path& path, int flags, unsigned mode)
{
    close();
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
    return fd_ >= 0;
}

bool File::openRead(const std::filesystem::path& path)
{
    return open(path, O_RDONLY);
}

bool File::create(const std::filesystem::path& path, unsigned mode)
{
    return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

bool File::createTemporary(std::string& pathTemplate)
{
    close();
    fd_ = ::mkostemp(pathTemplate.data(), O_CLOEXEC);
    return fd_ >= 0;
}

std::ptrdiff_t File::readFull(void* data, std::size_t size)
{
    auto* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd_, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::ptrdiff_t>(done);
}

bool File::writeAll(const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        // A write that stores nothing on a regular file means there is no room.
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::int64_t File::size() const
{
    struct stat st
    {
    };
    if (::fstat(fd_, &st) != 0) {
        return -1;
    }
    return st.st_size;
}

bool File::sync()
{
    return ::fsync(fd_) == 0;
}

bool File::close()
{
    if (fd_ < 0) {
        return true;
    }
    // Linux releases the descriptor even when close() is interrupted.
    const int rc = ::close(std::exchange(fd_, -1));
    return rc == 0 || errno == EINTR;
}

StdioFile::~StdioFile()
{
    if (f_ != nullptr) {
        std::fclose(f_);
    }
}

StdioFile::StdioFile(StdioFile&& other) noexcept
    : f_(std::exchange(other.f_, nullptr))
{}

StdioFile& StdioFile::operator=(StdioFile&& other) noexcept
{
    if (this != &other) {
        if (f_ != nullptr) {
            std::fclose(f_);
        }
        f_ = std::exchange(other.f_, nullptr);
    }
    return *this;
}

bool StdioFile::open(const std::filesystem::path& path, const char* mode)
{
    close();
    f_ = std::fopen(path.c_str(), mode);
    return f_ != nullptr;
}

bool StdioFile::close()
{
    if (f_ == nullptr) {
        return true;
    }
    return std::fclose(std::exchange(f_, nullptr)) == 0;
}

}  // namespace vek::platform
