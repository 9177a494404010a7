#include "tests/fuzz/FuzzSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vek::fuzz {
namespace {

// No peer here is slower than this; only a hang gets near it.
constexpr int HangGuardMs = 20000;

std::filesystem::path makeScratchDir()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vek-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    std::filesystem::path dir(pattern);
    setenv("VEK_DIR", dir.c_str(), 1);
    setenv("TMPDIR", dir.c_str(), 1);
    static const std::filesystem::path removeAtExit = dir;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(removeAtExit, ec);
    });
    return dir;
}

}  // namespace

const std::filesystem::path& scratchDir()
{
    static const std::filesystem::path dir = makeScratchDir();
    return dir;
}

void emptyDir(const std::filesystem::path& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        std::filesystem::remove_all(entry.path(), ec);
    }
}

void writeFile(const std::filesystem::path& path, std::string_view content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

wire::Timeouts quickTimeouts()
{
    using std::chrono::milliseconds;
    wire::Timeouts t;
    t.streamTimeout = milliseconds(2000);
    t.waitForData = milliseconds(2000);
    t.connectPause = milliseconds(0);
    t.connectBudget = milliseconds(0);
    t.connectAttempt = milliseconds(2000);
    t.downloadTypesPause = milliseconds(0);
    t.listPause = milliseconds(0);
    t.downloadPause = milliseconds(0);
    t.ftpReply = milliseconds(2000);
    t.dataConnection = milliseconds(2000);
    t.dataInactivity = milliseconds(2000);
    t.afterDownload = milliseconds(0);
    t.afterDownloadExtra = milliseconds(0);
    t.maxUnconnectedAttempts = 1;
    return t;
}

std::pair<int, int> socketPair()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        std::perror("socketpair");
        std::abort();
    }
    return {fds[0], fds[1]};
}

int connectLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

ScriptedPeer::ScriptedPeer(int fd, std::vector<std::uint8_t> bytes)
    : fd_(fd)
    , bytes_(std::move(bytes))
    , thread_([this] { run(); })
{}

ScriptedPeer::~ScriptedPeer()
{
    thread_.join();
    ::close(fd_);
}

namespace {

// Says `bytes` as everything this end will say and then ends its side of the
// stream, meanwhile reading whatever the near end sends (handed to `heard`)
// until the near end closes, fails, or stays silent past the hang guard.
void sayThenListen(int fd, std::string_view bytes, const std::function<void(std::string_view)>& heard)
{
    std::size_t written = 0;
    bool writing = !bytes.empty();
    if (!writing) {
        ::shutdown(fd, SHUT_WR);
    }
    char buffer[16384];
    for (;;) {
        pollfd p{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
        const int ready = ::poll(&p, 1, HangGuardMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return;
        }
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                return;
            }
            if (n > 0 && heard) {
                heard(std::string_view(buffer, static_cast<std::size_t>(n)));
            }
        }
        if (writing && (p.revents & POLLOUT) != 0) {
            const ssize_t n = ::send(fd, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                writing = false;  // the near end is gone; read what is left
            } else if (n > 0) {
                written += static_cast<std::size_t>(n);
            }
            if (written == bytes.size()) {
                ::shutdown(fd, SHUT_WR);
                writing = false;
            }
        }
    }
}

}  // namespace

void ScriptedPeer::run()
{
    sayThenListen(fd_, std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size()), {});
}

namespace {

int listenLoopback()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        std::perror("ftp listener");
        std::abort();
    }
    return fd;
}

int ftpListener()
{
    static const int fd = listenLoopback();
    return fd;
}

// "PORT h1,h2,h3,h4,p1,p2" as the port to connect back to; 0 when unreadable.
std::uint16_t portOf(const std::string& line)
{
    unsigned v[6] = {};
    if (std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6 ||
        v[4] > 255 || v[5] > 255) {
        return 0;
    }
    return static_cast<std::uint16_t>(v[4] * 256 + v[5]);
}

void sendAll(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, HangGuardMs) <= 0) {
            return;
        }
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        }
    }
}

}  // namespace

ScriptedFtpServer::ScriptedFtpServer(std::string control, std::string data)
    : control_(std::move(control))
    , data_(std::move(data))
{
    (void)ftpListener();
    thread_ = std::thread([this] { run(); });
}

ScriptedFtpServer::~ScriptedFtpServer()
{
    stop_ = true;
    thread_.join();
}

std::uint16_t ScriptedFtpServer::port()
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(ftpListener(), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

void ScriptedFtpServer::run()
{
    // A connection the client made just before the end is still served, so
    // nobody waits for a greeting that never comes.
    for (;;) {
        pollfd p{ftpListener(), POLLIN, 0};
        if (::poll(&p, 1, 5) > 0) {
            const int fd = ::accept4(ftpListener(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                serve(fd);
                ::close(fd);
            }
        } else if (stop_) {
            return;
        }
    }
}

void ScriptedFtpServer::serve(int fd)
{
    std::string line;
    std::uint16_t dataPort = 0;
    bool dataSent = false;
    sayThenListen(fd, control_, [&](std::string_view heard) {
        for (const char c : heard) {
            if (c != '\n') {
                line += c;
                continue;
            }
            if (line.rfind("PORT ", 0) == 0) {
                dataPort = portOf(line);
            } else if (line.rfind("RETR ", 0) == 0 && !dataSent && dataPort != 0) {
                dataSent = true;
                const int data = connectLoopback(dataPort);
                if (data >= 0) {
                    sendAll(data, data_);
                    ::close(data);
                }
            }
            line.clear();
        }
    });
}

std::pair<std::string_view, std::string_view> splitAt(std::string_view input, std::string_view marker)
{
    const auto at = input.find(marker);
    if (at == std::string_view::npos) {
        return {input, {}};
    }
    return {input.substr(0, at), input.substr(at + marker.size())};
}

}  // namespace vek::fuzz
