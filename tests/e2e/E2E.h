#pragma once

#include "tests/fixtures/Process.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vek::test {

// A client base directory pointed at a zebd, and vek-cli runs inside it.
struct CliClient
{
    CliClient(const Sandbox& box, std::uint16_t port, const std::string& extraConfig = {})
        : dir(box.path().string())
    {
        writeFile(box.path() / "vek.INI",
                  "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" + std::to_string(port) + "\r\n" +
                      extraConfig);
    }

    ProcessResult run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) const
    {
        args.insert(args.begin(), binPath("vek-cli"));
        env["VEK_DIR"] = dir;
        if (env.count("VEK_SENHA") == 0) {
            env["VEK_SENHA"] = "demo";
        }
        return runProcess(args, env, {"TMPDIR"});
    }

    std::string dir;
};

// One upload zebd stored, as `zebd recebidos` lists it.
struct ReceivedUpload
{
    std::string protocolo;
    std::string nome;
    std::string caminho;
};

// Every upload stored in the server's data directory `dados`.
inline std::vector<ReceivedUpload> receivedUploads(const std::filesystem::path& dados)
{
    const auto r = runProcess({binPath("zebd"), "recebidos", "--dados", dados.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<ReceivedUpload> all;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);  // PROTOCOLO OPERADORA TIPO NOME TAMANHO CAMINHO
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream in(line);
        for (std::string cell; std::getline(in, cell, '\t');) {
            cells.push_back(cell);
        }
        if (cells.size() == 6) {
            all.push_back({cells[0], cells[3], cells[5]});
        }
    }
    return all;
}

// Protocol -> stored path of every upload in `dados`.
inline std::map<std::string, std::string> storedByProtocol(const std::filesystem::path& dados)
{
    std::map<std::string, std::string> all;
    for (const auto& u : receivedUploads(dados)) {
        all[u.protocolo] = u.caminho;
    }
    return all;
}

// The stored path of the upload whose receipt carries `protocolo`; empty when
// there is none.
inline std::string storedPath(const std::filesystem::path& dados, const std::string& protocolo)
{
    const auto all = storedByProtocol(dados);
    const auto it = all.find(protocolo);
    return it == all.end() ? std::string() : it->second;
}

// The protocol of the receipt vek-cli printed (its "Protocolo:" line).
inline std::string protocolPrinted(const std::string& out)
{
    std::smatch m;
    return std::regex_search(out, m, std::regex("Protocolo: ([^\n]*)\n")) ? m[1].str() : std::string();
}

// vek-cli running in the background, its output going to files.
class RunningCli
{
public:
    RunningCli(const CliClient& cli,
               const std::filesystem::path& logs,
               std::vector<std::string> args,
               const std::map<std::string, std::string>& env = {})
        : out_(logs / "saida.log")
        , err_(logs / "erros.log")
    {
        std::filesystem::create_directories(logs);
        args.insert(args.begin(), binPath("vek-cli"));
        pid_ = fork();
        if (pid_ == 0) {
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            setenv("VEK_DIR", cli.dir.c_str(), 1);
            setenv("VEK_SENHA", "demo", 1);
            for (const auto& [name, value] : env) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            std::vector<char*> argv;
            for (auto& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~RunningCli()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    RunningCli(const RunningCli&) = delete;
    RunningCli& operator=(const RunningCli&) = delete;

    [[nodiscard]] std::string out() const { return readFile(out_); }
    [[nodiscard]] std::string err() const { return readFile(err_); }
    // The lines written so far that name `name` in their third field.
    [[nodiscard]] std::size_t linesFor(const std::string& name) const
    {
        std::istringstream lines(out());
        std::string line;
        std::size_t n = 0;
        while (std::getline(lines, line)) {
            n += line.find("\t" + name + "\t") != std::string::npos ? 1 : 0;
        }
        return n;
    }
    // How many lines were written so far.
    [[nodiscard]] std::size_t lines() const
    {
        const std::string text = out();
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    bool waitForLine(const std::string& name) const
    {
        return waitFor([&] { return linesFor(name) > 0; }, std::chrono::seconds(120));
    }
    void signal(int sig) const { kill(pid_, sig); }
    // Whether it ended (without waiting).
    bool ended()
    {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return pid_ < 0;
    }
    // The exit code; a process that does not end within a generous guard is killed (-1).
    int wait()
    {
        if (!waitFor([&] { return ended(); }, std::chrono::seconds(120))) {
            return -1;
        }
        return exitCode_;
    }

private:
    std::filesystem::path out_;
    std::filesystem::path err_;
    pid_t pid_ = -1;
    int exitCode_ = -1;
};

}  // namespace vek::test
