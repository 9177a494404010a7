#include "platform/Socket.h"

#include "platform/Error.h"
#include "platform/SystemText.h"
#include "platform/UiServices.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vek::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto PumpSlice = 50ms;
constexpr auto SpinBeforeWait = std::chrono::microseconds(50);

[[noreturn]] void throwErrno(const std::string& what, int err)
{
    throw Error(what + ": " + systemText(err), err);
}

// poll() on one descriptor, in slices when the event pump is on. Returns the
// revents, or 0 on time-out.
short pollFor(int fd, short events, std::chrono::milliseconds timeout, bool pump)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) {
            left = 0ms;
        }
        auto slice = pump ? std::min(left, std::chrono::milliseconds(PumpSlice)) : left;
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(slice.count()));
        if (rc > 0) {
            return p.revents;
        }
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno("Falha ao aguardar o socket", errno);
        }
        if (pump) {
            ui().processEvents();
        }
        if (Clock::now() >= deadline) {
            return 0;
        }
    }
}

// What is left until `deadline`, at least 1 ms while it has not passed, 0
// once it has.
std::chrono::milliseconds timeLeft(Clock::time_point deadline)
{
    const auto now = Clock::now();
    if (now >= deadline) {
        return 0ms;
    }
    return std::max(1ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
}

std::string addressText(const sockaddr_in& a)
{
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return buf;
}

}  // namespace

TcpSocket::TcpSocket(int fd)
    : fd_(fd)
{}

TcpSocket::~TcpSocket()
{
    close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(other.fd_)
    , pump_(other.pump_)
{
    other.fd_ = -1;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        pump_ = other.pump_;
        other.fd_ = -1;
    }
    return *this;
}

void TcpSocket::close() noexcept
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpSocket::connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds connectTimeout)
{
    close();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        const int err = rc == EAI_SYSTEM ? errno : 0;
        throw Error("Não foi possível resolver o endereço " + host + ": " + resolverText(rc, err), err);
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(found, &::freeaddrinfo);

    int lastErr = ECONNREFUSED;
    for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            lastErr = errno;
            continue;
        }
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc < 0 && errno == EINPROGRESS) {
            short revents = 0;
            try {
                revents = pollFor(fd, POLLOUT, connectTimeout, pump_);
            } catch (...) {
                ::close(fd);
                throw;
            }
            if (revents == 0) {
                ::close(fd);
                lastErr = ETIMEDOUT;
                continue;
            }
            int soErr = 0;
            socklen_t len = sizeof soErr;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len);
            if (soErr != 0) {
                ::close(fd);
                lastErr = soErr;
                continue;
            }
            rc = 0;
        }
        if (rc < 0) {
            lastErr = errno;
            ::close(fd);
            continue;
        }
        // Blocking from here on; every wait goes through poll() with its own limit.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        fd_ = fd;
        setNoDelay(true);
        return;
    }
    throwErrno("Não foi possível conectar a " + host + ":" + service, lastErr);
}

void TcpSocket::setNoDelay(bool on)
{
    if (fd_ >= 0) {
        const int flag = on ? 1 : 0;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &flag, sizeof flag);
    }
}

bool TcpSocket::spinBeforeWait()
{
    const auto until = Clock::now() + SpinBeforeWait;
    while (Clock::now() < until) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
            return true;
        }
    }
    return false;
}

TcpSocket::Wait TcpSocket::waitFor(short events, std::chrono::milliseconds timeout)
{
    return pollFor(fd_, events, timeout, pump_) == 0 ? Wait::TimedOut : Wait::Ready;
}

void TcpSocket::writeAll(std::span<const std::uint8_t> data, std::chrono::milliseconds timeout)
{
    if (fd_ < 0) {
        throw Error("Socket não conectado", ENOTCONN);
    }
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto left = timeLeft(deadline);
            if (left.count() == 0 || waitFor(POLLOUT, left) == Wait::TimedOut) {
                throw Error("Tempo esgotado ao escrever no socket", ETIMEDOUT);
            }
            continue;
        }
        throwErrno("Erro ao escrever no socket", errno);
    }
}

std::size_t TcpSocket::writeSome(std::span<const std::uint8_t> data)
{
    if (fd_ < 0) {
        throw Error("Socket não conectado", ENOTCONN);
    }
    for (;;) {
        const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        throwErrno("Erro ao escrever no socket", errno);
    }
}

