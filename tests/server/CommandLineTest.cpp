#include "server/CommandLine.h"

#include "crypto/TDecryptFile.h"
#include "server/Store.h"
#include "server/ZebServer.h"
#include "tests/fixtures/Process.h"
#include "tests/server/ServerTestSupport.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <regex>
#include <sstream>

namespace vek::test {
namespace {

using namespace std::chrono_literals;

struct CommandRun
{
    int code = -1;
    std::string out;
    std::string err;
};

CommandRun zebd(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    CommandRun r;
    r.code = server::runZebd(args, out, err, [] {});
    r.out = out.str();
    r.err = err.str();
    return r;
}

// Sets an environment variable for one scope.
class EnvVar
{
public:
    EnvVar(const char* name, const char* value)
        : name_(name)
    {
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvVar() { unsetenv(name_); }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    const char* name_;
};

std::uint16_t portOf(const std::string& line)
{
    std::smatch m;
    if (!std::regex_search(line, m, std::regex(R"(^zebd: mensagens 127\.0\.0\.1:(\d+) ftp 127\.0\.0\.1:(\d+))"))) {
        return 0;
    }
    return static_cast<std::uint16_t>(std::stoi(m[1]));
}

TEST(CommandLine, OperadoraSetsThePasswordFromTheEnvironment)
{
    Sandbox dir(false);
    const std::string dados = dir.path().string();
    ASSERT_EQ(zebd({"criar", "--dados", dados}).code, server::ExitOk);
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        const char* senha;
        int code;
    };
    const std::array cases{
        Case{"no password", {"operadora", "--dados", dados, "--registro", "123456"}, nullptr, server::ExitUsage},
        Case{"empty password", {"operadora", "--dados", dados, "--registro", "123456"}, "", server::ExitUsage},
        Case{"registry not six digits", {"operadora", "--dados", dados, "--registro", "12345"}, "x", server::ExitUsage},
        Case{"blank at the end", {"operadora", "--dados", dados, "--registro", "123456"}, "senha ", server::ExitUsage},
        Case{"no registry", {"operadora", "--dados", dados}, "x", server::ExitUsage},
        Case{"accepted", {"operadora", "--dados", dados, "--registro", "123456"}, "Sênha", server::ExitOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EnvVar senha("ZEB_SENHA", c.senha);
        const CommandRun r = zebd(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
    }
    server::Store store(dir.path() / server::StoreFileName);
    // Kept as the client will send it: Windows-1252.
    EXPECT_TRUE(store.checkOperator("123456", "S\xEAnha"));
}

TEST(CommandLine, TiposSetsTheListsAndRefusesMalformedItems)
{
    Sandbox dir(false);
    const std::string dados = dir.path().string();
    ASSERT_EQ(zebd({"criar", "--dados", dados}).code, server::ExitOk);
    CommandRun r =
        zebd({"tipos", "--dados", dados, "--envio", "ABC#Primeiro|DEF#Segundo", "--download", "RET#Retorno"});
    ASSERT_EQ(r.code, server::ExitOk) << r.err;
    EXPECT_EQ(r.out, "envio\tABC#Primeiro|DEF#Segundo\ndownload\tRET#Retorno\n");

    for (const char* bad : {"ABCD#Código longo", "AB#Curto", "ABC Descrição sem separador", "ABC#Um||"}) {
        SCOPED_TRACE(bad);
        r = zebd({"tipos", "--dados", dados, "--envio", bad});
        EXPECT_EQ(r.code, server::ExitUsage);
    }
    server::Store store(dir.path() / server::StoreFileName);
    EXPECT_EQ(store.tiposEnvio(), "ABC#Primeiro|DEF#Segundo");
}

TEST(CommandLine, DisponibilizarEnciphersACopyThatTheListedKeyRestores)
{
    Sandbox dir(false);
    const std::string dados = dir.path().string();
    {
        server::Store store(dir.path() / server::StoreFileName);
        store.seedDemo();
    }
    const std::string original = "linha 1\nlinha 2 com acentuação\n";
    const auto source = dir.write("entrada/retorno.txt", original);
    const std::vector<std::string> base{"disponibilizar",
                                        "--dados",
                                        dados,
                                        "--registro",
                                        "123456",
                                        "--tipo",
                                        "ret",
                                        "--arquivo",
                                        source.string(),
                                        "--descricao",
                                        "Retorno de março"};
    auto with = [&](const std::string& option, const std::string& value) {
        auto args = base;
        const auto it = std::find(args.begin(), args.end(), option);
        if (it == args.end()) {
            args.push_back(option);
            args.push_back(value);
        } else {
            *(it + 1) = value;
        }
        return args;
    };
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
    };
    const std::array refused{
        Case{"unknown operator", with("--registro", "999999")},
        Case{"type not in the download list", with("--tipo", "XML")},
        Case{"competence that is no month", with("--competencia", "13/2026")},
        Case{"missing file", with("--arquivo", (dir.path() / "nada.txt").string())},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        const CommandRun r = zebd(c.args);
        EXPECT_EQ(r.code, server::ExitFailure);
        EXPECT_EQ(r.err.rfind("Erro: ", 0), 0U) << r.err;
    }

    const CommandRun r = zebd(with("--competencia", "03/2026"));
    ASSERT_EQ(r.code, server::ExitOk) << r.err;
    server::Store store(dir.path() / server::StoreFileName);
    const auto files = store.availableFiles();
    ASSERT_EQ(files.size(), 1U);
    const auto& f = files[0];
    EXPECT_EQ(r.out, std::to_string(f.id) + "\n");
    EXPECT_EQ(f.fileType, "RET");
    EXPECT_EQ(f.fileName, "retorno.txt");
    EXPECT_EQ(f.competence, "03/2026");
    EXPECT_EQ(f.size, static_cast<std::int64_t>(original.size()));
    EXPECT_NE(readFile(f.storedPath).substr(1), original);

    crypto::TDecryptFile decipher;
    decipher.SetArquivoOriginal(f.storedPath);
    decipher.SetArquivoDestino((dir.path() / "restaurado.txt").string());
    decipher.SetSenha(f.cipherKey);
    decipher.UsarSenha = true;
    decipher.ExcecaoErro = true;
    decipher.Executar();
    EXPECT_EQ(readFile(dir.path() / "restaurado.txt"), original);
}

// An administration command aimed at a place without a store ends with an
// error that says how to make one, and leaves nothing behind; only "criar"
// makes a store, once.
TEST(CommandLine, AdministrationNeedsAStoreThatCriarMakes)
{
    Sandbox dir(false);
    const auto source = dir.write("retorno.txt", "retorno");
    EnvVar senha("ZEB_SENHA", "segredo");
    for (const auto& dados : {dir.path() / "vazio", dir.path() / "nao-existe"}) {
        std::filesystem::create_directories(dir.path() / "vazio");
        const std::string d = dados.string();
        const std::vector<std::vector<std::string>> commands = {
            {"operadora", "--dados", d, "--registro", "123456"},
            {"tipos", "--dados", d, "--envio", "XML#Arquivo XML"},
            {"recebidos", "--dados", d},
            {"disponibilizar",
             "--dados",
             d,
             "--registro",
             "123456",
             "--tipo",
             "RET",
             "--arquivo",
             source.string(),
             "--descricao",
             "Retorno"},
        };
        for (const auto& args : commands) {
            SCOPED_TRACE(args[0] + " on " + d);
            const CommandRun r = zebd(args);
            EXPECT_EQ(r.code, server::ExitFailure);
            EXPECT_NE(r.err.find("Não há banco do zebd em " + d), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("\"zebd criar --dados " + d + "\""), std::string::npos) << r.err;
            EXPECT_FALSE(std::filesystem::exists(dados / server::StoreFileName));
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "nao-existe"));

    const std::string d = (dir.path() / "novo" / "dados").string();
    CommandRun r = zebd({"criar", "--dados", d});
    ASSERT_EQ(r.code, server::ExitOk) << r.err;
    EXPECT_EQ(r.out, "Banco criado em " + d + ".\n");
    EXPECT_EQ(std::filesystem::status(d).permissions(), std::filesystem::perms(0700));
    ASSERT_EQ(zebd({"operadora", "--dados", d, "--registro", "123456"}).code, server::ExitOk);
    r = zebd({"criar", "--dados", d});
    ASSERT_EQ(r.code, server::ExitOk) << r.err;
    EXPECT_EQ(r.out, "O banco em " + d + " já existia; nada mudou.\n");
    EXPECT_TRUE(server::Store(std::filesystem::path(d) / server::StoreFileName).hasOperator("123456"));
}

// At start, one line for each thing an operator still lacks, with the
// command that sets it; none once the store is complete.
TEST(CommandLine, TheServerSaysWhatTheStoreLacks)
{
    Sandbox dir(false);
    std::filesystem::copy_file(sharedServerKey(), dir.path() / server::KeyFileName);
    const std::string d = dir.path().string();
    auto startOnce = [&] {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(server::runZebd({"--dados", d, "--porta", "0", "--porta-ftp", "0"}, out, err, [] {}), server::ExitOk);
        return err.str();
    };
    const std::string lacks = startOnce();
    for (const std::string& line :
         {"zebd: o banco não tem nenhuma operadora; crie uma com \"zebd operadora --dados " + d + " --registro R\"\n",
          "zebd: a lista de tipos de envio está vazia e todo envio será recusado; defina-a com \"zebd tipos --dados " +
              d + " --envio LISTA\"\n",
          "zebd: a lista de tipos de download está vazia e nenhum arquivo pode ser disponibilizado; defina-a com "
          "\"zebd tipos --dados " +
              d + " --download LISTA\"\n"}) {
        EXPECT_NE(lacks.find(line), std::string::npos) << lacks;
    }
    {
        EnvVar senha("ZEB_SENHA", "segredo");
        ASSERT_EQ(zebd({"operadora", "--dados", d, "--registro", "123456"}).code, server::ExitOk);
    }
    ASSERT_EQ(zebd({"tipos", "--dados", d, "--envio", "XML#Arquivo XML"}).code, server::ExitOk);
    const std::string some = startOnce();
    EXPECT_EQ(some.find("operadora"), std::string::npos) << some;
    EXPECT_EQ(some.find("tipos de envio"), std::string::npos) << some;
    EXPECT_NE(some.find("tipos de download está vazia"), std::string::npos) << some;
    ASSERT_EQ(zebd({"tipos", "--dados", d, "--download", "RET#Retorno"}).code, server::ExitOk);
    EXPECT_EQ(startOnce(), "");
}

TEST(CommandLine, UsageErrorsExitWithTwo)
{
    for (const auto& args : {std::vector<std::string>{"--porta", "70000"},
                             {"--porta"},
                             {"--desconhecida", "1"},
                             {"comando-inexistente"},
                             {"recebidos", "--dados"}}) {
        const CommandRun r = zebd(args);
        EXPECT_EQ(r.code, server::ExitUsage) << args[0];
        EXPECT_EQ(r.err.rfind("Erro: ", 0), 0U) << r.err;
    }
    EXPECT_EQ(zebd({"--help"}).code, server::ExitOk);
}

// The serving command in-process: the listening line, an upload, then the
// received list.
TEST(CommandLine, ServesUntilToldToStopAndListsWhatArrived)
{
    Sandbox dir(false);
    std::filesystem::copy_file(sharedServerKey(), dir.path() / server::KeyFileName);
    const std::string dados = dir.path().string();
    std::promise<std::uint16_t> listening;
    std::promise<void> stop;
    std::ostringstream out;
    std::ostringstream err;
    auto serving = std::async(std::launch::async, [&] {
        return server::runZebd({"--dados", dados, "--porta", "0", "--porta-ftp", "0", "--demo"}, out, err, [&] {
            listening.set_value(portOf(out.str()));
            stop.get_future().wait();
        });
    });
    auto port = listening.get_future();
    ASSERT_EQ(port.wait_for(30s), std::future_status::ready) << err.str();
    const std::uint16_t p = port.get();
    ASSERT_NE(p, 0) << out.str();

    UploadInput in;
    in.nome = "nota\tfiscal.xml";
    const UploadOutcome upload = runUpload(p, in);
    ASSERT_TRUE(upload.final.has_value());
    ASSERT_EQ(upload.final->code, wire::CMD_PROTOCOLO) << upload.final->text();
    const std::string protocol = upload.final->text().substr(0, upload.final->text().find('|'));

    stop.set_value();
    ASSERT_EQ(serving.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(serving.get(), server::ExitOk);

    const CommandRun r = zebd({"recebidos", "--dados", dados});
    ASSERT_EQ(r.code, server::ExitOk) << r.err;
    const std::string stored = (dir.path() / server::ReceivedDirName / (protocol + "-nota_fiscal.xml")).string();
    // The demo history comes first; the upload's row is among the rows.
    EXPECT_EQ(r.out.rfind("PROTOCOLO\tOPERADORA\tTIPO\tNOME\tTAMANHO\tCAMINHO\n", 0), 0U) << r.out;
    EXPECT_NE(r.out.find("\n" + protocol + "\t123456\tXML\tnota fiscal.xml\t" + std::to_string(in.content.size()) +
                         "\t" + stored + "\n"),
              std::string::npos)
        << r.out;
}

// The program itself: it prints its ports, serves, and SIGTERM ends it with 0.
TEST(CommandLine, TheProgramStopsCleanlyOnSigterm)
{
    Sandbox dir(false);
    std::filesystem::copy_file(sharedServerKey(), dir.path() / server::KeyFileName);
    ZebdProcess zebd(dir.path());
    ASSERT_NE(zebd.messagePort(), 0) << zebd.output();
    platform::TcpSocket s = connectTo(zebd.messagePort());
    sendFrame(s, wire::CMD_TIPOS_ENVIO, {});
    EXPECT_EQ(receive(s).code, wire::CMD_TIPOS_ENVIO);
    EXPECT_EQ(zebd.stop(), 0) << zebd.output();
}

}  // namespace
}  // namespace vek::test
