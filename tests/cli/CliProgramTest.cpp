// The vek-cli program itself: what it takes from its surroundings (whether
// standard error is a terminal, the locale of the environment).

#include "dataset/DataPacket.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "tests/cli/CliScripts.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace vek::test {
namespace {

using namespace std::chrono_literals;

// Only against a hang: every run here talks to a scripted local server.
constexpr auto HangGuard = 120s;

struct ProgramRun
{
    int code = -1;
    std::string out;
    std::string err;
};

// Runs build/bin/vek-cli with `env` over the test's environment. With
// `terminalColumns`, standard error is a pseudo-terminal that wide, and `err`
// holds the bytes exactly as the program wrote them (no output processing);
// otherwise standard error is a pipe. Standard input is /dev/null.
ProgramRun runVekCli(const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env,
                     std::optional<unsigned short> terminalColumns = std::nullopt)
{
    std::map<std::string, std::string> all;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        all[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    for (const auto& [k, v] : env) {
        all[k] = v;
    }
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : all) {
        envStrings.push_back(k + "=" + v);
    }
    std::vector<char*> envp;
    for (auto& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argvStrings{std::string(VEK_BIN_DIR) + "/vek-cli"};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (terminalColumns) {
        termios raw{};
        cfmakeraw(&raw);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = *terminalColumns;
        if (openpty(&err[0], &err[1], nullptr, &raw, &size) != 0) {
            throw std::runtime_error("openpty failed");
        }
        fcntl(err[0], F_SETFD, FD_CLOEXEC);
        fcntl(err[1], F_SETFD, FD_CLOEXEC);
    } else if (pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);

    ProgramRun r;
    const auto deadline = std::chrono::steady_clock::now() + HangGuard;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    char buf[65536];
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 200) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    // A terminal's master reads EIO once the program has closed its side.
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (const auto& p : fds) {
        if (p.fd >= 0) {
            close(p.fd);
        }
    }
    if (open > 0) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (open > 0) {
        ADD_FAILURE() << "vek-cli did not end: " << r.err;
    }
    return r;
}

TEST(VekCliProgram, LineBreaksOfAMessageAreNewLinesOnlyWhenStandardErrorIsATerminal)
{
    Sandbox box(false);
    const std::string reason = "linha 1\n\rlinha 2\rlinha 3\r\nlinha 4";
    FakeZebServer server({{FakeStep::expect(wire::CMD_ALTERAR_SENHA), FakeStep::reply(wire::CMD_NEGADO, reason)},
                          {FakeStep::expect(wire::CMD_ALTERAR_SENHA), FakeStep::reply(wire::CMD_NEGADO, reason)}});
    writeClientConfig(box.path().string(), server.port());
    const std::map<std::string, std::string> env{
        {"VEK_DIR", box.path().string()}, {"VEK_SENHA", "atual"}, {"VEK_NOVA_SENHA", "nova"}};

    const ProgramRun piped = runVekCli({"alterar-senha", "--registro", "123456"}, env);
    EXPECT_EQ(piped.code, 1);
    EXPECT_EQ(piped.err, "VEK: " + reason + "\n");

    const ProgramRun shown = runVekCli({"alterar-senha", "--registro", "123456"}, env, 80);
    EXPECT_EQ(shown.code, 1);
    EXPECT_EQ(shown.err, "VEK: linha 1\nlinha 2\nlinha 3\nlinha 4\n");
}

// A directory holding a generated pt_BR.UTF-8 locale when the system has
// none (empty path when it has one); nullopt when it can be neither found
// nor generated.
std::optional<std::filesystem::path> commaLocale(const Sandbox& box)
{
    if (locale_t l = newlocale(LC_ALL_MASK, "pt_BR.UTF-8", nullptr)) {
        freelocale(l);
        return std::filesystem::path();
    }
    const auto dir = box.path() / "locales";
    std::filesystem::create_directories(dir);
    const std::string command = "localedef -i pt_BR -f UTF-8 '" + (dir / "pt_BR.UTF-8").string() + "' >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(command.c_str());
    // localedef may end with 1 over mere warnings; what counts is the result.
    if (!std::filesystem::exists(dir / "pt_BR.UTF-8" / "LC_NUMERIC")) {
        return std::nullopt;
    }
    return dir;
}

// What the sheet of a workbook holds, as XML.
std::string sheetXml(const std::filesystem::path& xlsx)
{
    const std::string command = "/usr/bin/python3 -c 'import sys, zipfile; "
                                "sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(\"xl/worksheets/sheet1.xml\")"
                                ".decode())' '" +
                                xlsx.string() + "'";
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return {};
    }
    std::string xml;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) {
        xml.append(buf, n);
    }
    pclose(p);
    return xml;
}

