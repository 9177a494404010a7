#include "dataset/TransmissionRecord.h"

#include "dataset/TXMLGenerator.h"
#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace vek::dataset {
namespace {

RegistroTransmissao sample()
{
    return {.operadora = "123456",
            .tipo_Arquivo = "xml",
            .arquivo = "/home/op/Relatório & <cópia>.xml",
            .dataTransmissao = "09/12/2026 14:05:09",
            .protocoloTX = "2026000001",
            .aplicativo = "VEK-4.0.8",
            .informacoesArquivo = "",
            .clienteTransmissao = "VEK-4.0.8",
            .enderecoIP = "192.168.10.20",
            .autenticacao = "A1B2C3D4",
            .modoParametros = false};
}

void expectSame(const RegistroTransmissao& a, const RegistroTransmissao& b);

// The record is read by other programs as it is (in parameter-file mode it is
// their response file): exactly the eight elements, whatever the mode, on
// disk as in memory.
TEST(TransmissionRecord, ExactBytesWithEscapingAndUtf8InBothModes)
{
    const std::string expected =
        "<VEK><operadora>123456</operadora><tipo_Arquivo>xml</tipo_Arquivo>"
        "<arquivo>/home/op/Relat\xC3\xB3rio &amp; &lt;c\xC3\xB3pia&gt;.xml</arquivo>"
        "<dataTransmissao>09/12/2026 14:05:09</dataTransmissao><protocoloTX>2026000001</protocoloTX>"
        "<aplicativo>VEK-4.0.8</aplicativo><informacoesArquivo></informacoesArquivo><clienteTransmissao>VEK-4.0.8"
        "</clienteTransmissao></VEK>";
    for (const bool parametros : {false, true}) {
        SCOPED_TRACE(parametros ? "parameter file" : "interactive");
        test::Sandbox box;
        auto r = sample();
        r.modoParametros = parametros;
        EXPECT_EQ(registroXml(r), expected);
        ASSERT_TRUE(gravarRegistroTransmissao(r, box.path(), "resposta.xml"));
        EXPECT_EQ(box.read("Protocolos/resposta.xml"), expected);
    }
}

TEST(TransmissionRecord, TheReceiptsOwnValuesGoInACompanionOfTheProgramsOwn)
{
    const std::vector<std::pair<std::string, std::string>> beside{
        {"/p/VEK-a.xml-1.xml", "/p/VEK-a.xml-1.recibo"},
        {"/p/RESPOSTA.XML", "/p/RESPOSTA.recibo"},
        {"/p/a.zip.registro.xml", "/p/a.zip.registro.recibo"},
        {"/p/resposta.txt", "/p/resposta.txt.recibo"},
        {"/p/resposta", "/p/resposta.recibo"},
    };
    for (const auto& [record, companion] : beside) {
        EXPECT_EQ(caminhoReciboAoLado(record), std::filesystem::path(companion)) << record;
    }
    const std::vector<std::pair<std::string, std::optional<std::string>>> kept{
        {"/b/Protocolos/VEK-a.xml-1.xml", "/b/.recibos/VEK-a.xml-1.xml"},
        {"/b/Protocolos/r2.recibo", "/b/.recibos/r2.recibo"},
        {"/b/Protocolos/sub/../resposta", "/b/.recibos/resposta"},
        {"/b/enviados/a.xml.registro.xml", std::nullopt},
        {"/b/protocolos/r.xml", std::nullopt},
    };
    for (const auto& [record, companion] : kept) {
        const auto found = caminhoReciboGuardado(record);
        EXPECT_EQ(found ? std::optional(found->string()) : std::nullopt, companion) << record;
    }

    test::Sandbox box;
    auto r = sample();
    r.modoParametros = true;
    ASSERT_TRUE(gravarRegistroTransmissao(r, box.path(), "resposta.xml"));
    EXPECT_EQ(box.read(".recibos/resposta.xml"),
              "<recibo><protocoloTX>2026000001</protocoloTX><enderecoIP>192.168.10.20</enderecoIP>"
              "<autenticacao>A1B2C3D4</autenticacao><modo>parametros</modo></recibo>");
    EXPECT_EQ(companheiroDoRegistro(box.path() / "Protocolos" / "resposta.xml"),
              box.path() / ".recibos" / "resposta.xml");
    // Nothing but the record goes in Protocolos, whose names are the caller's.
    std::vector<std::string> inProtocolos;
    for (const auto& e : std::filesystem::directory_iterator(box.path() / "Protocolos")) {
        inProtocolos.push_back(e.path().filename().string());
    }
    EXPECT_EQ(inProtocolos, std::vector<std::string>{"resposta.xml"});
}

// In parameter-file mode the calling program names the response file; no
// record's companion may take the place of a file it named, whatever the
// names of later runs.
TEST(TransmissionRecord, NoCompanionReplacesAFileTheCallerNamed)
{
    struct Case
    {
        const char* first;
        const char* second;
    };
    const std::array<Case, 4> cases{{
        {"r2.recibo", "r2.xml"},
        {"r2.recibo", "r2.XML"},
        {"r2.txt.recibo", "r2.txt"},
        {"r2.recibo", "r2"},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " then " + c.second);
        test::Sandbox box;
        auto primeiro = sample();
        primeiro.modoParametros = true;
        auto segundo = sample();
        segundo.protocoloTX = "2026000002";
        segundo.enderecoIP = "10.0.0.2";
        ASSERT_TRUE(gravarRegistroTransmissao(primeiro, box.path(), c.first));
        ASSERT_TRUE(gravarRegistroTransmissao(segundo, box.path(), c.second));
        EXPECT_EQ(box.read(std::string("Protocolos/") + c.first), registroXml(primeiro));
        EXPECT_EQ(box.read(std::string("Protocolos/") + c.second), registroXml(segundo));
        expectSame(lerRegistroTransmissao(box.path() / "Protocolos" / c.first), primeiro);
        expectSame(lerRegistroTransmissao(box.path() / "Protocolos" / c.second), segundo);
    }

    // A file of the caller's with a companion's name beside the record stays,
    // also when the record cannot be written.
    test::Sandbox box;
    box.write("Protocolos/dados.recibo", "do chamador");
    ASSERT_TRUE(gravarRegistroTransmissao(sample(), box.path(), "dados.xml"));
    std::filesystem::create_directory(box.path() / "Protocolos" / "s.xml");
    box.write("Protocolos/s.recibo", "também do chamador");
    EXPECT_FALSE(gravarRegistroTransmissao(sample(), box.path(), "s.xml"));
    EXPECT_EQ(box.read("Protocolos/dados.recibo"), "do chamador");
    EXPECT_EQ(box.read("Protocolos/s.recibo"), "também do chamador");
}

// A companion that does not belong to the record is never read with it: the
// record then prints as one written before companions existed.
TEST(TransmissionRecord, AStaleOrUnsoundCompanionIsNotReadWithTheRecord)
{
    const std::vector<std::pair<const char*, std::string>> cases{
        {"of another protocol",
         "<recibo><protocoloTX>1999</protocoloTX><enderecoIP>9.9.9.9</enderecoIP><autenticacao>X</autenticacao>"
         "<modo>parametros</modo></recibo>"},
        {"not XML", "Protocolo: 1"},
        {"another root", "<VEK><protocoloTX>2026000001</protocoloTX><enderecoIP>9.9.9.9</enderecoIP></VEK>"},
    };
    // In the program's own place, and beside the record as earlier versions kept it.
    for (const char* place : {".recibos/r.xml", "Protocolos/r.recibo"}) {
        test::Sandbox box;
        ASSERT_TRUE(gravarRegistroTransmissao(sample(), box.path(), "r.xml"));
        std::filesystem::remove(box.path() / ".recibos" / "r.xml");
        const auto record = box.path() / "Protocolos" / "r.xml";
        for (const auto& [name, content] : cases) {
            SCOPED_TRACE(std::string(place) + ", " + name);
            box.write(place, content);
            const auto read = lerRegistroTransmissao(record);
            EXPECT_EQ(read.protocoloTX, "2026000001");
            EXPECT_EQ(read.enderecoIP, "");
            EXPECT_EQ(read.autenticacao, "");
            EXPECT_FALSE(read.modoParametros);
            EXPECT_EQ(companheiroDoRegistro(record), std::nullopt);
        }
    }
}

// Records written by earlier versions keep their companion beside them; it
// is read when the program's own place has none of the record's protocol.
TEST(TransmissionRecord, ACompanionBesideTheRecordIsStillRead)
{
    const std::string besideXml = "<recibo><protocoloTX>2026000001</protocoloTX><enderecoIP>10.1.1.1</enderecoIP>"
                                  "<autenticacao>ANTIGA</autenticacao><modo>parametros</modo></recibo>";
    struct Case
    {
        const char* name;
        std::optional<std::string> kept;  // what the program's own place holds
        const char* address;
        const char* companion;
    };
    const std::array<Case, 3> cases{{
        {"none kept", std::nullopt, "10.1.1.1", "Protocolos/r.recibo"},
        {"a stale one kept",
         "<recibo><protocoloTX>1999</protocoloTX><enderecoIP>9.9.9.9</enderecoIP></recibo>",
         "10.1.1.1",
         "Protocolos/r.recibo"},
        {"a sound one kept",
         "<recibo><protocoloTX>2026000001</protocoloTX><enderecoIP>192.168.10.20</enderecoIP>"
         "<autenticacao>A1B2C3D4</autenticacao><modo>interativo</modo></recibo>",
         "192.168.10.20",
         ".recibos/r.xml"},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        const auto record = box.write("Protocolos/r.xml", registroXml(sample()));
        box.write("Protocolos/r.recibo", besideXml);
        if (c.kept) {
            box.write(".recibos/r.xml", *c.kept);
        }
        EXPECT_EQ(lerRegistroTransmissao(record).enderecoIP, c.address);
        EXPECT_EQ(companheiroDoRegistro(record), box.path() / c.companion);
    }
    // A record kept elsewhere, with its companion beside it.
    test::Sandbox box;
    const auto elsewhere = box.write("guardados/r.xml", registroXml(sample()));
    box.write("guardados/r.recibo", besideXml);
    EXPECT_EQ(lerRegistroTransmissao(elsewhere).autenticacao, "ANTIGA");
    EXPECT_TRUE(lerRegistroTransmissao(elsewhere).modoParametros);
}

// A record rewritten under the same name (a parameter-file run writes its
// response twice) leaves the companion of the last record; when that one
// cannot be written, the earlier one is gone rather than kept.
TEST(TransmissionRecord, ARewrittenRecordKeepsOnlyItsOwnCompanion)
{
    test::Sandbox box;
    const auto record = box.path() / "Protocolos" / "r.xml";
    auto falhou = sample();
    falhou.protocoloTX.clear();
    falhou.enderecoIP.clear();
    falhou.autenticacao.clear();
    ASSERT_TRUE(gravarRegistroTransmissao(falhou, box.path(), "r.xml"));
    ASSERT_TRUE(gravarRegistroTransmissao(sample(), box.path(), "r.xml"));
    EXPECT_EQ(lerRegistroTransmissao(record).autenticacao, "A1B2C3D4");

    // The companion's name taken by a directory: it cannot be written.
    std::filesystem::remove(box.path() / ".recibos" / "r.xml");
    std::filesystem::create_directory(box.path() / ".recibos" / "r.xml");
    auto outro = sample();
    outro.protocoloTX = "2026000002";
    EXPECT_TRUE(gravarRegistroTransmissao(outro, box.path(), "r.xml"));
    EXPECT_EQ(lerRegistroTransmissao(record).protocoloTX, "2026000002");
    EXPECT_EQ(lerRegistroTransmissao(record).enderecoIP, "");

    // The record itself not written: the old companion does not stay.
    ASSERT_TRUE(gravarRegistroTransmissao(sample(), box.path(), "s.xml"));
    ASSERT_TRUE(std::filesystem::exists(box.path() / ".recibos" / "s.xml"));
    std::filesystem::remove(box.path() / "Protocolos" / "s.xml");
    std::filesystem::create_directory(box.path() / "Protocolos" / "s.xml");
    EXPECT_FALSE(gravarRegistroTransmissao(outro, box.path(), "s.xml"));
    EXPECT_FALSE(std::filesystem::exists(box.path() / ".recibos" / "s.xml"));
}

void expectSame(const RegistroTransmissao& a, const RegistroTransmissao& b)
{
    EXPECT_EQ(a.operadora, b.operadora);
    EXPECT_EQ(a.tipo_Arquivo, b.tipo_Arquivo);
    EXPECT_EQ(a.arquivo, b.arquivo);
    EXPECT_EQ(a.dataTransmissao, b.dataTransmissao);
    EXPECT_EQ(a.protocoloTX, b.protocoloTX);
    EXPECT_EQ(a.aplicativo, b.aplicativo);
    EXPECT_EQ(a.informacoesArquivo, b.informacoesArquivo);
    EXPECT_EQ(a.clienteTransmissao, b.clienteTransmissao);
    EXPECT_EQ(a.enderecoIP, b.enderecoIP);
    EXPECT_EQ(a.autenticacao, b.autenticacao);
    EXPECT_EQ(a.modoParametros, b.modoParametros);
}

TEST(TransmissionRecord, ReadsBackWhatWasWritten)
{
    test::Sandbox box;
    auto parametros = sample();
    parametros.modoParametros = true;
    parametros.informacoesArquivo = "Informa\xC3\xA7\xC3\xA3o: lote <7> & \"8\"\nsegunda linha";
    auto falhou = sample();
    falhou.dataTransmissao.clear();
    falhou.protocoloTX.clear();
    falhou.enderecoIP.clear();
    falhou.autenticacao.clear();
    const std::vector<std::pair<const char*, RegistroTransmissao>> cases{
        {"interactive", sample()},
        {"parameter file, escaped and accented text", parametros},
        {"failed upload", falhou},
    };
    for (const auto& [name, registro] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(gravarRegistroTransmissao(registro, box.path(), "r.xml"));
        expectSame(lerRegistroTransmissao(box.path() / "Protocolos" / "r.xml"), registro);
    }
}

// Records without a companion (written before companions existed) still
// read, as interactive uploads without the address and the authentication.
TEST(TransmissionRecord, AnEarlierRecordReadsWithoutTheReceiptsOwnElements)
{
    test::Sandbox box;
    const auto path = box.write("Protocolos/VEK-a.xml-1.xml",
                                "<VEK><operadora>123456</operadora><tipo_Arquivo>xml</tipo_Arquivo>"
                                "<arquivo>/home/op/a.xml</arquivo><dataTransmissao>09/12/2026 14:05:09"
                                "</dataTransmissao><protocoloTX>2026000001</protocoloTX><aplicativo>X-1"
                                "</aplicativo><informacoesArquivo>lote</informacoesArquivo><clienteTransmissao>"
                                "VEK-4.0.8</clienteTransmissao></VEK>");
    const auto r = lerRegistroTransmissao(path);
    EXPECT_EQ(r.protocoloTX, "2026000001");
    EXPECT_EQ(r.aplicativo, "X-1");
    EXPECT_EQ(r.informacoesArquivo, "lote");
    EXPECT_EQ(r.enderecoIP, "");
    EXPECT_EQ(r.autenticacao, "");
    EXPECT_FALSE(r.modoParametros);
}

TEST(TransmissionRecord, WhatIsNoRecordIsRefusedWithItsName)
{
    test::Sandbox box;
    const std::string eight = "<operadora>1</operadora><tipo_Arquivo>x</tipo_Arquivo><arquivo>a</arquivo>"
                              "<dataTransmissao/><protocoloTX>1</protocoloTX><aplicativo/><informacoesArquivo/>"
                              "<clienteTransmissao/>";
    struct Case
    {
        const char* name;
        std::string content;
        const char* text;
    };
    const std::vector<Case> cases{
        {"not XML", "Protocolo: 1\n", "não é um registro de transmissão do VEK ou está danificado"},
        {"cut short", "<VEK>" + eight.substr(0, 60), "não é um registro de transmissão do VEK ou está danificado"},
        {"another root",
         "<RECIBO>" + eight + "</RECIBO>",
         "não é um registro de transmissão do VEK ou está danificado"},
        {"an element missing",
         "<VEK>" + eight.substr(eight.find("<tipo_Arquivo>")) + "</VEK>",
         "não é um registro de transmissão do VEK ou está danificado"},
        {"far larger than a record",
         "<VEK>" + eight + "<x>" + std::string(2 * 1024 * 1024, 'a') + "</x></VEK>",
         "não é um registro de transmissão do VEK ou está danificado"},
        {"empty", "", "não é um registro de transmissão do VEK ou está danificado"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = box.write("r.xml", c.content);
        try {
            (void)lerRegistroTransmissao(path);
            ADD_FAILURE() << "read";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("\"" + path.string() + "\" " + c.text), std::string::npos) << e.what();
        }
    }
    // The sample with every element present reads.
    EXPECT_EQ(lerRegistroTransmissao(box.write("ok.xml", "<VEK>" + eight + "</VEK>")).protocoloTX, "1");
    try {
        (void)lerRegistroTransmissao(box.path() / "nao-existe.xml");
        ADD_FAILURE() << "read";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Não foi possível abrir o registro"), std::string::npos) << e.what();
        EXPECT_EQ(e.code(), ENOENT);
    }
}

// Characters XML 1.0 cannot hold, and bytes that are not UTF-8, would leave a
// document that conforming parsers reject as a whole.
TEST(TransmissionRecord, ValuesStayWellFormedXml)
{
    struct Case
    {
        const char* name;
        std::string value;
        std::string stored;
    };
    const std::vector<Case> cases{
        {"controls", std::string("lote\x01 7\x0B\x1F", 9), "lote? 7??"},
        {"zero byte", std::string("a\0b", 3), "a?b"},
        {"tab and line ends kept", "a\tb\nc", "a\tb\nc"},
        {"not UTF-8", "Relat\xF3rio", "Relatrio"},
        {"accents and beyond the basic plane",
         "Informa\xC3\xA7\xC3\xA3o \xF0\x9F\x93\x84",
         "Informa\xC3\xA7\xC3\xA3o \xF0\x9F\x93\x84"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = sample();
        r.informacoesArquivo = c.value;
        const std::string xml = registroXml(r);
        EXPECT_NE(xml.find("<informacoesArquivo>" + c.stored + "</informacoesArquivo>"), std::string::npos) << xml;
        EXPECT_EQ(xml.find("&#"), std::string::npos) << xml;
    }
}

TEST(TransmissionRecord, CreatesProtocolosAndReplacesAnExistingFile)
{
    test::Sandbox box;
    box.write("Protocolos/VEK-a.xml-1.xml",
              "antigo e mais comprido do que o novo registro, muito mais comprido......"
              "........................................................................"
              "........................................................................"
              "........................................................................"
              "........................................................................");
    std::filesystem::remove_all(box.path() / "Protocolos");
    EXPECT_TRUE(gravarRegistroTransmissao(sample(), box.path(), "VEK-a.xml-1.xml"));
    EXPECT_EQ(box.read("Protocolos/VEK-a.xml-1.xml"), registroXml(sample()));
    auto other = sample();
    other.protocoloTX = "2";
    EXPECT_TRUE(gravarRegistroTransmissao(other, box.path(), "VEK-a.xml-1.xml"));
    EXPECT_EQ(box.read("Protocolos/VEK-a.xml-1.xml"), registroXml(other));
}

TEST(TransmissionRecord, FailuresAreSwallowed)
{
    test::Sandbox box;
    EXPECT_FALSE(gravarRegistroTransmissao(sample(), box.path() / "nao" / "existe", "x.xml"));
    EXPECT_FALSE(gravarRegistroTransmissao(sample(), box.path(), "sub/dir/invalido.xml"));
}

TEST(TXMLGenerator, TextElementsGoUnderCurrentOrUnderTheSelectedNode)
{
    TXMLGenerator xml("raiz");
    const auto a = xml.AddElement("a", false);
    xml.AddTextElement("t1", "1");  // under a, which became current
    xml.SetCurrentElement(xml.Root());
    xml.AddElement("b", true);
    xml.AddTextElement("t2", "2", "a");
    xml.AddTextElement("t3", "3", "nada");  // no match: nothing appended
    xml.AddTextElement("t4", "4", "[[[");   // invalid path: nothing appended
    xml.AddTextElement("t5", "5");          // current is the root again
    EXPECT_FALSE(a.empty());
    EXPECT_FALSE(xml.FindNode("a/t2").empty());
    EXPECT_TRUE(xml.FindNode("b/t2").empty());
    EXPECT_EQ(xml.toString(), "<raiz><a><t1>1</t1><t2>2</t2></a><b/><t5>5</t5></raiz>");
}

}  // namespace
}  // namespace vek::dataset
