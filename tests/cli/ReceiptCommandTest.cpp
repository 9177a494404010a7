#include "app/Receipt.h"
#include "cli/Cli.h"
#include "dataset/TransmissionRecord.h"
#include "tests/fixtures/Process.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <regex>
#include <sstream>
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

Result runCli(std::vector<std::string> args)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = run(args, out, err);
    return {code, out.str(), err.str()};
}

// The PDF's text with every run of blanks and line breaks as one space.
std::string pdfText(const fs::path& pdf)
{
    const auto r = test::runProcess({"/usr/bin/env", "pdftotext", "-enc", "UTF-8", pdf.string(), "-"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return std::regex_replace(r.out, std::regex("\\s+"), " ");
}

dataset::RegistroTransmissao registro()
{
    return {.operadora = "123456",
            .tipo_Arquivo = "XML",
            .arquivo = "/home/op/envios/Relação de março.xml",
            .dataTransmissao = "09/12/2026 14:05:09",
            .protocoloTX = "2026000123",
            .aplicativo = "INTEGRADOR-2.1",
            .informacoesArquivo = "Informação: lote nº 7",
            .clienteTransmissao = "VEK-4.0.8",
            .enderecoIP = "192.168.10.20",
            .autenticacao = "A1B2C3D4E5F60718293A4B5C6D7E8F90",
            .modoParametros = true};
}

class ReciboCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifndef VEK_CLI_RECIBO
        GTEST_SKIP() << "vek-cli built without the receipt's drawing";
#endif
    }

    fs::path record(const std::string& name, const dataset::RegistroTransmissao& r)
    {
        EXPECT_TRUE(dataset::gravarRegistroTransmissao(r, box.path(), name));
        return box.path() / "Protocolos" / name;
    }

    test::Sandbox box;
};

TEST_F(ReciboCommand, WritesEveryValueOfTheRecordsReceipt)
{
    const auto path = record("resposta.xml", registro());
    const fs::path pdf = box.path() / "saida" / "r.pdf";
    fs::create_directories(pdf.parent_path());
    const auto r = runCli({"recibo", path.string(), "-o", pdf.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, pdf.string() + "\n");
    EXPECT_EQ(r.err, "");
    const std::string text = pdfText(pdf);
    for (const char* piece : {
             "Sistema de Envio Eletrônico de Arquivos",
             "Protocolo de Transmissão: 2026000123 - VEK-4.0.8 - Aplicativo: INTEGRADOR-2.1",
             "Registro da Operadora: 123456",
             "Arquivo Enviado: Relação de março.xml",
             "Data de Recebimento ZEB: 09/12/2026 14:05:09",
             "Endereço IP: 192.168.10.20",
             "Informações Adicionais: Informação: lote nº 7",
             "A1B2C3D4E5F60718293A4B5C6D7E8F90",
         }) {
        EXPECT_NE(text.find(piece), std::string::npos) << piece << "\nin: " << text;
    }
    EXPECT_EQ(text.find("/home/op"), std::string::npos) << text;
}

TEST_F(ReciboCommand, WithoutAnOutputTheReceiptGoesToTheCurrentDirectoryUnderItsProtocol)
{
    const auto path = record("r.xml", registro());
    const fs::path before = fs::current_path();
    fs::current_path(box.path());
    const auto r = runCli({"recibo", path.string()});
    fs::current_path(before);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, (box.path() / "Recibo-2026000123.pdf").string() + "\n");
    EXPECT_NE(pdfText(box.path() / "Recibo-2026000123.pdf").find("Protocolo de Transmissão: 2026000123"),
              std::string::npos);
}

