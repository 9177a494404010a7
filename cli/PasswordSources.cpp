#include "cli/CliContext.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vek::cli {
namespace {

namespace fs = std::filesystem;

std::string modeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The first line of an open file, without its line end.
std::string firstLine(int fd, const fs::path& path)
{
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw UsageError("não foi possível ler o arquivo de senha " + path.string() + ": " + std::strerror(errno));
        }
        content.append(buffer, static_cast<std::size_t>(n));
        if (n == 0 || content.find('\n') != std::string::npos) {
            break;
        }
    }
    content = content.substr(0, content.find('\n'));
    if (!content.empty() && content.back() == '\r') {
        content.pop_back();
    }
    return content;
}

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : fd_(fd)
    {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string readPasswordFile(const fs::path& path, bool privateOnly)
{
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        throw UsageError("não foi possível abrir o arquivo de senha " + path.string() + ": " + std::strerror(errno));
    }
    struct stat st
    {
    };
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw UsageError("o arquivo de senha " + path.string() + " não é um arquivo comum");
    }
    if (privateOnly) {
        // As for a private key: nobody but its owner may read it.
        if ((st.st_mode & 077) != 0) {
            throw UsageError("o arquivo de senha " + path.string() + " pode ser lido por outros usuários (permissões " +
                             modeText(st.st_mode) + "); restrinja-o ao dono: chmod 600 " + path.string());
        }
        if (st.st_uid != geteuid() && st.st_uid != 0) {
            throw UsageError("o arquivo de senha " + path.string() + " pertence a outro usuário");
        }
    }
    return firstLine(fd.get(), path);
}

std::string readCurrentPassword(const ParsedArgs& args, const char* prompt)
{
    if (const auto file = args.get("senha-arquivo")) {
        return readPasswordFile(*file, true);
    }
    // A systemd unit's LoadCredential=/LoadCredentialEncrypted=.
    if (const char* dir = std::getenv("CREDENTIALS_DIRECTORY"); dir != nullptr && *dir != '\0') {
        const fs::path credential = fs::path(dir) / "vek-senha";
        std::error_code ec;
        if (fs::exists(credential, ec)) {
            return readPasswordFile(credential, false);
        }
    }
    return readPassword("VEK_SENHA", prompt);
}

}  // namespace vek::cli
