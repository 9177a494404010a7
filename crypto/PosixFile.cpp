#include "crypto/PosixFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vek::crypto {

PosixFile::~PosixFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

PosixFile::PosixFile(PosixFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
{}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool PosixFile::openRead(const std::string& path)
{
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
}

bool PosixFile::create(const std::string& path)
{
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0;
}

std::ptrdiff_t PosixFile::readFull(void* data, std::size_t size)
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

bool PosixFile::writeAll(const void* data, std::size_t size)
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
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::int64_t PosixFile::size() const
{
    struct stat st
    {
    };
    if (::fstat(fd_, &st) != 0) {
        return -1;
    }
    return st.st_size;
}

bool PosixFile::close()
{
    if (fd_ < 0) {
        return true;
    }
    const int rc = ::close(std::exchange(fd_, -1));
    return rc == 0 || errno == EINTR;
}

}  // namespace vek::crypto
