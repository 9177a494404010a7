#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

#include <regex>

namespace vek::test {
namespace {

namespace fs = std::filesystem;

// The value of the "Name: value" line of vek-cli's output.
std::string line(const std::string& out, const std::string& name)
{
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("(^|\\n)" + name + ": ([^\\n]*)"))) {
        ADD_FAILURE() << name << " not in\n" << out;
        return {};
    }
    return m[2];
}

std::string pdfText(const fs::path& pdf)
{
    const auto r = runProcess({"/usr/bin/env", "pdftotext", "-enc", "UTF-8", pdf.string(), "-"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return std::regex_replace(r.out, std::regex("\\s+"), " ");
}

class ReceiptE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifndef VEK_CLI_RECIBO
        GTEST_SKIP() << "vek-cli built without the receipt's drawing";
#endif
    }

    Sandbox server{false};
    Sandbox client{false};
    ZebdProcess zebd{server.path() / "dados"};
    CliClient cli{client, zebd.messagePort()};
};

// Sent today, printed again later from the record alone: every value the
// upload ended with is on the page.
TEST_F(ReceiptE2E, AnEarlierUploadsReceiptFromItsRecord)
{
    const auto file = client.write("envios/Relação de março.xml", "<folha>março</folha>\n");
    const auto sent = cli.run({"enviar", "--registro", "123456", file.string()});
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    const std::string registro = line(sent.out, "Registro");
    ASSERT_TRUE(fs::exists(registro));

    const fs::path pdf = client.path() / "recibos" / "março.pdf";
    fs::create_directories(pdf.parent_path());
    // No display is needed, whatever platform the environment asks Qt for.
    const auto r = cli.run({"recibo", registro, "-o", pdf.string()}, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ""}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, pdf.string() + "\n");
    EXPECT_EQ(r.err, "");
    const std::string text = pdfText(pdf);
    for (const std::string& piece : {
             "Protocolo de Transmissão: " + line(sent.out, "Protocolo") + " - VEK-4.0.8 Registro",
             std::string("Registro da Operadora: 123456"),
             std::string("Arquivo Enviado: Relação de março.xml"),
             "Data de Recebimento ZEB: " + line(sent.out, "DataHora"),
             "Endereço IP: " + line(sent.out, "EnderecoIP"),
             std::string("Informações Adicionais: ATENÇÃO:"),
             line(sent.out, "Autenticacao"),
         }) {
        EXPECT_NE(text.find(piece), std::string::npos) << piece << "\nin: " << text;
    }
}

// An unattended upload's receipt names the application; a failed one has none.
TEST_F(ReceiptE2E, UnattendedUploadsReceiptAndAFailedOnesRecord)
{
    const auto file = client.write("folha.xml", "<folha/>\n");
    const auto binary = client.write("folha.bin", "0101");
    const auto parameters = [&](const fs::path& arquivo, const std::string& resposta) {
        const auto par = client.path() / (resposta + ".par");
        const auto r = cli.run({"gerar-parametros",
                                "--formato",
                                "1",
                                "--registro",
                                "123456",
                                "--arquivo",
                                arquivo.string(),
                                "--resposta",
                                resposta,
                                "--aplicacao",
                                "Folha",
                                "--versao",
                                "2.1",
                                "--info",
                                "competência 03",
                                "-o",
                                par.string()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return par;
    };

    const auto sent = cli.run({"parametros", parameters(file, "ok.xml").string()});
    ASSERT_EQ(sent.exitCode, 9) << sent.err;
    const fs::path pdf = client.path() / "ok.pdf";
    auto r = cli.run({"recibo", (client.path() / "Protocolos" / "ok.xml").string(), "-o", pdf.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = pdfText(pdf);
    EXPECT_NE(
        text.find("Protocolo de Transmissão: " + line(sent.out, "Protocolo") + " - VEK-4.0.8 - Aplicativo: Folha-2.1"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("Informações Adicionais: competência 03"), std::string::npos) << text;
    EXPECT_NE(text.find(line(sent.out, "Autenticacao")), std::string::npos) << text;

    // The operator may not send this type: the response records the attempt
    // without a protocol.
    const auto refused = cli.run({"parametros", parameters(binary, "recusado.xml").string()});
    ASSERT_EQ(refused.exitCode, 4) << refused.err;
    const fs::path nothing = client.path() / "recusado.pdf";
    r = cli.run({"recibo", (client.path() / "Protocolos" / "recusado.xml").string(), "-o", nothing.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("VEK: Este registro é de um envio que não foi concluído"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(nothing));
}

}  // namespace
}  // namespace vek::test
