#include "ftp/TZEBFileStream.h"

#include "platform/Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vek::ftp {

namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path, int err)
{
    throw Error(what + " " + path.string() + ": " + std::strerror(err), err);
}

}  // namespace

TZEBFileStream::TZEBFileStream(const std::filesystem::path& path)
    : path_(path)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        fail("Não foi possível criar o arquivo", path_, errno);
    }
}

TZEBFileStream::~TZEBFileStream()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void TZEBFileStream::write(std::span<const std::uint8_t> data)
{
    if (fd_ < 0) {
        throw Error("O arquivo " + path_.string() + " já foi fechado", EBADF);
    }
    std::size_t done = 0;
    // write() may store only part of a piece; the rest is written again, and
    // the call that cannot store anything more reports why.
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            position_ += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        fail("Erro ao gravar o arquivo", path_, n < 0 ? errno : ENOSPC);
    }
    if (OnWrite) {
        OnWrite(*this, static_cast<std::int64_t>(data.size()));
    }
}

void TZEBFileStream::close()
{
    if (fd_ < 0) {
        return;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        fail("Erro ao gravar o arquivo", path_, errno);
    }
}

}  // namespace vek::ftp