// vek-cli takes its locale from the environment, as the window does: the
// progress texts use the locale's decimal separator, while the tables and
// the spreadsheet keep the form that scripts and spreadsheet programs read.
TEST(VekCliProgram, ProgressTextsFollowTheEnvironmentLocaleAndFilesDoNot)
{
    Sandbox locales(false);
    const auto commaDir = commaLocale(locales);
    if (!commaDir) {
        GTEST_SKIP() << "no pt_BR.UTF-8 locale on this machine, and localedef could not make one from "
                        "/usr/share/i18n/locales/pt_BR";
    }
    struct Case
    {
        const char* locale;
        char separator;
    };
    const std::array cases{Case{"C.UTF-8", '.'}, Case{"pt_BR.UTF-8", ','}};

    const auto listRows = sampleListRows("retorno.xml", "Retorno");
    const auto historyRows = sampleHistoryRows("20261201T12:00:00000");
    Sandbox packets(false);
    const std::string listGz =
        gzippedPacket(packets, "lista", dataset::writeDataPacket(dataset::ListTable::definition(), listRows));
    const std::string histGz =
        gzippedPacket(packets, "historico", dataset::writeDataPacket(dataset::HistoryTable::definition(), historyRows));

    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        Sandbox box(false);
        FakeZebServer server({acceptedUpload(),
                              listScript(wire::CMD_PEDIDO_LISTA, listGz, "lista.xml", true),
                              listScript(wire::CMD_PEDIDO_HISTORICO, histGz, "lista.xml", false)});
        writeClientConfig(box.path().string(), server.port());
        std::map<std::string, std::string> env{{"VEK_DIR", box.path().string()}, {"VEK_SENHA", "demo"}};
        env["LC_ALL"] = c.locale;
        if (!commaDir->empty()) {
            env["LOCPATH"] = commaDir->string();
        }

        // Data that does not compress: a few blocks, each reported with its percentage.
        std::string data;
        std::uint32_t x = 0x2545F491u;
        for (int i = 0; i < 8 * 1280; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            data += static_cast<char>(x & 0xFF);
        }
        const auto file = box.write("dados.bin", data);
        const ProgramRun upload = runVekCli({"enviar", "--registro", "123456", file.string()}, env, 200);
        EXPECT_EQ(upload.code, 0) << upload.err;
        const std::regex percent("Enviando dados do arquivo: [0-9]+([.,])[0-9][0-9]% concluído\\.");
        std::size_t reports = 0;
        for (auto it = std::sregex_iterator(upload.err.begin(), upload.err.end(), percent);
             it != std::sregex_iterator();
             ++it) {
            ++reports;
            EXPECT_EQ((*it)[1].str(), std::string(1, c.separator)) << it->str();
        }
        EXPECT_GT(reports, 0U) << upload.err;

        const ProgramRun list = runVekCli({"listar", "--registro", "123456", "--tipo", "RET"}, env);
        EXPECT_EQ(list.code, 0) << list.err;
        EXPECT_NE(list.out.find("\nretorno.xml\tRetorno\t2.5\tKBytes\t"), std::string::npos) << list.out;

        const auto xlsx = box.path() / "historico.xlsx";
        const ProgramRun history = runVekCli({"historico",
                                              "--registro",
                                              "123456",
                                              "--inicio",
                                              "01/12/2026",
                                              "--fim",
                                              "09/12/2026",
                                              "--xlsx",
                                              xlsx.string()},
                                             env);
        EXPECT_EQ(history.code, 0) << history.err;
        const std::string sheet = sheetXml(xlsx);
        // 01/12/2026 12:00 as the spreadsheet's serial day number.
        EXPECT_NE(sheet.find("<v>46357.5</v>"), std::string::npos) << sheet;
        EXPECT_FALSE(std::regex_search(sheet, std::regex("(<v>|width=\")[0-9]+,"))) << sheet;
        EXPECT_TRUE(server.errors().empty()) << server.errors().front();
    }
}

// The progress line never wraps: a wrapped line would leave its first part
// behind at every drawing.
TEST(VekCliProgram, TheProgressLineFitsTheTerminal)
{
    Sandbox box(false);
    FakeZebServer server({acceptedUpload()});
    writeClientConfig(box.path().string(), server.port());
    const auto file = box.write("dados.xml", std::string(3 * 1280, 'x'));
    const ProgramRun r = runVekCli({"enviar", "--registro", "123456", file.string()},
                                   {{"VEK_DIR", box.path().string()}, {"VEK_SENHA", "demo"}},
                                   60);
    EXPECT_EQ(r.code, 0) << r.err;
    std::size_t drawings = 0;
    for (std::size_t at = r.err.find("\r\033[K"); at != std::string::npos; at = r.err.find("\r\033[K", at + 1)) {
        ++drawings;
        const std::size_t start = at + 4;
        const std::size_t end = std::min(r.err.find("\r\033[K", start), r.err.find('\n', start));
        std::size_t characters = 0;
        for (std::size_t i = start; i < std::min(end, r.err.size()); ++i) {
            characters += (static_cast<unsigned char>(r.err[i]) & 0xC0) != 0x80 ? 1 : 0;
        }
        EXPECT_LE(characters, 59U) << r.err.substr(start, end - start);
    }
    EXPECT_GT(drawings, 0U) << r.err;
}

}  // namespace
}  // namespace vek::test
