#include "server/DataFiles.h"

#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vek::server {

bool writeNewPrivateFile(const std::filesystem::path& file, const std::string& content)
{
    const std::filesystem::path temp = file.string() + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw Error("Não foi possível criar " + temp.string(), errno);
    }
    const char* p = content.data();
    std::size_t left = content.size();
    int err = 0;
    while (left > 0 && err == 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno != EINTR) {
                err = errno;
            }
            continue;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    ::close(fd);
    // link() fails when the name exists, so a file another process wrote first stays.
    if (err == 0 && ::link(temp.c_str(), file.c_str()) != 0) {
        err = errno;
    }
    ::unlink(temp.c_str());
    if (err == EEXIST) {
        return false;
    }
    if (err != 0) {
        throw Error("Não foi possível gravar " + file.string(), err);
    }
    syncDirectory(file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path());
    return true;
}

std::string readWholeFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw Error("Não foi possível ler " + file.string(), errno);
    }
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void syncDirectory(const std::filesystem::path& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw Error("Não foi possível abrir o diretório " + dir.string(), errno);
    }
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0) {
        throw Error("Não foi possível gravar o diretório " + dir.string(), err);
    }
}

}  // namespace vek::server
