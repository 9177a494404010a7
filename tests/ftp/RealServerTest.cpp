// The client against an FTP server that nobody here wrote: Debian's pyftpdlib,
// in active mode on 127.0.0.1.
#include "ftp/TZebFTP.h"
#include "platform/Error.h"
#include "tests/ftp/FtpTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vek::ftp {
namespace {

using namespace std::chrono_literals;
using test::Sandbox;

constexpr const char* Python = "/usr/bin/python3";
constexpr const char* User = "operadora";
constexpr const char* Secret = "segredo-123";

bool pyftpdlibAvailable()
{
    return std::system("/usr/bin/python3 -c 'import pyftpdlib' >/dev/null 2>&1") == 0;
}

// The server process, started on a free port and killed at the end of the scope.
class PyFtpServer
{
public:
    explicit PyFtpServer(const std::filesystem::path& root)
    {
        int out[2];
        if (::pipe(out) != 0) {
            throw std::runtime_error("pipe failed");
        }
        const std::string script = std::string(VEK_FTP_TEST_DIR) + "/pyftpd_server.py";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl(Python, Python, script.c_str(), root.c_str(), User, Secret, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // The first line is the port; give the interpreter a few seconds to start.
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
            char buf[64];
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            line.append(buf, static_cast<std::size_t>(n));
        }
        ::close(out[0]);
        if (!line.empty()) {
            port_ = std::stoi(line);
        }
    }
    ~PyFtpServer()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    PyFtpServer(const PyFtpServer&) = delete;
    PyFtpServer& operator=(const PyFtpServer&) = delete;

    [[nodiscard]] int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

class RealServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!pyftpdlibAvailable()) {
            GTEST_SKIP() << Python << " cannot import pyftpdlib";
        }
        std::filesystem::create_directories(served.path());
        server.emplace(served.path());
        ASSERT_GT(server->port(), 0) << "the FTP server did not start";
        ftp.Host = "127.0.0.1";
        ftp.Port = server->port();
        ftp.Username = User;
        ftp.Password = Secret;
        ftp.ReadTimeout = 6000;
        ftp.TransferType = ftBinary;
        ftp.ProxySettings.ProxyType = fpcmTransparent;
        ftp.reportarDownload = [this](std::int32_t p, const std::string&) {
            if (p >= 0) {
                percents.push_back(p);
            }
        };
    }

    Sandbox served{false};
    Sandbox local{false};
    std::optional<PyFtpServer> server;
    TZebFTP ftp;
    std::vector<std::int32_t> percents;
};

TEST_F(RealServer, LogsInAndRetrievesALargeFileByteForByte)
{
    const std::size_t size = 50 * 1024 * 1024;
    const std::string content = test::patternBytes(size);
    test::writeFile(served.path() / "grande.zeb", content);

    ftp.TamanhoEsperadoKB = static_cast<std::int32_t>(size / 1024);
    ftp.Connect();
    ASSERT_TRUE(ftp.connected());
    EXPECT_EQ(ftp.greeting().code, 220);
    // pyftpdlib lists these among its features.
    const auto& caps = ftp.capabilities();
    EXPECT_NE(std::find(caps.begin(), caps.end(), "SIZE"), caps.end());
    EXPECT_NE(std::find(caps.begin(), caps.end(), "MDTM"), caps.end());
    EXPECT_EQ(ftp.systemDescription().code, 215);

    const auto target = (local.path() / "grande.tmp").string();
    ftp.RetrieveFile("grande.zeb", target);
    EXPECT_EQ(ftp.lastReply().code, 226);
    const std::string got = test::readFile(target);
    ASSERT_EQ(got.size(), content.size());
    EXPECT_TRUE(got == content) << "the received bytes differ";
    // Rising from 10 to 80, in at most 71 steps.
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 80);
    ftp.Disconnect();
    EXPECT_FALSE(ftp.connected());
}

TEST_F(RealServer, MissingFileIsRefusedWith550AndTheSessionGoesOn)
{
    test::writeFile(served.path() / "pequeno.zeb", "conteúdo pequeno");
    ftp.Connect();
    try {
        ftp.RetrieveFile("inexistente.zeb", (local.path() / "x.tmp").string());
        FAIL() << "a missing file was retrieved";
    } catch (const FtpReplyError& e) {
        EXPECT_EQ(e.reply().code, 550);
    }
    // The control connection is still in step: the next file comes.
    ftp.RetrieveFile("pequeno.zeb", (local.path() / "pequeno.tmp").string());
    EXPECT_EQ(test::readFile((local.path() / "pequeno.tmp").string()), "conteúdo pequeno");
    // The end-of-file notice takes any answer.
    EXPECT_EQ(ftp.SendCommand("RETR ENDFILEAAAA"), 550);
    ftp.Disconnect();
}

TEST_F(RealServer, WrongPasswordFailsTheConnection)
{
    ftp.Password = "errada";
    try {
        ftp.Connect();
        FAIL() << "logged in with a wrong password";
    } catch (const FtpReplyError& e) {
        EXPECT_EQ(e.reply().code, 530);
    }
    EXPECT_FALSE(ftp.connected());
}

}  // namespace
}  // namespace vek::ftp
