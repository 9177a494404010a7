#include "tests/ftp/FakeFtpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vek::ftp::test {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto Slice = 10ms;
// How long the server waits for a client that goes quiet before it gives up.
constexpr auto IdleLimit = 30s;

void sendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

FakeFtpServer::FakeFtpServer(FtpScript script)
    : script_(std::move(script))
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        throw std::runtime_error("fake FTP server: cannot listen");
    }
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
}

FakeFtpServer::~FakeFtpServer()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
}

std::vector<std::string> FakeFtpServer::finish()
{
    if (thread_.joinable()) {
        // The thread ends by itself once the client closes; after the deadline it is told to.
        const auto deadline = Clock::now() + 5s;
        while (Clock::now() < deadline && !finished_) {
            std::this_thread::sleep_for(Slice);
        }
        stop_ = true;
        thread_.join();
    }
    return commands();
}

std::vector<std::string> FakeFtpServer::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<std::string> FakeFtpServer::problems() const
{
    std::lock_guard lock(mutex_);
    return problems_;
}

void FakeFtpServer::problem(const std::string& what)
{
    std::lock_guard lock(mutex_);
    problems_.push_back(what);
}

void FakeFtpServer::sleepFor(std::chrono::milliseconds d)
{
    const auto deadline = Clock::now() + d;
    while (!stop_ && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(Slice, deadline - Clock::now()));
    }
}

// One line from the client, without its line end. False when the client
// closed, the server is stopping, or nothing came for IdleLimit.
bool FakeFtpServer::readLine(int fd, std::string& line)
{
    const auto deadline = Clock::now() + IdleLimit;
    for (;;) {
        if (const auto pos = inBuffer_.find('\n'); pos != std::string::npos) {
            line = inBuffer_.substr(0, pos);
            inBuffer_.erase(0, pos + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        if (stop_ || Clock::now() > deadline) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(Slice.count())) <= 0) {
            continue;
        }
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            return false;
        }
        inBuffer_.append(buf, static_cast<std::size_t>(n));
    }
}

int FakeFtpServer::connectToPort()
{
    std::string port;
    {
        std::lock_guard lock(mutex_);
        for (auto it = commands_.rbegin(); it != commands_.rend(); ++it) {
            if (it->rfind("PORT ", 0) == 0) {
                port = it->substr(5);
                break;
            }
        }
    }
    unsigned h1 = 0, h2 = 0, h3 = 0, h4 = 0, p1 = 0, p2 = 0;
    if (std::sscanf(port.c_str(), "%u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6) {
        problem("no PORT address to connect to: '" + port + "'");
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(p1 * 256 + p2));
    a.sin_addr.s_addr = htonl((h1 << 24) | (h2 << 16) | (h3 << 8) | h4);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        problem("cannot connect to the data port " + port);
        ::close(fd);
        return -1;
    }
    return fd;
}

void FakeFtpServer::run()
{
    int fd = -1;
    while (!stop_ && fd < 0) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(Slice.count())) > 0) {
            fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
    for (const FtpStep& step : script_) {
        if (stop_ || fd < 0) {
            break;
        }
        switch (step.kind) {
        case FtpStep::Kind::Command: {
            std::string line;
            if (!readLine(fd, line)) {
                problem("expected " + step.text + ", the client sent nothing more");
                stop_ = true;
                break;
            }
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
            }
            if (line.rfind(step.text, 0) != 0) {
                problem("expected " + step.text + ", got " + line);
            }
            break;
        }
        case FtpStep::Kind::Reply:
            sendAll(fd, step.text);
            break;
        case FtpStep::Kind::Pause:
            sleepFor(step.delay);
            break;
        case FtpStep::Kind::SendData: {
            const int data = connectToPort();
            if (data < 0) {
                break;
            }
            std::size_t offset = 0;
            for (std::size_t i = 0; i < step.pieces.size() && !stop_; ++i) {
                if (i > 0) {
                    sleepFor(step.delay);
                }
                sendAll(data, step.data.substr(offset, step.pieces[i]));
                offset += step.pieces[i];
            }
            ::shutdown(data, SHUT_WR);
            // Wait for the client to close its side, so a close here never resets unread data.
            pollfd p{data, POLLIN, 0};
            ::poll(&p, 1, 5000);
            ::close(data);
            break;
        }
        case FtpStep::Kind::HoldData: {
            const int data = connectToPort();
            if (data < 0) {
                break;
            }
            sendAll(data, step.data);
            char buf[256];
            while (!stop_) {
                pollfd p{data, POLLIN, 0};
                if (::poll(&p, 1, static_cast<int>(Slice.count())) > 0 && ::recv(data, buf, sizeof buf, 0) <= 0) {
                    break;
                }
            }
            ::close(data);
            break;
        }
        case FtpStep::Kind::Connect: {
            const int data = connectToPort();
            if (data >= 0) {
                extraFds_.push_back(data);
            }
            break;
        }
        case FtpStep::Kind::Close:
            ::close(fd);
            fd = -1;
            break;
        }
    }
    // Record whatever else the client sends until it closes.
    std::string line;
    while (fd >= 0 && readLine(fd, line)) {
        std::lock_guard lock(mutex_);
        commands_.push_back(line);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    for (int extra : extraFds_) {
        ::close(extra);
    }
    finished_ = true;
}

}  // namespace vek::ftp::test
