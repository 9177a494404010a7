#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

namespace vek::test {
namespace {

class ParametersE2E : public ::testing::Test
{
protected:
    Sandbox server{false};
    Sandbox client{false};
    ZebdProcess zebd{server.path() / "dados"};
    CliClient cli{client, zebd.messagePort()};

    // Writes a parameter file with gerar-parametros; returns its path.
    std::filesystem::path
    parameters(const std::string& name, std::vector<std::string> options, const std::string& password = "demo")
    {
        const auto path = client.path() / name;
        options.insert(options.begin(), "gerar-parametros");
        options.insert(options.end(), {"-o", path.string()});
        const auto r = cli.run(options, {{"VEK_SENHA", password}});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return path;
    }

    std::filesystem::path response(const std::string& name) const { return client.path() / "Protocolos" / name; }
};

TEST_F(ParametersE2E, UnattendedUploadWritesTheResponseAndEndsWithNine)
{
    const auto file = client.write("folha.xml", "<folha>dados de março</folha>\n");
    for (const char* format : {"1", "2"}) {
        SCOPED_TRACE(std::string("format ") + format);
        const std::string answer = std::string("resposta") + format + ".xml";
        const auto par = parameters("envio.par",
                                    {"--formato",
                                     format,
                                     "--registro",
                                     "123456",
                                     "--arquivo",
                                     file.string(),
                                     "--resposta",
                                     answer,
                                     "--aplicacao",
                                     "Folha",
                                     "--versao",
                                     "2.1",
                                     "--info",
                                     " \t competência 03\t\r ",
                                     "--checksum",
                                     "auto",
                                     "--validacao",
                                     "livre"});
        const auto r = cli.run({"parametros", par.string()});
        EXPECT_EQ(r.exitCode, 9) << r.err;
        EXPECT_NE(r.out.find("Protocolo: "), std::string::npos);
        const std::string record = readFile(response(answer));
        EXPECT_NE(record.find("<tipo_Arquivo>XML</tipo_Arquivo>"), std::string::npos) << record;
        EXPECT_NE(record.find("<aplicativo>Folha-2.1</aplicativo>"), std::string::npos) << record;
        EXPECT_NE(record.find("<informacoesArquivo>competência 03</informacoesArquivo>"), std::string::npos) << record;
        EXPECT_EQ(record.find("<protocoloTX></protocoloTX>"), std::string::npos) << record;
    }
}

TEST_F(ParametersE2E, EveryOutcomeHasItsExitCode)
{
    const auto file = client.write("folha.xml", "<folha/>\n");
    const auto binary = client.write("folha.bin", "0101");
    struct Case
    {
        const char* name;
        std::vector<std::string> options;
        std::string password;
        int code;
        std::string message;  // a "VEK: " line, when one is expected
        bool responseWritten;
    };
    const std::vector<std::string> base{"--formato", "1", "--registro", "123456", "--resposta", "r.xml"};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), base.begin(), base.end());
        return extra;
    };
    const Case cases[] = {
        {"checksum differs",
         with({"--arquivo", file.string(), "--checksum", "00000000"}),
         "demo",
         5,
         "VEK: Erro na verificação do CRC do arquivo: ",
         false},
        {"file to send missing",
         with({"--arquivo", (client.path() / "nada.xml").string()}),
         "demo",
         3,
         "VEK: O arquivo a ser enviado não foi encontrado.",
         false},
        {"a directory as the file to send",
         with({"--arquivo", client.path().string()}),
         "demo",
         3,
         "VEK: O arquivo a ser enviado não foi encontrado.",
         false},
        {"wrong password", with({"--arquivo", file.string()}), "errada", 4, "", true},
        {"type the operator may not send", with({"--arquivo", binary.string()}), "demo", 4, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(response("r.xml"));
        const auto par = parameters("caso.par", c.options, c.password);
        const auto r = cli.run({"parametros", par.string()});
        EXPECT_EQ(r.exitCode, c.code) << r.err;
        if (!c.message.empty()) {
            EXPECT_NE(r.err.find(c.message + "\n"), std::string::npos) << r.err;
        }
        EXPECT_EQ(std::filesystem::exists(response("r.xml")), c.responseWritten);
        if (c.responseWritten) {
            // A failed upload answers with an empty protocol and date.
            const std::string record = readFile(response("r.xml"));
            EXPECT_NE(record.find("<dataTransmissao></dataTransmissao><protocoloTX></protocoloTX>"), std::string::npos)
                << record;
        }
    }

    // Files that cannot be used end at once with 1.
    const auto missing = cli.run({"parametros", (client.path() / "nada.par").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("VEK: Arquivo de parâmetros não encontrado.\n"), std::string::npos);
    const auto garbage = cli.run({"parametros", client.write("lixo.par", "não é um arquivo cifrado\n").string()});
    EXPECT_EQ(garbage.exitCode, 1);
    EXPECT_NE(garbage.err.find("VEK: Erro ao ler o arquivo de parâmetro. O conteúdo não é um texto de parâmetros "
                               "cifrado com a chave do VEK.\n"),
              std::string::npos)
        << garbage.err;
}

TEST_F(ParametersE2E, ARunThatEndsWithoutAResponseLeavesNoEarlierOne)
{
    const auto file = client.write("folha.xml", "<folha/>\n");
    const std::vector<std::string> base{"--formato", "1", "--registro", "123456", "--resposta", "r.xml"};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), base.begin(), base.end());
        return extra;
    };
    struct Case
    {
        const char* name;
        std::vector<std::string> options;
        int code;
    };
    const Case cases[] = {
        {"checksum differs", with({"--arquivo", file.string(), "--checksum", "00000000"}), 5},
        {"file to send missing", with({"--arquivo", (client.path() / "nada.xml").string()}), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // An earlier run's successful answer under the same name.
        const auto ok = cli.run({"parametros", parameters("ok.par", with({"--arquivo", file.string()})).string()});
        ASSERT_EQ(ok.exitCode, 9) << ok.err;
        ASSERT_TRUE(std::filesystem::exists(response("r.xml")));

        const auto r = cli.run({"parametros", parameters("caso.par", c.options).string()});
        EXPECT_EQ(r.exitCode, c.code) << r.err;
        EXPECT_FALSE(std::filesystem::exists(response("r.xml"))) << "the earlier answer is still there:\n"
                                                                 << readFile(response("r.xml"));
    }
}

}  // namespace
}  // namespace vek::test
