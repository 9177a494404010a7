#include "app/AccessChecks.h"

#include "app/AppState.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vek::app {
namespace {

TEST(AccessChecks, RegistryFieldTakesDigitsAndBackspaceOnly)
{
    for (char32_t c = U'0'; c <= U'9'; ++c) {
        EXPECT_TRUE(caractereRegistroAceito(c));
    }
    EXPECT_TRUE(caractereRegistroAceito(U'\b'));
    for (const char32_t c : {U'a', U'Z', U' ', U'-', U'.', U'/', U'\t', U'\r', U'\x16', U'é', U'٣'}) {
        EXPECT_FALSE(caractereRegistroAceito(c)) << static_cast<unsigned>(c);
    }
}

struct AccessCase
{
    const char* registro;
    const char* senha;
    const char* aviso;  // nullptr: passes
};

class VerificarAcesso : public ::testing::TestWithParam<AccessCase>
{
};

TEST_P(VerificarAcesso, GivesTheRightWarning)
{
    const auto& c = GetParam();
    const auto aviso = verificarAcesso(c.registro, c.senha);
    if (c.aviso == nullptr) {
        EXPECT_FALSE(aviso.has_value()) << *aviso;
    } else {
        ASSERT_TRUE(aviso.has_value());
        EXPECT_EQ(*aviso, c.aviso);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, VerificarAcesso, ::testing::Values(
    AccessCase{"123456", "demo", nullptr},
    AccessCase{" 123456 ", "x", nullptr},            // trimmed before counting
    AccessCase{"123456", " ", MsgPreencherRegistroESenha},
    AccessCase{"123456", "", MsgPreencherRegistroESenha},
    AccessCase{"   ", "demo", MsgPreencherRegistroESenha},
    AccessCase{"", "", MsgPreencherRegistroESenha},  // the empty check comes first
    AccessCase{"12345", "demo", MsgRegistroSeisCaracteres},
    AccessCase{"1234567", "demo", MsgRegistroSeisCaracteres},
    AccessCase{"12345é", "demo", nullptr}));         // six characters, seven bytes
// clang-format on

TEST(AppState, ModeComesFromTheFirstArgument)
{
    EXPECT_FALSE(modoArquivoParametros({}));
    EXPECT_FALSE(modoArquivoParametros({"LOGTESTE"}));
    EXPECT_FALSE(modoArquivoParametros({"log_a.txt", "outro.par"}));
    EXPECT_TRUE(modoArquivoParametros({"/tmp/envio.par"}));
    EXPECT_TRUE(modoArquivoParametros({"LO"}));
    EXPECT_TRUE(modoArquivoParametros({"", "LOGX"}));
}

// Relative arguments are resolved against the working directory.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const std::filesystem::path& dir)
        : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~WorkingDirectory() { std::filesystem::current_path(previous_); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

TEST(AppState, AnExistingFileIsAParameterFileWhateverItsName)
{
    test::Sandbox box;
    box.write("logs/envio.par", "cifrado\r\n");
    box.write("LOGTESTE.par", "cifrado\r\n");
    std::filesystem::create_directories(box.path() / "log_pasta");
    WorkingDirectory cwd(box.path());
    struct Case
    {
        const char* argument;
        bool parametros;
    };
    const Case cases[] = {
        {"logs/envio.par", true},
        {"LOGTESTE.par", true},
        {"logs/outro.par", false},  // names no file: the trace rule
        {"log_pasta", false},       // a directory is no parameter file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        EXPECT_EQ(modoArquivoParametros({c.argument}), c.parametros);
        EXPECT_EQ(argumentoDeTrace(c.argument), !c.parametros);
    }
}

TEST(AppState, ExitCodeFollowsTheFailedStep)
{
    using namespace channel;
    channel::TStatusUpload s;
    EXPECT_EQ(codigoSaidaAposProgresso(s, 0), 0);
    s.StatusPreparacao = tseExecutando;
    EXPECT_EQ(codigoSaidaAposProgresso(s, 0), 0);
    s.StatusPreparacao = tseErro;
    s.StatusConexao = tseErro;
    EXPECT_EQ(codigoSaidaAposProgresso(s, 0), 3);  // preparation wins
    s.StatusPreparacao = tseFinalizada;
    EXPECT_EQ(codigoSaidaAposProgresso(s, 0), 4);
    s.StatusConexao = tseFinalizada;
    s.StatusTransmissao = tseErro;
    EXPECT_EQ(codigoSaidaAposProgresso(s, 0), 4);
    s.StatusTransmissao = tseFinalizada;
    EXPECT_EQ(codigoSaidaAposProgresso(s, 4), 4);  // unchanged without an error
}

TEST(AppState, ReceiptProtocolLineByMode)
{
    EXPECT_EQ(linhaProtocoloRecibo("2026000001", "VEK-4.0.8", false, "APP-1.0"), "2026000001 - VEK-4.0.8");
    EXPECT_EQ(linhaProtocoloRecibo("2026000001", "VEK-4.0.8", true, "APP-1.0"),
              "2026000001 - VEK-4.0.8 - Aplicativo: APP-1.0");
}

TEST(AppState, CleanUpRemovesOnlyZebInTempAndParInTheTemporaryDirectory)
{
    test::Sandbox sandbox(false);
    const auto temp = sandbox.path() / "base" / "temp";
    const auto tmp = sandbox.path() / "tmp";
    std::filesystem::create_directories(temp);
    std::filesystem::create_directories(tmp);
    std::filesystem::create_directories(temp / "pasta.zeb");
    for (const auto* name : {"lista.zeb", "HIST.ZEB", "outro.par", "dados.xml", "lista.zeb.bak"}) {
        test::writeFile(temp / name, "x");
    }
    for (const auto* name : {"envio.par", "VELHO.PAR", "lista.zeb", "par", "x.parx"}) {
        test::writeFile(tmp / name, "x");
    }
    test::writeFile(sandbox.path() / "base" / "fora.zeb", "x");

    EXPECT_EQ(limparArquivosTemporarios(temp, tmp), 4);

    for (const auto* gone : {"lista.zeb", "HIST.ZEB"}) {
        EXPECT_FALSE(std::filesystem::exists(temp / gone)) << gone;
    }
    for (const auto* kept : {"outro.par", "dados.xml", "lista.zeb.bak", "pasta.zeb"}) {
        EXPECT_TRUE(std::filesystem::exists(temp / kept)) << kept;
    }
    for (const auto* gone : {"envio.par", "VELHO.PAR"}) {
        EXPECT_FALSE(std::filesystem::exists(tmp / gone)) << gone;
    }
    for (const auto* kept : {"lista.zeb", "par", "x.parx"}) {
        EXPECT_TRUE(std::filesystem::exists(tmp / kept)) << kept;
    }
    EXPECT_TRUE(std::filesystem::exists(sandbox.path() / "base" / "fora.zeb"));
    // Missing directories are no error.
    EXPECT_EQ(limparArquivosTemporarios(sandbox.path() / "nada", sandbox.path() / "nada2"), 0);
}

}  // namespace
}  // namespace vek::app
