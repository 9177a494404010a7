#include "server/PasswordPrompt.h"

#include "platform/Error.h"

#include <cerrno>
#include <csignal>
#include <ostream>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace vek::server {
namespace {

// Echo off (the line break still shows) for one scope.
class NoEcho
{
public:
    explicit NoEcho(int fd)
        : fd_(fd)
    {
        if (::tcgetattr(fd_, &saved_) != 0) {
            throw Error("Não foi possível ler as configurações do terminal", errno);
        }
        termios quiet = saved_;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL | ICANON;
        if (::tcsetattr(fd_, TCSAFLUSH, &quiet) != 0) {
            throw Error("Não foi possível desligar o eco do terminal", errno);
        }
    }
    ~NoEcho() { ::tcsetattr(fd_, TCSANOW, &saved_); }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    int fd_;
    termios saved_{};
};

// SIGINT and SIGTERM as a descriptor: the caller keeps them blocked, so an
// interrupted prompt ends through here and the terminal gets its echo back.
class StopSignals
{
public:
    StopSignals()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~StopSignals()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    [[nodiscard]] int fd() const { return fd_; }

private:
    int fd_ = -1;
};

std::string readLine(int fd, const StopSignals& stop)
{
    std::string line;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        const int n = ::poll(fds, stop.fd() >= 0 ? 2 : 1, -1);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error("Não foi possível ler a senha do terminal", errno);
        }
        if (stop.fd() >= 0 && (fds[1].revents & POLLIN) != 0) {
            throw Error("Interrompido; nada foi alterado.");
        }
        char buf[256];
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            throw Error("Não foi possível ler a senha do terminal", errno);
        }
        if (got == 0) {
            throw Error("A entrada terminou antes da senha; nada foi alterado.");
        }
        line.append(buf, static_cast<std::size_t>(got));
        if (const auto nl = line.find('\n'); nl != std::string::npos) {
            line.resize(nl);
            return line;
        }
    }
}

}  // namespace

std::string askNewPassword(int fd, std::ostream& prompts, const std::string& registro)
{
    const StopSignals stop;
    const NoEcho quiet(fd);
    prompts << "Senha da operadora " << registro << ": " << std::flush;
    const std::string first = readLine(fd, stop);
    prompts << "Repita a senha: " << std::flush;
    const std::string second = readLine(fd, stop);
    if (first != second) {
        throw Error("As senhas digitadas não conferem; nada foi alterado.");
    }
    return first;
}

}  // namespace vek::server