TcpSocket::Readiness TcpSocket::waitReadableOrWritable(std::chrono::milliseconds timeout)
{
    if (fd_ < 0) {
        throw Error("Socket não conectado", ENOTCONN);
    }
    const short revents = pollFor(fd_, POLLIN | POLLOUT, timeout, pump_);
    // An error or a hang-up shows at the next read or write.
    const bool broken = (revents & (POLLERR | POLLHUP)) != 0;
    return {broken || (revents & POLLIN) != 0, broken || (revents & POLLOUT) != 0};
}

bool TcpSocket::readableNow() const
{
    pollfd p{fd_, POLLIN, 0};
    return fd_ >= 0 && ::poll(&p, 1, 0) > 0;
}

std::size_t TcpSocket::readSome(std::span<std::uint8_t> data, std::chrono::milliseconds timeout)
{
    if (fd_ < 0) {
        throw Error("Socket não conectado", ENOTCONN);
    }
    for (;;) {
        const ssize_t n = ::recv(fd_, data.data(), data.size(), MSG_DONTWAIT);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A reply on loopback or a LAN usually comes within microseconds:
            // a short spin spares the thread a sleep and a wake-up per message.
            if (spinBeforeWait()) {
                continue;
            }
            if (waitFor(POLLIN, timeout) == Wait::TimedOut) {
                throw Error("Tempo esgotado ao ler do socket", ETIMEDOUT);
            }
            continue;
        }
        throwErrno("Erro ao ler do socket", errno);
    }
}

void TcpSocket::readExact(std::span<std::uint8_t> data, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < data.size()) {
        const auto left = timeLeft(deadline);
        if (left.count() == 0) {
            throw Error("Tempo esgotado ao ler do socket", ETIMEDOUT);
        }
        const std::size_t n = readSome(data.subspan(done), left);
        if (n == 0) {
            throw Error("Erro de leitura: a conexão foi encerrada pelo outro lado", 0);
        }
        done += n;
    }
}

bool TcpSocket::waitReadable(std::chrono::milliseconds timeout)
{
    if (fd_ < 0) {
        throw Error("Socket não conectado", ENOTCONN);
    }
    return spinBeforeWait() || waitFor(POLLIN, timeout) == Wait::Ready;
}

std::string TcpSocket::peerAddress() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return {};
    }
    return addressText(a);
}

std::uint16_t TcpSocket::peerPort() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

std::string TcpSocket::localAddress() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return {};
    }
    return addressText(a);
}

std::uint16_t TcpSocket::localPort() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

TcpListener::~TcpListener()
{
    close();
}

TcpListener::TcpListener(TcpListener&& other) noexcept
    : fd_(other.fd_)
    , pump_(other.pump_)
{
    other.fd_ = -1;
}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        pump_ = other.pump_;
        other.fd_ = -1;
    }
    return *this;
}

void TcpListener::close() noexcept
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpListener::listen(const std::string& address, std::uint16_t port, int backlog)
{
    close();
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        throw Error("Endereço IPv4 inválido: " + address, EINVAL);
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throwErrno("Não foi possível criar o socket", errno);
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int err = errno;
        ::close(fd);
        throw Error("Não foi possível usar a porta " + std::to_string(port) + " em " + address + ": " + systemText(err),
                    err,
                    portText(err, port));
    }
    if (::listen(fd, backlog) != 0) {
        const int err = errno;
        ::close(fd);
        throwErrno("Não foi possível escutar na porta " + std::to_string(port), err);
    }
    fd_ = fd;
}

TcpSocket TcpListener::accept(std::chrono::milliseconds timeout)
{
    if (fd_ < 0) {
        throw Error("Socket de escuta fechado", EBADF);
    }
    if (pollFor(fd_, POLLIN, timeout, pump_) == 0) {
        return TcpSocket();
    }
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) {
            return TcpSocket();
        }
        throwErrno("Erro ao aceitar conexão", errno);
    }
    TcpSocket s(fd);
    s.setNoDelay(true);
    return s;
}

std::string TcpListener::localAddress() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return {};
    }
    return addressText(a);
}

std::uint16_t TcpListener::localPort() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

}  // namespace vek::platform
