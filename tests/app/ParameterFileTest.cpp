#include "app/ParameterFile.h"

#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/THashFunctions.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vek::app {
namespace {

using test::Sandbox;
using Fields = std::vector<std::string>;

std::string enciphered(const std::string& plainUtf8)
{
    return crypto::EncryptVEKText(platform::toWin1252(plainUtf8));
}

TEST(ParameterFields, SplitsAtEverySeparatorButTheLast)
{
    struct Case
    {
        const char* text;
        Fields fields;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a|b", {"a", "b"}},
        {"a||b", {"a", "", "b"}},
        {"a|b|", {"a", "b"}},
        {"|", {""}},
        {"||", {"", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(camposParametros(c.text), c.fields);
    }
}

TEST(ParameterFileType, LastThreeCharactersOfTheExtensionWithTheDot)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/dados/folha.abc", "ABC"},
        {"/dados/folha.Xml", "XML"},
        {"/dados/folha.ab", ".AB"},
        {"/dados/folha.tar.gz", ".GZ"},
        {"/dados/folha.abcd", "BCD"},
        {"/dados/folha.çab", "çAB"},  // only A to Z change case
        {"/dados/folha", ""},
        {"/dados.d/folha", ""},
    };
    for (const auto& [path, type] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(tipoArquivoParametros(path), type);
    }
}

TEST(ParameterText, FieldsByPositionForBothFormats)
{
    const auto p1 = interpretarParametros("1|123456|s3nha|/d/folha.xml|resp.xml|Folha|2.1|  info  |0A1B2C3D||livre");
    EXPECT_EQ(p1.registro, "123456");
    EXPECT_EQ(p1.senha, "s3nha");
    EXPECT_EQ(p1.arquivo, "/d/folha.xml");
    EXPECT_EQ(p1.tipoArquivo, "XML");
    EXPECT_EQ(p1.arquivoResposta, "resp.xml");
    EXPECT_EQ(p1.aplicacao, "Folha");
    EXPECT_EQ(p1.versao, "2.1");
    EXPECT_EQ(p1.informacoes, "info");
    EXPECT_EQ(p1.crcEsperado, "0A1B2C3D");
    EXPECT_EQ(p1.hashEsperado, "");
    EXPECT_EQ(p1.validacaoLivre, "livre");

    const std::string longHash(60, 'F');
    const auto p2 = interpretarParametros("2|1|s|/d/a.txt|r.xml|||x|" + longHash);
    EXPECT_EQ(p2.crcEsperado, "");
    EXPECT_EQ(p2.hashEsperado, std::string(50, 'F'));
    EXPECT_EQ(p2.validacaoLivre, "");  // nine fields: no validation text, no error
}

TEST(ParameterText, AdditionalInformationLosesBlanksAndControlCharactersAtBothEnds)
{
    struct Case
    {
        const char* name;
        std::string field;
        std::string informacoes;
    };
    const Case cases[] = {
        {"trailing TAB and CR", "competência 03\t\r", "competência 03"},
        {"leading LF and blanks", "\n  competência 03", "competência 03"},
        {"other control characters", std::string("\x01\x1F info \x1F\x01"), "info"},
        {"inner ones stay", " a\tb\r\nc ", "a\tb\r\nc"},
        {"nothing visible", " \t\r\n ", ""},
        {"accented ends stay", "\tçã\t", "çã"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto p = interpretarParametros("1|123456|s|/d/folha.xml|r.xml|A|V|" + c.field + "|0A1B2C3D||livre");
        EXPECT_EQ(p.informacoes, c.informacoes);
        EXPECT_EQ(p.crcEsperado, "0A1B2C3D");
    }
}

TEST(ParameterText, TooFewFieldsOrAnUnknownFormatCannotBeRead)
{
    for (const char* text : {"1|123456|s|/d/a.xml|r.xml|A|V|info", "3|123456|s|/d/a.xml|r.xml|A|V|info|X", ""}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(interpretarParametros(text), Error);
    }
}

TEST(ParameterFile, WrittenFileReadsBackWhateverItsLineEnds)
{
    Sandbox box;
    ParametrosEnvio p;
    p.formato = "1";
    p.registro = "123456";
    p.senha = "senha çé";
    p.arquivo = "/dados/Relatório.xml";
    p.arquivoResposta = "resposta.xml";
    p.aplicacao = "Aplicação";
    p.versao = "1.0";
    p.informacoes = "informação";
    p.crcEsperado = "DEADBEEF";
    p.validacaoLivre = "livre";
    const std::string text = cifrarParametros(p);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    const std::string bare = text.substr(0, text.size() - 2);
    for (const auto& content : {text, bare, bare + "\n"}) {
        const auto back = lerArquivoParametros(box.write("p.par", content));
        EXPECT_EQ(back.senha, p.senha);
        EXPECT_EQ(back.arquivo, p.arquivo);
        EXPECT_EQ(back.tipoArquivo, "XML");
        EXPECT_EQ(back.aplicacao, p.aplicacao);
        EXPECT_EQ(back.informacoes, p.informacoes);
        EXPECT_EQ(back.crcEsperado, p.crcEsperado);
        EXPECT_EQ(back.validacaoLivre, "livre");
    }
    // Without a checksum and a validation text the ninth field is empty and
    // must still count.
    p.crcEsperado.clear();
    p.validacaoLivre.clear();
    const auto back = lerArquivoParametros(box.write("p.par", cifrarParametros(p)));
    EXPECT_EQ(back.crcEsperado, "");
    EXPECT_EQ(back.informacoes, p.informacoes);
}

TEST(ParameterFile, StartChecksGiveTheirCodesAndMessages)
{
    Sandbox box;
    const auto existing = box.write("dados.xml", "<a/>");
    struct Case
    {
        const char* name;
        std::string plain;
        int code;
        std::string messageStart;
    };
    const std::string e = existing.string();
    const Case cases[] = {
        {"eight fields", "1|1|s|" + e + "|r.xml|A|V|info", CodigoSaidaErroParametros, MsgErroLerParametro},
        {"response outside Protocolos",
         "1|1|s|" + e + "|../r.xml|A|V|i||",
         CodigoSaidaErroResposta,
         MsgErroArquivoResposta},
        {"response in a subdirectory",
         "1|1|s|" + e + "|sub/r.xml|A|V|i||",
         CodigoSaidaErroResposta,
         MsgErroArquivoResposta},
        {"file to send missing",
         "1|1|s|" + (box.path() / "nada.xml").string() + "|r.xml|A|V|i||",
         CodigoSaidaArquivoAusente,
         MsgArquivoEnviarNaoEncontrado},
        {"file to send is a directory",
         "1|1|s|" + box.path().string() + "|r.xml|A|V|i||",
         CodigoSaidaArquivoAusente,
         MsgArquivoEnviarNaoEncontrado},
        {"all well", "2|1|s|" + e + "|r.xml|A|V|i||", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParametrosEnvio p;
        const auto failure = verificarInicioParametros(box.write("p.par", enciphered(c.plain)), p);
        if (c.code == 0) {
            EXPECT_FALSE(failure.has_value());
            EXPECT_EQ(p.arquivo, e);
            continue;
        }
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->codigo, c.code);
        EXPECT_EQ(failure->mensagem.rfind(c.messageStart, 0), 0U) << failure->mensagem;
    }
    // The probe leaves no file behind.
    EXPECT_FALSE(std::filesystem::exists(box.path() / "Protocolos" / "r.xml"));
}

TEST(ParameterFile, ProbingTheResponseLeavesNoEarlierAnswerBehind)
{
    // Whatever ends the run after the probe (a missing file to send, a
    // checksum difference, a failure before any outcome), an earlier run's
    // response must not be there to be read as this run's.
    Sandbox box;
    const auto existing = box.write("dados.xml", "<a/>");
    const std::pair<const char*, std::string> toSend[] = {
        {"file to send missing", (box.path() / "nada.xml").string()},
        {"file to send present", existing.string()},
    };
    for (const auto& [name, arquivo] : toSend) {
        SCOPED_TRACE(name);
        std::filesystem::create_directories(box.path() / "Protocolos");
        box.write("Protocolos/r.xml", "<VEK><protocoloTX>anterior</protocoloTX></VEK>");
        ParametrosEnvio p;
        const auto failure =
            verificarInicioParametros(box.write("p.par", enciphered("1|1|s|" + arquivo + "|r.xml|A|V|i||")), p);
        EXPECT_NE(failure.has_value() ? failure->codigo : 0, CodigoSaidaErroResposta);
        EXPECT_FALSE(std::filesystem::exists(box.path() / "Protocolos" / "r.xml"));
    }
}

TEST(ParameterFile, ProbingTheResponseRefusesWhatIsNoPlainFile)
{
    Sandbox box;
    const auto pasta = box.path() / "Protocolos";
    std::filesystem::create_directories(pasta / "pasta.xml");
    const auto alvo = box.write("alvo.xml", "<alvo/>");
    std::filesystem::create_symlink(alvo, pasta / "elo.xml");

    EXPECT_FALSE(arquivoRespostaPodeSerCriado("pasta.xml"));
    EXPECT_TRUE(std::filesystem::is_directory(pasta / "pasta.xml"));
    // A link is not followed: its target keeps its content.
    EXPECT_FALSE(arquivoRespostaPodeSerCriado("elo.xml"));
    EXPECT_TRUE(std::filesystem::is_symlink(pasta / "elo.xml"));
    EXPECT_EQ(box.read("alvo.xml"), "<alvo/>");
    EXPECT_FALSE(arquivoRespostaPodeSerCriado(""));
    EXPECT_FALSE(arquivoRespostaPodeSerCriado(".."));
    EXPECT_TRUE(arquivoRespostaPodeSerCriado("novo.xml"));
    EXPECT_FALSE(std::filesystem::exists(pasta / "novo.xml"));
}

TEST(ParameterFile, ChecksumIsComparedExactlyAndThenSent)
{
    Sandbox box;
    const auto file = box.write("dados.txt", "conteúdo");
    const std::string tiger = crypto::THashFunctions::TigerFileHash(file.string());
    std::string lowerTiger = tiger;
    std::transform(lowerTiger.begin(), lowerTiger.end(), lowerTiger.begin(), ::tolower);
    struct Case
    {
        const char* name;
        std::string crc;
        std::string hash;
        std::optional<std::string> message;
        std::string sent;
    };
    const Case cases[] = {
        {"right CRC", "E06973CE", "", std::nullopt, "E06973CE"},
        {"CRC in lower case", "e06973ce", "", MsgErroCrc, ""},
        {"right Tiger hash", "", tiger, std::nullopt, tiger},
        {"Tiger hash in lower case", "", lowerTiger, MsgErroTiger, ""},
        {"nothing to check", "", "", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppState estado;
        estado.arquivo = file.string();
        estado.crcEsperado = c.crc;
        estado.hashEsperado = c.hash;
        channel::TCanalZEBCliente canal;
        EXPECT_EQ(verificarChecksum(estado, canal), c.message);
        EXPECT_EQ(canal.HashArquivo, c.sent);
    }
}

TEST(ParameterFile, TypeItemNamesTheChannelsApplication)
{
    channel::TCanalZEBCliente canal;
    EXPECT_EQ(itemTipoParametros(canal).rfind("Arquivo do ", 0), 0U);
    EXPECT_EQ(itemTipoParametros(canal), "Arquivo do " + canal.ID_Aplicacao_no_Servidor());
}

}  // namespace
}  // namespace vek::app