// The receipt's own values are found from a record named relative to the
// current directory too, and for a record written by an earlier version with
// its companion beside it.
TEST_F(ReciboCommand, TheAddressAndAuthenticationComeWithTheRecordHoweverItIsNamed)
{
    const auto guardado = record("r.xml", registro());
    const auto antigo = box.write("Protocolos/antigo.xml", dataset::registroXml(registro()));
    box.write("Protocolos/antigo.recibo",
              "<recibo><protocoloTX>2026000123</protocoloTX><enderecoIP>10.9.8.7</enderecoIP>"
              "<autenticacao>ANTIGA</autenticacao><modo>interativo</modo></recibo>");
    struct Case
    {
        const char* name;
        fs::path cwd;
        std::string record;
        const char* address;
    };
    const std::array<Case, 3> cases{{
        {"relative, from Protocolos", guardado.parent_path(), "r.xml", "Endereço IP: 192.168.10.20"},
        {"relative, from the base directory", box.path(), "Protocolos/r.xml", "Endereço IP: 192.168.10.20"},
        {"companion beside the record", box.path(), antigo.string(), "Endereço IP: 10.9.8.7"},
    }};
    const fs::path before = fs::current_path();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path pdf = box.path() / "r.pdf";
        fs::current_path(c.cwd);
        const auto r = runCli({"recibo", c.record, "-o", pdf.string()});
        fs::current_path(before);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string text = pdfText(pdf);
        EXPECT_NE(text.find(c.address), std::string::npos) << text;
    }
}

TEST_F(ReciboCommand, WhatHasNoReceiptOrIsNoRecordEndsWithItsReasonAndNoFile)
{
    auto falhou = registro();
    falhou.protocoloTX.clear();
    falhou.dataTransmissao.clear();
    const auto semRecibo = record("falhou.xml", falhou);
    const auto danificado = box.write("Protocolos/danificado.xml", "<VEK><operadora>1</operadora>");
    const auto bom = record("bom.xml", registro());
    const std::string pdf = (box.path() / "r.pdf").string();

    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        int code;
        std::string err;  // what standard error begins with
    };
    const std::vector<Case> cases{
        {"failed upload",
         {"recibo", semRecibo.string(), "-o", pdf},
         1,
         std::string("VEK: ") + app::MsgRegistroSemRecibo + "\n"},
        {"damaged record",
         {"recibo", danificado.string(), "-o", pdf},
         1,
         "Erro: O arquivo \"" + danificado.string() + "\" não é um registro de transmissão do VEK ou está danificado."},
        {"missing record",
         {"recibo", (box.path() / "nada.xml").string(), "-o", pdf},
         1,
         "Erro: Não foi possível abrir o registro"},
        {"output that cannot be written",
         {"recibo", bom.string(), "-o", (box.path() / "nao" / "existe.pdf").string()},
         1,
         "Erro: Não foi possível gravar o arquivo \"" + (box.path() / "nao" / "existe.pdf").string() + "\"."},
        {"no record named", {"recibo", "-o", pdf}, 2, "vek-cli recibo: informe um registro de transmissão"},
        {"two records", {"recibo", bom.string(), semRecibo.string()}, 2, "vek-cli recibo: informe um registro"},
        {"the record itself as output", {"recibo", bom.string(), "-o", bom.string()}, 2, "vek-cli recibo: o PDF"},
    };
    const std::string conteudoBom = test::readFile(bom);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = runCli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.err, 0), 0U) << r.err;
        EXPECT_FALSE(fs::exists(pdf));
    }
    EXPECT_EQ(test::readFile(bom), conteudoBom);
}

// A record from before records kept the address and the authentication still
// prints, and says what it lacks.
TEST_F(ReciboCommand, AnEarlierRecordPrintsWithoutAddressAndAuthentication)
{
    const auto path = box.write("Protocolos/VEK-a.xml-1.xml",
                                "<VEK><operadora>123456</operadora><tipo_Arquivo>xml</tipo_Arquivo>"
                                "<arquivo>/home/op/a.xml</arquivo><dataTransmissao>09/12/2026 14:05:09"
                                "</dataTransmissao><protocoloTX>2026000001</protocoloTX><aplicativo>VEK-4.0.8"
                                "</aplicativo><informacoesArquivo></informacoesArquivo><clienteTransmissao>"
                                "VEK-4.0.8</clienteTransmissao></VEK>");
    const fs::path pdf = box.path() / "antigo.pdf";
    const auto r = runCli({"recibo", path.string(), "-o", pdf.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, std::string("VEK: ") + app::MsgRegistroIncompleto + "\n");
    const std::string text = pdfText(pdf);
    EXPECT_NE(text.find("Protocolo de Transmissão: 2026000001 - VEK-4.0.8 Registro"), std::string::npos) << text;
    EXPECT_NE(text.find("Endereço IP: Informações Adicionais:"), std::string::npos) << text;
}

}  // namespace
}  // namespace vek::cli
