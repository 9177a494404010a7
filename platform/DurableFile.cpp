#include "platform/DurableFile.h"

#include "platform/Error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vek::platform {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& path, int code)
{
    throw Error(what + " " + path.string() + ": " + std::strerror(code), code);
}

class Fd
{
public:
    Fd(const fs::path& path, int flags, mode_t mode = 0)
        : fd_(open(path.c_str(), flags | O_CLOEXEC, mode))
    {
        if (fd_ < 0) {
            fail("Não foi possível abrir", path, errno);
        }
    }
    ~Fd() { close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

void writeAll(int fd, const char* data, std::size_t size, const fs::path& path)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail("Não foi possível gravar", path, n < 0 ? errno : EIO);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void syncFd(int fd, const fs::path& path)
{
    if (fsync(fd) != 0) {
        fail("Não foi possível gravar em disco", path, errno);
    }
}

fs::path hiddenTemporary(const fs::path& path)
{
    return path.parent_path() / ("." + path.filename().string() + ".tmp");
}

void copyDurably(const fs::path& from, const fs::path& to)
{
    const Fd in(from, O_RDONLY);
    const Fd out(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fail("Não foi possível ler", from, errno);
        }
        if (n == 0) {
            break;
        }
        writeAll(out.get(), buffer, static_cast<std::size_t>(n), to);
    }
    syncFd(out.get(), to);
}

}  // namespace

void syncPath(const fs::path& path)
{
    const Fd fd(path, O_RDONLY);
    syncFd(fd.get(), path);
}

void writeFileDurably(const fs::path& path, const std::string& content)
{
    const fs::path temporary = hiddenTemporary(path);
    {
        const Fd out(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        writeAll(out.get(), content.data(), content.size(), temporary);
        syncFd(out.get(), temporary);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        std::remove(temporary.c_str());
        fail("Não foi possível gravar", path, code);
    }
    syncPath(path.parent_path());
}

void moveDurably(const fs::path& from, const fs::path& to)
{
    // One atomic step that never replaces an existing target.
    int result = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {
        // A file system without that flag.
        std::error_code ec;
        if (fs::exists(to, ec)) {
            fail("Não foi possível mover para", to, EEXIST);
        }
        result = std::rename(from.c_str(), to.c_str());
    }
    if (result == 0) {
        syncPath(to.parent_path());
        syncPath(from.parent_path());
        return;
    }
    if (errno != EXDEV) {
        fail("Não foi possível mover para", to, errno);
    }
    const fs::path temporary = hiddenTemporary(to);
    copyDurably(from, temporary);
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        const int code = errno;
        std::remove(temporary.c_str());
        fail("Não foi possível mover para", to, code);
    }
    syncPath(to.parent_path());
    if (unlink(from.c_str()) != 0) {
        fail("Não foi possível remover", from, errno);
    }
    syncPath(from.parent_path());
}

}  // namespace vek::platform
