// A whole zebd session fed as a byte stream: a client connects over
// loopback, says the input and ends its side, and reads until zebd closes.
// With the first input byte odd the stream goes to the FTP face instead of
// the message server. zebd runs in this process on a demo store whose RSA key
// is the one the seed corpus was recorded with, so recorded uploads unwrap.

#include "platform/Error.h"
#include "server/Store.h"
#include "server/ZebServer.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vek;

namespace {

constexpr const char* Operator = "123456";
constexpr const char* Password = "demo";

server::ZebServer& zebd()
{
    static server::ZebServer* const instance = [] {
        const auto dir = fuzz::scratchDir() / "zeb-dados";
        std::filesystem::create_directories(dir);
        std::error_code ec;
        std::filesystem::copy_file(VEK_FUZZ_DIR "/chave-rsa.sexp", dir / server::KeyFileName, ec);
        server::ServerConfig config;
        config.dataDir = dir;
        config.messagePort = 0;
        config.ftpPort = 0;
        config.demo = true;
        config.rsaBits = 1024;
        config.timeouts = fuzz::quickTimeouts();
        config.idleTimeout = std::chrono::milliseconds(2000);
        config.ftpDataConnect = std::chrono::milliseconds(2000);
        config.maxUploadSize = 1024 * 1024;
        config.maxExpandedSize = 1024 * 1024;
        auto* server = new server::ZebServer;
        server->start(config);
        return server;
    }();
    return *instance;
}

// The demo operator with a cheap password hash, back to its password if an
// input changed it.
void resetOperator()
{
    if (!zebd().store().checkOperator(Operator, Password)) {
        zebd().store().setOperator(Operator, Password, 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    zebd().store().setOperator(Operator, Password, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    resetOperator();
    const auto ports = zebd().ports();
    const int fd = fuzz::connectLoopback((data[0] & 1) != 0 ? ports.ftp : ports.mensagens);
    if (fd < 0) {
        std::perror("connect to zebd");
        std::abort();
    }
    std::size_t written = 0;
    bool writing = size > 1;
    if (!writing) {
        ::shutdown(fd, SHUT_WR);
    }
    char sink[16384];
    for (;;) {
        pollfd p{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
        // A zebd that never closes is a hang for libFuzzer's -timeout to report.
        if (::poll(&p, 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("poll");
            std::abort();
        }
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
            if (n <= 0) {
                break;
            }
        }
        if (writing && (p.revents & POLLOUT) != 0) {
            const ssize_t n = ::send(fd, data + 1 + written, size - 1 - written, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                writing = false;
            } else if (written == size - 1) {
                ::shutdown(fd, SHUT_WR);
                writing = false;
            }
        }
    }
    ::close(fd);
    return 0;
}
