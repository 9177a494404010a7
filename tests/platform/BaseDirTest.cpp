#include "platform/BaseDir.h"

#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <grp.h>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vek::platform {
namespace {

constexpr uid_t NobodyId = 65534;

using Environment = std::map<std::string, std::optional<std::string>>;

// Sets environment variables for a scope (nullopt: unset) and restores them.
class ScopedEnvironment
{
public:
    explicit ScopedEnvironment(const Environment& values)
    {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            set(name, value);
        }
    }
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : saved_) {
            set(name, value);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static void set(const std::string& name, const std::optional<std::string>& value)
    {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }

    Environment saved_;
};

// Runs `check` in a child process as an ordinary user (nobody, when the
// tests run as root) and returns its exit status; the child reports what went
// wrong on standard error.
int runAsOrdinaryUser(const std::function<int()>& check)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(NobodyId, NobodyId, NobodyId) != 0 ||
                               setresuid(NobodyId, NobodyId, NobodyId) != 0)) {
            _exit(100);
        }
        _exit(check());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

// A directory an ordinary user owns, inside a sandbox that user can reach.
std::filesystem::path ordinaryUserDirectory(const test::Sandbox& box, const std::string& name)
{
    std::filesystem::permissions(box.path(),
                                 std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec);
    const auto dir = box.path() / name;
    std::filesystem::create_directory(dir);
    if (geteuid() == 0) {
        EXPECT_EQ(chown(dir.c_str(), NobodyId, NobodyId), 0);
    }
    return dir;
}

