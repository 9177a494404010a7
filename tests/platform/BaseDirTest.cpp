#include "platform/BaseDir.h"

#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
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
                             "PortaFTP=2121\r\n";

// A per-user directory as an earlier version left it: its configuration,
// and, when the template was copied in, the marker written after the copy
// (`touchedAfterCopy`: the configuration was written again later).
struct EarlierState
{
    std::string config;
    bool copied = false;
    bool touchedAfterCopy = false;
};

void arrange(const test::Sandbox& user, const EarlierState& state)
{
    const auto config = user.write(ConfigFileName, state.config);
    if (state.copied) {
        const auto marker = user.write(CopiedTemplateMarkerName, "/etc/vek/vek.INI\n");
        const auto copyTime = std::filesystem::last_write_time(config);
        std::filesystem::last_write_time(marker, copyTime);
        if (state.touchedAfterCopy) {
            std::filesystem::last_write_time(config, copyTime + std::chrono::seconds(5));
        }
    }
}

TEST(BaseDir, TheUpgradeTakesOutWhatEarlierVersionsWroteAndKeepsTheUsersOwnKeys)
{
    struct Case
    {
        const char* name;
        EarlierState before;
        std::string after;
    };
    const std::array cases{
        Case{.name = "defaults written before any template",
             .before = {.config = "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=80\r\nDepuracao=S\r\n"},
             .after = "[Defaults]\r\nDepuracao=S\r\n"},
        Case{.name = "a local server with a port set by hand",
             .before = {.config = "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=8080\r\n"},
             .after = "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=8080\r\n"},
        Case{.name = "the user's own keys, no template ever copied",
             .before = {.config = "[Defaults]\r\nServidorInternet=meu.servidor\r\nPortaServico=8080\r\n"},
             .after = "[Defaults]\r\nServidorInternet=meu.servidor\r\nPortaServico=8080\r\n"},
        Case{.name = "an older template's copy, untouched since: the template's keys go, whatever their value",
             .before = {.config = "[Defaults]\r\nServidorInternet=antigo.example.org\r\nPortaServico=8080\r\n"
                                  "PortaDados=3000\r\n",
                        .copied = true},
             .after = "[Defaults]\r\nPortaDados=3000\r\n"},
        Case{.name = "a copy changed by hand afterwards: only the keys with the template's value go",
             .before = {.config = "[Defaults]\r\nServidorInternet=outro.example.org\r\nPortaServico=8080\r\n"
                                  "PortaFTP=21\r\n",
                        .copied = true,
                        .touchedAfterCopy = true},
             .after = "[Defaults]\r\nServidorInternet=outro.example.org\r\nPortaFTP=21\r\n"},
        Case{.name = "defaults, then the template's missing keys added, then a key set by hand",
             .before = {.config = "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=80\r\nPortaFTP=2121\r\n"
                                  "Depuracao=S\r\n",
                        .copied = true,
                        .touchedAfterCopy = true},
             .after = "[Defaults]\r\nDepuracao=S\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox etc(false);
        test::Sandbox user(false);
        const auto templatePath = etc.write("vek.INI", Template);
        arrange(user, c.before);

        adoptTemplateLayer(user.path(), templatePath);
        EXPECT_EQ(user.read(ConfigFileName), c.after);
        if (c.after != c.before.config) {
            EXPECT_EQ(user.read(TemplateLayerBackupName), c.before.config);
        } else {
            EXPECT_FALSE(std::filesystem::exists(user.path() / TemplateLayerBackupName));
        }
        EXPECT_TRUE(std::filesystem::exists(user.path() / TemplateLayerRecordName));
        EXPECT_FALSE(std::filesystem::exists(user.path() / CopiedTemplateMarkerName));
    }
}

TEST(BaseDir, TheUpgradeRunsOnceSoADefaultValueSetLaterStays)
{
    test::Sandbox etc(false);
    test::Sandbox user(false);
    const auto templatePath = etc.write("vek.INI", Template);

    // A first start with nothing there records the upgrade all the same.
    adoptTemplateLayer(user.path(), templatePath);
    EXPECT_TRUE(std::filesystem::exists(user.path() / TemplateLayerRecordName));
    EXPECT_FALSE(std::filesystem::exists(user.path() / ConfigFileName));

    const std::string byHand = "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=80\r\n";
    user.write(ConfigFileName, byHand);
    adoptTemplateLayer(user.path(), templatePath);
    EXPECT_EQ(user.read(ConfigFileName), byHand);
}

TEST(BaseDir, AFailedUpgradeChangesNothingAndTheNextStartTriesAgain)
{
    test::Sandbox etc(false);
    test::Sandbox user(false);
    const auto templatePath = etc.write("vek.INI", Template);
    const EarlierState before{.config = Template, .copied = true};
    arrange(user, before);
    // The configuration cannot be replaced: a directory where its new copy goes.
    std::filesystem::create_directory(user.path() / "vek.INI.tmp");

    adoptTemplateLayer(user.path(), templatePath);
    EXPECT_EQ(user.read(ConfigFileName), Template);
    EXPECT_TRUE(std::filesystem::exists(user.path() / CopiedTemplateMarkerName));
    EXPECT_FALSE(std::filesystem::exists(user.path() / TemplateLayerRecordName));

    std::filesystem::remove(user.path() / "vek.INI.tmp");
    adoptTemplateLayer(user.path(), templatePath);
    EXPECT_EQ(user.read(ConfigFileName), "; endereço da agência\r\n[Defaults]\r\n");
    EXPECT_EQ(user.read(TemplateLayerBackupName), Template);
    EXPECT_TRUE(std::filesystem::exists(user.path() / TemplateLayerRecordName));
}

// The whole rule, as an ordinary user runs a program from a directory it
// cannot write (the test executable's own, owned by root): the per-user
// directory, created private; the template is not copied in.
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
                      const auto location = baseLocation();
                      if (location.dir != c.expected || !location.perUser) {
                          std::fprintf(stderr, "baseLocation() = %s\n", location.dir.c_str());
                          return 1;
                      }
                      struct stat st
                      {
                      };
                      if (stat(c.expected.c_str(), &st) != 0 || (st.st_mode & 0777) != 0700) {
                          return 2;
                      }
                      if (std::filesystem::exists(c.expected / ConfigFileName)) {
                          return 3;
                      }
                      return std::filesystem::exists(c.expected / TemplateLayerRecordName) ? 0 : 4;
                  }),
                  0);
    }
}

}  // namespace
}  // namespace vek::platform
