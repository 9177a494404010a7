// zebd's administration as a program: who owns what the commands create, a
// store the server cannot write, the password asked on a terminal.

#include "server/Store.h"
#include "server/StoreAccess.h"
#include "server/ZebServer.h"
#include "tests/fixtures/Process.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace vek::test {
namespace {

using namespace std::chrono_literals;

constexpr uid_t Nobody = 65534;

// A folder under /tmp that every user may reach (a private TMPDIR may not
// be), removed with what it holds.
class SharedDir
{
public:
    SharedDir()
    {
        std::string pattern = "/tmp/vek-adm-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
        std::filesystem::permissions(path_, std::filesystem::perms(0755));
    }
    ~SharedDir()
    {
        // A folder a case made read-only must not keep its files.
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator();
             it.increment(ignored)) {
            if (it->is_directory(ignored)) {
                std::filesystem::permissions(
                    it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::remove_all(path_, ignored);
    }
    SharedDir(const SharedDir&) = delete;
    SharedDir& operator=(const SharedDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// zebd with `args`, as the user 65534 when the test runs as root (as this
// user otherwise); a generous guard ends a server that should have refused
// to start.
ProcessResult zebdAsOrdinaryUser(const std::vector<std::string>& args, const std::map<std::string, std::string>& env)
{
    std::vector<std::string> argv;
    if (geteuid() == 0) {
        argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    argv.push_back(binPath("zebd"));
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcessGroup(argv, env, {"ZEB_SENHA"}, 120s);
}

void chownTree(const std::filesystem::path& root, uid_t uid, gid_t gid)
{
    ASSERT_EQ(::lchown(root.c_str(), uid, gid), 0);
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        ASSERT_EQ(::lchown(e.path().c_str(), uid, gid), 0) << e.path();
    }
}

TEST(ZebdStorePlace, TheInstalledProgramUsesTheServiceDirectory)
{
    struct Case
    {
        const char* executable;
        const char* store;
    };
    const Case cases[] = {
        {"/usr/sbin/zebd", "/var/lib/zebd"},
        {"/tmp/pacote/root/usr/sbin/zebd", "/tmp/pacote/root/var/lib/zebd"},
        {"/work/build/bin/zebd", "zeb-dados"},
        {"/usr/local/bin/zebd", "zeb-dados"},
        {"/opt/sbin/zebd", "zeb-dados"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(server::defaultDataDirFor(c.executable), std::filesystem::path(c.store)) << c.executable;
    }
}

// Run as root on a store of another user, every command leaves files of that
// user with no more permission than the store directory has; the file to
// publish is read as root, from where the store's owner may not look.
TEST(ZebdAdministration, RootWritesAsTheStoreOwner)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    SharedDir dir;
    const auto dados = dir.path() / "dados";
    ASSERT_EQ(::mkdir(dados.c_str(), 0750), 0);
    ASSERT_EQ(::chown(dados.c_str(), Nobody, Nobody), 0);
    const auto privateDir = dir.path() / "privado";
    ASSERT_EQ(::mkdir(privateDir.c_str(), 0700), 0);
    writeFile(privateDir / "retorno.txt", "retorno\n");
    std::filesystem::permissions(privateDir / "retorno.txt", std::filesystem::perms(0600));

    const std::string d = dados.string();
    const std::vector<std::vector<std::string>> commands = {
        {"criar", "--dados", d},
        {"operadora", "--dados", d, "--registro", "123456"},
        {"tipos", "--dados", d, "--envio", "XML#Arquivo XML", "--download", "RET#Retorno"},
        {"disponibilizar",
         "--dados",
         d,
         "--registro",
         "123456",
         "--tipo",
         "RET",
         "--arquivo",
         (privateDir / "retorno.txt").string(),
         "--descricao",
         "Retorno"},
        {"recebidos", "--dados", d},
    };
    for (const auto& args : commands) {
        std::vector<std::string> argv{binPath("zebd")};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto r = runProcess(argv, {{"ZEB_SENHA", "segredo"}});
        ASSERT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
    }
    int files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dados)) {
        struct stat st
        {
        };
        ASSERT_EQ(::lstat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, Nobody) << e.path();
        EXPECT_EQ(st.st_gid, Nobody) << e.path();
        EXPECT_EQ(st.st_mode & 07027, 0U) << e.path() << " mode " << std::oct << (st.st_mode & 07777);
        ++files;
    }
    EXPECT_GE(files, 3);  // the database, disponiveis/ and the enciphered file
    server::Store store(dados / server::StoreFileName);
    EXPECT_TRUE(store.checkOperator("123456", "segredo"));
    ASSERT_EQ(store.availableFiles().size(), 1U);
    // Only the enciphered file stays beside the store's own files.
    std::vector<std::string> available;
    for (const auto& e : std::filesystem::directory_iterator(dados / server::AvailableDirName)) {
        available.push_back(e.path().filename().string());
    }
    ASSERT_EQ(available.size(), 1U);
    EXPECT_EQ(std::filesystem::path(available[0]).extension(), ".cpt");
}

// The server refuses, at start and naming the file, a store its user cannot
// write, instead of serving and failing every upload afterwards.
TEST(ZebdAdministration, TheServerRefusesAStoreItCannotWrite)
{
    struct Case
    {
        const char* name;
        std::function<void(const std::filesystem::path&)> spoil;
        const char* named;  // the file the message names
        bool rootOnly;
    };
    const Case cases[] = {
        {"read-only database",
         [](const auto& d) { std::filesystem::permissions(d / server::StoreFileName, std::filesystem::perms(0444)); },
         server::StoreFileName,
         false},
        {"directory it may not write in",
         [](const auto& d) { std::filesystem::permissions(d, std::filesystem::perms(0555)); },
         "dados",
         false},
        {"database left by root in the store of another user",
         [](const auto& d) { ASSERT_EQ(::chown((d / server::StoreFileName).c_str(), 0, 0), 0); },
         server::StoreFileName,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.rootOnly && geteuid() != 0) {
            continue;
        }
        SharedDir dir;
        const auto dados = dir.path() / "dados";
        const auto made = runProcess({binPath("zebd"), "criar", "--dados", dados.string()});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        if (geteuid() == 0) {
            chownTree(dados, Nobody, Nobody);
        }
        c.spoil(dados);
        // Run as root or as the store's user: either way the server ends up
        // writing as that user.
        const std::vector<std::string> serve{"--dados", dados.string(), "--porta", "0", "--porta-ftp", "0"};
        const auto r = c.rootOnly ? runProcessGroup(
                                        [&] {
                                            std::vector<std::string> argv{binPath("zebd")};
                                            argv.insert(argv.end(), serve.begin(), serve.end());
                                            return argv;
                                        }(),
                                        {},
                                        {},
                                        120s)
                                  : zebdAsOrdinaryUser(serve, {});
        EXPECT_FALSE(r.hung) << "zebd served a store it cannot write";
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("não pode escrever"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("zebd: mensagens"), std::string::npos) << r.out;
    }
}

// A terminal as zebd's standard input: what it printed so far and a way to
// type, each read waiting for a text (a generous guard ends a stuck run).
class Terminal
{
public:
    explicit Terminal(const std::vector<std::string>& argv)
    {
        // Built before the fork: the child only execs.
        std::vector<std::string> env{"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"};
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
    }
    ~Terminal()
    {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) {
            ::close(master_);
        }
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Reads until `text` has appeared after what earlier calls consumed.
    bool waitFor(const std::string& text)
    {
        for (;;) {
            if (const auto at = seen_.find(text, consumed_); at != std::string::npos) {
                consumed_ = at + text.size();
                return true;
            }
            if (!readMore()) {
                return false;
            }
        }
    }
    void type(const std::string& line) { ASSERT_EQ(::write(master_, line.data(), line.size()), ssize_t(line.size())); }
    // Everything printed until the program ends, then its exit status.
    int finish()
    {
        while (readMore()) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    [[nodiscard]] const std::string& seen() const { return seen_; }
    // Whether the terminal echoes what is typed.
    [[nodiscard]] bool echoes() const
    {
        termios t{};
        return ::tcgetattr(master_, &t) == 0 && (t.c_lflag & ECHO) != 0;
    }

private:
    bool readMore()
    {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 120000) <= 0) {
            return false;  // the hang guard
        }
        char buf[512];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            return false;  // EIO once the program has ended
        }
        seen_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::string seen_;
    std::size_t consumed_ = 0;
};

// On a terminal and without ZEB_SENHA, `zebd operadora` asks twice, shows
// nothing of what is typed, changes nothing unless both answers agree, and
// leaves the terminal echoing again however it ends (Ctrl-C included).
TEST(ZebdAdministration, OperadoraAsksThePasswordTwiceWithoutEcho)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> answers;  // typed after each prompt in turn
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"same twice", {"Pa55-palavra\n", "Pa55-palavra\n"}, 0, "Operadora 654321 criada."},
        {"different", {"Pa55-palavra\n", "Pa55-palavrA\n"}, 1, "não conferem; nada foi alterado"},
        {"empty", {"\n", "\n"}, 1, "Senha vazia; nada foi alterado"},
        {"Ctrl-C at the first prompt", {"Pa55\x03"}, 1, "Interrompido; nada foi alterado"},
        {"input ends at the second prompt", {"Pa55-palavra\n", "\x04"}, 1, "A entrada terminou antes da senha"},
    };
    const char* const prompts[] = {"Senha da operadora 654321: ", "Repita a senha: "};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox dir(false);
        const auto dados = dir.path() / "dados";
        ASSERT_EQ(runProcess({binPath("zebd"), "criar", "--dados", dados.string()}).exitCode, 0);
        Terminal terminal({binPath("zebd"), "operadora", "--dados", dados.string(), "--registro", "654321"});
        for (std::size_t i = 0; i < c.answers.size(); ++i) {
            ASSERT_TRUE(terminal.waitFor(prompts[i])) << terminal.seen();
            terminal.type(c.answers[i]);
        }
        EXPECT_EQ(terminal.finish(), c.code) << terminal.seen();
        EXPECT_NE(terminal.seen().find(c.message), std::string::npos) << terminal.seen();
        EXPECT_EQ(terminal.seen().find("Pa55"), std::string::npos) << "echoed: " << terminal.seen();
        EXPECT_TRUE(terminal.echoes());
        server::Store store(dados / server::StoreFileName);
        EXPECT_EQ(store.hasOperator("654321"), c.code == 0);
        if (c.code == 0) {
            EXPECT_TRUE(store.checkOperator("654321", "Pa55-palavra"));
        }
    }
}

}  // namespace
}  // namespace vek::test
