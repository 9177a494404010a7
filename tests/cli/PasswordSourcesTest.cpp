// Where vek-cli takes the operator's password from, and the files that
// carry it: gerar-parametros writes the password it found into the
// parameter file, so reading that file back shows which source won.

#include "app/ParameterFile.h"
#include "cli/Cli.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vek::cli {
namespace {

namespace fs = std::filesystem;

struct Result
{
    int code;
    std::string out;
    std::string err;
};

// A variable set (or unset) for the scope.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value)
        : name_(name)
    {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv()
    {
        if (previous_) {
            setenv(name_, previous_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> previous_;
};

Result gerar(const fs::path& destino, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args{"gerar-parametros",
                                  "--formato",
                                  "1",
                                  "--registro",
                                  "123456",
                                  "--arquivo",
                                  "dados.xml",
                                  "--resposta",
                                  "resp.xml",
                                  "-o",
                                  destino.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out;
    std::ostringstream err;
    const int code = run(args, out, err);
    return {code, out.str(), err.str()};
}

fs::path writeMode(const fs::path& path, const std::string& content, mode_t mode)
{
    test::writeFile(path, content);
    chmod(path.c_str(), mode);
    return path;
}

mode_t modeOf(const fs::path& path)
{
    struct stat st
    {
    };
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(PasswordSources, TheFirstSourceThereIsWins)
{
    struct Case
    {
        const char* what;
        std::optional<std::string> file;        // --senha-arquivo's content
        std::optional<std::string> credential;  // $CREDENTIALS_DIRECTORY/vek-senha
        bool credentialsDirectory;              // the variable set (the file may still be absent)
        std::optional<std::string> variable;    // VEK_SENHA
        std::string expected;
    };
    const Case cases[] = {
        {"all of them: the file", "do-arquivo\n", "da-credencial", true, "da-variavel", "do-arquivo"},
        {"credential before the variable", std::nullopt, "da-credencial\n", true, "da-variavel", "da-credencial"},
        {"credential before an empty variable", std::nullopt, "da-credencial", true, "", "da-credencial"},
        {"credential directory without the credential", std::nullopt, std::nullopt, true, "da-variavel", "da-variavel"},
        {"the variable alone", std::nullopt, std::nullopt, false, "da-variavel", "da-variavel"},
        {"only the first line, without CR LF", "primeira\r\nsegunda\n", std::nullopt, false, "x", "primeira"},
        {"an empty file is the empty password", "", std::nullopt, false, "x", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::Sandbox box;
        const fs::path credenciais = box.path() / "credenciais";
        fs::create_directories(credenciais);
        if (c.credential) {
            writeMode(credenciais / "vek-senha", *c.credential, 0400);
        }
        const ScopedEnv dir("CREDENTIALS_DIRECTORY",
                            c.credentialsDirectory ? std::optional(credenciais.string()) : std::nullopt);
        const ScopedEnv variable("VEK_SENHA", c.variable);
        std::vector<std::string> extra;
        if (c.file) {
            extra = {"--senha-arquivo", writeMode(box.path() / "senha", *c.file, 0600).string()};
        }
        const auto r = gerar(box.path() / "saida.par", extra);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(app::lerArquivoParametros(box.path() / "saida.par").senha, c.expected);
    }
}

TEST(PasswordSources, WithoutAnySourceAndNoTerminalItIsAUsageError)
{
    if (isatty(STDIN_FILENO) != 0) {
        GTEST_SKIP() << "standard input is a terminal: the program would ask";
    }
    test::Sandbox box;
    const ScopedEnv dir("CREDENTIALS_DIRECTORY", std::nullopt);
    const ScopedEnv variable("VEK_SENHA", std::nullopt);
    const auto r = gerar(box.path() / "saida.par");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("senha não informada"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(box.path() / "saida.par"));
}

// As for a private key: a password file others may read is refused with the
// reason, and nothing is written.
TEST(PasswordSources, APasswordFileOthersMayReadIsRefused)
{
    struct Case
    {
        mode_t mode;
        bool otherOwner;
        const char* reason;  // nullptr: accepted
    };
    const Case cases[] = {
        {0600, false, nullptr},
        {0400, false, nullptr},
        {0640, false, "pode ser lido por outros usuários (permissões 0640); restrinja-o ao dono: chmod 600"},
        {0604, false, "(permissões 0604)"},
        {0644, false, "(permissões 0644)"},
        {0600, true, "pertence a outro usuário"},
    };
    const ScopedEnv variable("VEK_SENHA", "da-variavel");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + (c.otherOwner ? " of another user" : ""));
        if (c.otherOwner && geteuid() != 0) {
            continue;  // only root can give a file away
        }
        test::Sandbox box;
        const fs::path senha = writeMode(box.path() / "senha", "do-arquivo\n", c.mode);
        if (c.otherOwner) {
            ASSERT_EQ(chown(senha.c_str(), 65534, 65534), 0);
        }
        const auto r = gerar(box.path() / "saida.par", {"--senha-arquivo", senha.string()});
        if (c.reason == nullptr) {
            ASSERT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(app::lerArquivoParametros(box.path() / "saida.par").senha, "do-arquivo");
            continue;
        }
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("o arquivo de senha " + senha.string()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(box.path() / "saida.par"));
    }
}

// The parameter file carries the password: only its owner may read it,
// whatever the umask, and it is never written through a link or into a file
// of another user.
TEST(ParameterFileWrite, IsPrivateAndNeverWrittenThroughAnotherOnesFile)
{
    const ScopedEnv variable("VEK_SENHA", "segredo");
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        test::Sandbox box;
        const mode_t old = umask(mask);
        const auto created = gerar(box.path() / "nova.par");
        // A file of the user's that others could read is made private.
        const fs::path aberto = writeMode(box.path() / "aberto.par", "antigo", 0644);
        const auto replaced = gerar(aberto);
        umask(old);
        ASSERT_EQ(created.code, 0) << created.err;
        EXPECT_EQ(modeOf(box.path() / "nova.par"), 0600U);
        ASSERT_EQ(replaced.code, 0) << replaced.err;
        EXPECT_EQ(modeOf(aberto), 0600U);
        EXPECT_EQ(app::lerArquivoParametros(aberto).senha, "segredo");
    }

    test::Sandbox box;
    const fs::path alvo = writeMode(box.path() / "alvo", "de outro", 0644);
    fs::create_symlink(alvo, box.path() / "link.par");
    auto r = gerar(box.path() / "link.par");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("é um link simbólico"), std::string::npos) << r.err;
    EXPECT_EQ(test::readFile(alvo), "de outro");

    if (geteuid() == 0) {
        const fs::path alheio = writeMode(box.path() / "alheio.par", "de outro", 0666);
        ASSERT_EQ(chown(alheio.c_str(), 65534, 65534), 0);
        r = gerar(alheio);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("pertence a outro usuário"), std::string::npos) << r.err;
        EXPECT_EQ(test::readFile(alheio), "de outro");
    }
}

}  // namespace
}  // namespace vek::cli
