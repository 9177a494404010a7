#include "dataset/TransmissionRecord.h"

#include "dataset/TXMLGenerator.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
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
            .clienteTransmissao = "VEK-4.0.8"};
}

TEST(TransmissionRecord, ExactBytesWithEscapingAndUtf8)
{
    EXPECT_EQ(registroXml(sample()),
              "<VEK><operadora>123456</operadora><tipo_Arquivo>xml</tipo_Arquivo>"
              "<arquivo>/home/op/Relat\xC3\xB3rio &amp; &lt;c\xC3\xB3pia&gt;.xml</arquivo>"
              "<dataTransmissao>09/12/2026 14:05:09</dataTransmissao><protocoloTX>2026000001</protocoloTX>"
              "<aplicativo>VEK-4.0.8</aplicativo><informacoesArquivo></informacoesArquivo><clienteTransmissao>VEK-4.0.8"
              "</clienteTransmissao></VEK>");
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