TEST(BaseDir, SystemProgramDirectoriesNeverServeEvenWhenWritable)
{
    test::Sandbox box(false);
    struct Case
    {
        const char* name;
        std::filesystem::path dir;
        bool serves;
    };
    const std::array cases{
        Case{.name = "/usr/bin", .dir = "/usr/bin", .serves = false},
        Case{.name = "/usr/bin with a slash", .dir = "/usr/bin/", .serves = false},
        Case{.name = "/usr/local/bin", .dir = "/usr/local/bin", .serves = false},
        Case{.name = "/bin", .dir = "/bin", .serves = false},
        Case{.name = "/usr/sbin", .dir = "/usr/sbin", .serves = false},
        Case{.name = "a folder of its own", .dir = box.path(), .serves = true},
        Case{.name = "missing folder", .dir = box.path() / "nao-existe", .serves = false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(executableDirServes(c.dir), c.serves);
    }
}

TEST(BaseDir, ADirectoryTheUserCannotWriteDoesNotServe)
{
    test::Sandbox box(false);
    const auto own = ordinaryUserDirectory(box, "propria");
    const auto foreign = box.path() / "alheia";
    std::filesystem::create_directory(foreign);
    std::filesystem::permissions(foreign,
                                 std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                     std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                     std::filesystem::perms::others_exec);
    if (geteuid() != 0) {
        // An ordinary user owning the folder: only taking the write bit away shows it.
        std::filesystem::permissions(
            foreign, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    }
    EXPECT_EQ(runAsOrdinaryUser([&] {
                  if (!executableDirServes(own)) {
                      return 1;
                  }
                  return executableDirServes(foreign) ? 2 : 0;
              }),
              0);
    std::filesystem::permissions(foreign, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
}

TEST(BaseDir, UserDataDirFollowsXdgDataHomeElseHome)
{
    struct Case
    {
        const char* name;
        std::optional<std::string> xdg;
        std::filesystem::path expected;
    };
    const std::array cases{
        Case{.name = "absolute XDG_DATA_HOME", .xdg = "/srv/dados", .expected = "/srv/dados/vek"},
        Case{.name = "unset", .xdg = std::nullopt, .expected = "/home/maria/.local/share/vek"},
        Case{.name = "empty", .xdg = "", .expected = "/home/maria/.local/share/vek"},
        Case{
            .name = "relative, which the XDG rules ignore", .xdg = "dados", .expected = "/home/maria/.local/share/vek"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment env(Environment{{"HOME", "/home/maria"}, {"XDG_DATA_HOME", c.xdg}});
        EXPECT_EQ(userDataDir(), c.expected);
    }
}

TEST(BaseDir, TemplateIsEtcUnlessTheTestVariableNamesAnother)
{
    {
        ScopedEnvironment env(Environment{{"VEK_TEST_SYSTEM_INI", std::nullopt}});
        EXPECT_EQ(systemConfigTemplate(), "/etc/vek/vek.INI");
    }
    {
        ScopedEnvironment env(Environment{{"VEK_TEST_SYSTEM_INI", ""}});
        EXPECT_EQ(systemConfigTemplate(), "/etc/vek/vek.INI");
    }
    ScopedEnvironment env(Environment{{"VEK_TEST_SYSTEM_INI", "/tmp/modelo.INI"}});
    EXPECT_EQ(systemConfigTemplate(), "/tmp/modelo.INI");
}

const std::string Template = "; endereço da agência\r\n"
                             "[Defaults]\r\n"
                             "ServidorInternet=zeb.example.org\r\n"
                             "PortaServico=8080\r\n"
                             "PortaFTP=2121\r\n"
                             "[Outra]\r\n"
                             "Chave=\"com aspas\"\r\n";

TEST(BaseDir, MissingConfigurationBecomesACopyOfTheTemplateOnce)
{
    test::Sandbox etc(false);
    test::Sandbox user(false);
    const auto templatePath = etc.write("vek.INI", Template);

    seedFromTemplate(user.path(), templatePath);
    EXPECT_EQ(user.read("vek.INI"), Template);
    EXPECT_TRUE(std::filesystem::exists(user.path() / TemplateMarkerName));

    // Neither a changed template nor the user's own changes are touched again.
    etc.write("vek.INI", "[Defaults]\r\nServidorInternet=outro\r\nPortaDados=3000\r\n");
    user.write("vek.INI", "[Defaults]\r\nPortaServico=9\r\n");
    seedFromTemplate(user.path(), templatePath);
    EXPECT_EQ(user.read("vek.INI"), "[Defaults]\r\nPortaServico=9\r\n");

    // Without the marker the template is taken again, the user's keys winning.
    std::filesystem::remove(user.path() / TemplateMarkerName);
    seedFromTemplate(user.path(), templatePath);
    EXPECT_EQ(user.read("vek.INI"), "[Defaults]\r\nPortaServico=9\r\nServidorInternet=outro\r\nPortaDados=3000\r\n");
}

TEST(BaseDir, ExistingConfigurationGainsOnlyTheKeysItLacks)
{
    test::Sandbox etc(false);
    test::Sandbox user(false);
    const auto templatePath = etc.write("vek.INI", Template);
    user.write("vek.INI", "; minha configuração\n[defaults]\nservidorinternet=meu.servidor\nDepuracao=S\n");

    seedFromTemplate(user.path(), templatePath);
    EXPECT_EQ(user.read("vek.INI"),
              "; minha configuração\r\n[defaults]\r\nservidorinternet=meu.servidor\r\nDepuracao=S\r\n"
              "PortaServico=8080\r\nPortaFTP=2121\r\n[Outra]\r\nChave=com aspas\r\n");
}

TEST(BaseDir, NothingHappensUntilATemplateCanBeRead)
{
    test::Sandbox etc(false);
    test::Sandbox user(false);
    const auto templatePath = etc.path() / "vek.INI";

    struct Case
    {
        const char* name;
        std::function<void()> arrange;
    };
    const std::array cases{
        Case{.name = "no template", .arrange = [] {}},
        Case{.name = "a directory in its place", .arrange = [&] { std::filesystem::create_directory(templatePath); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        seedFromTemplate(user.path(), templatePath);
        EXPECT_TRUE(std::filesystem::is_empty(user.path()));
    }

    // The first template that appears later is the one taken.
    std::filesystem::remove(templatePath);
    etc.write("vek.INI", Template);
    seedFromTemplate(user.path(), templatePath);
    EXPECT_EQ(user.read("vek.INI"), Template);
}

TEST(BaseDir, AFailedWriteLeavesNoMarkerSoTheNextRunTriesAgain)
{
    test::Sandbox etc(false);
    test::Sandbox user(false);
    const auto templatePath = etc.write("vek.INI", Template);
    // A configuration that cannot be replaced: a directory in its place.
    std::filesystem::create_directory(user.path() / "vek.INI");

    seedFromTemplate(user.path(), templatePath);
    EXPECT_FALSE(std::filesystem::exists(user.path() / TemplateMarkerName));

    std::filesystem::remove(user.path() / "vek.INI");
    seedFromTemplate(user.path(), templatePath);
    EXPECT_EQ(user.read("vek.INI"), Template);
    EXPECT_TRUE(std::filesystem::exists(user.path() / TemplateMarkerName));
}

// The whole rule, as an ordinary user runs a program from a directory it
// cannot write (the test executable's own, owned by root): the per-user
// directory, created private, seeded from the template.
TEST(BaseDir, AnOrdinaryUserOfAnUnwritableProgramDirectoryGetsThePerUserDirectory)
{
    if (geteuid() != 0 && executableDirServes(executablePath().parent_path())) {
        GTEST_SKIP() << "the tests' own directory is writable by this user; the packaging tests cover this case";
    }
    test::Sandbox box(false);
    const auto home = ordinaryUserDirectory(box, "home");
    const auto templatePath = box.write("modelo.INI", Template);
    std::filesystem::permissions(templatePath, std::filesystem::perms::others_read, std::filesystem::perm_options::add);

    struct Case
    {
        const char* name;
        std::optional<std::string> xdg;
        std::filesystem::path expected;
    };
    const std::array cases{
        Case{.name = "default", .xdg = std::nullopt, .expected = home / ".local/share/vek"},
        Case{.name = "XDG_DATA_HOME", .xdg = (home / "dados").string(), .expected = home / "dados/vek"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment env(Environment{{"VEK_DIR", std::nullopt},
                                          {"HOME", home.string()},
                                          {"XDG_DATA_HOME", c.xdg},
                                          {"VEK_TEST_SYSTEM_INI", templatePath.string()}});
        EXPECT_EQ(runAsOrdinaryUser([&] {
                      if (baseDir() != c.expected) {
                          std::fprintf(stderr, "baseDir() = %s\n", baseDir().c_str());
                          return 1;
                      }
                      struct stat st
                      {
                      };
                      if (stat(c.expected.c_str(), &st) != 0 || (st.st_mode & 0777) != 0700) {
                          return 2;
                      }
                      return test::readFile(c.expected / ConfigFileName) == Template ? 0 : 3;
                  }),
                  0);
    }
}

}  // namespace
}  // namespace vek::platform
