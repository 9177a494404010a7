#include "dataset/DataPacket.h"

#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

namespace vek::dataset {
namespace {

const std::string DataDir = VEK_TEST_DATA_DIR "/dataset/";

Decimal dec(const char* text)
{
    return *Decimal::parse(text);
}

std::vector<Row> sampleListRows()
{
    const auto& f = ListTable::definition();
    return {
        makeRow(f,
                {{field::NM_ARQUIVO, std::string("retorno.xml")},
                 {field::DE_CONTEUDO_ARQUIVO, std::string("Retorno & <ajustes> \"aspas\" 'apóstrofo'\tTAB\r\nCRLF")},
                 {field::TAMANHO, dec("-123456789012345678901234.12345678")},
                 {field::MEDIDA, std::string("Mbytes")},
                 {field::ULT_DOWNLOAD, Timestamp{1, 1, 1, 0, 0, 0, 0}},
                 {field::DT_CADASTRO, Timestamp{2026, 12, 9, 14, 5, 9, 123}},
                 {field::ID_ARQUIVO_DISPONIVEL, dec("1001")},
                 {field::CD_CHAVE_CRIPTOGRAFIA, std::string("")},
                 {field::DE_PATH_ARQUIVO, std::string(255, 'p')},
                 {field::CD_TIPO_ARQUIVO, std::string("ÇÃ€")}}),
        // Every optional field null; the longest name in characters, two bytes each.
        makeRow(f,
                {{field::NM_ARQUIVO,
                  [] {
                      std::string s;
                      for (int i = 0; i < 200; ++i) {
                          s += "é";
                      }
                      return s;
                  }()},
                 {field::DE_CONTEUDO_ARQUIVO, std::string("✓ 😀")},
                 {field::DT_CADASTRO, Timestamp{9999, 12, 31, 23, 59, 59, 999}},
                 {field::ID_ARQUIVO_DISPONIVEL, dec("0.00000001")},
                 {field::DE_PATH_ARQUIVO, std::string("/x")},
                 {field::CD_TIPO_ARQUIVO, std::string("XML")}}),
    };
}

TEST(DataPacket, ReadingWhatWasWrittenGivesTheSameRows)
{
    const auto& list = ListTable::definition();
    const auto rows = sampleListRows();
    EXPECT_EQ(readDataPacket(writeDataPacket(list, rows), list, "lista.zeb"), rows);

    const auto& hist = HistoryTable::definition();
    const std::vector<Row> history{
        makeRow(hist,
                {{field::CD_OPERADORA, std::string("123456")},
                 {field::DT_TRANSMISSAO, Timestamp{2026, 2, 28, 1, 2, 3, 4}},
                 {field::NM_ARQUIVO, std::string("a.xml")},
                 {field::CD_PROTOCOLO, std::string(4000, '9')},
                 {field::QT_AVISOS, dec("0")},
                 {field::QT_ERROS, dec("17")}}),
        makeRow(hist, {{field::CD_OPERADORA, std::string("000001")}}),
    };
    EXPECT_EQ(readDataPacket(writeDataPacket(hist, history), hist, "historico.zeb"), history);
    EXPECT_TRUE(readDataPacket(writeDataPacket(hist, {}), hist, "vazio.zeb").empty());
}

TEST(DataPacket, AnotherXmlParserReadsTheWrittenValues)
{
    test::Sandbox box;
    saveDataPacket(box.path() / "lista.zeb", ListTable::definition(), sampleListRows());
    const std::string script = R"(import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(root.tag, root.get("Version"), len(root.find("METADATA/FIELDS")), len(root.find("ROWDATA")))
row = root.find("ROWDATA")[0]
sys.stdout.buffer.write((repr(row.get("DE_CONTEUDO_ARQUIVO")) + "\n").encode("utf-8"))
sys.stdout.buffer.write((row.get("CD_TIPO_ARQUIVO") + " " + row.get("TAMANHO") + " " + row.get("DT_CADASTRO") + "\n").encode("utf-8"))
)";
    const auto scriptPath = box.write("ler.py", script);
    const std::string command = "/usr/bin/python3 " + scriptPath.string() + " " + (box.path() / "lista.zeb").string();
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[1024];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        out.append(buf, n);
    }
    ASSERT_EQ(pclose(p), 0) << out;
    EXPECT_EQ(out,
              "DATAPACKET 2.0 10 2\n"
              "'Retorno & <ajustes> \"aspas\" \\'apóstrofo\\'\\tTAB\\r\\nCRLF'\n"
              "ÇÃ€ -123456789012345678901234.12345678 20261209T14:05:09123\n");
}

TEST(DataPacket, WritesTheAgreedFormExactly)
{
    const std::vector<FieldDef> fields{
        {.name = "NOME", .type = FieldType::String, .size = 20, .required = true},
        {.name = "COD", .type = FieldType::FixedString, .size = 6},
        {.name = "QUANDO", .type = FieldType::Timestamp, .required = true},
        {.name = "VALOR", .type = FieldType::Decimal},
        {.name = "CALCULADO", .type = FieldType::Boolean, .computed = true},
    };
    const std::vector<Row> rows{
        makeRow(
            fields,
            {{"NOME", std::string("a&b")}, {"QUANDO", Timestamp{2026, 12, 9, 14, 5, 9, 0}}, {"VALOR", dec("12.50")}}),
    };
    EXPECT_EQ(writeDataPacket(fields, rows),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
              "<FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"20\" required=\"true\"/>"
              "<FIELD attrname=\"COD\" fieldtype=\"string\" SUBTYPE=\"FixedChar\" WIDTH=\"6\"/>"
              "<FIELD attrname=\"QUANDO\" fieldtype=\"SQLdateTime\" required=\"true\"/>"
              "<FIELD attrname=\"VALOR\" fieldtype=\"fixedFMT\" DECIMALS=\"8\" WIDTH=\"32\"/>"
              "</FIELDS><PARAMS/></METADATA><ROWDATA>"
              "<ROW NOME=\"a&amp;b\" QUANDO=\"20261209T14:05:09000\" VALOR=\"12.5\"/>"
              "</ROWDATA></DATAPACKET>");
}

TEST(DataPacket, WriterRefusesWhatTheReaderWouldRefuse)
{
    const auto& f = ListTable::definition();
    const auto good = sampleListRows()[0];
    const auto with = [&](std::string_view name, Value v) {
        Row r = good;
        r[fieldIndex(f, name)] = std::move(v);
        return r;
    };
    struct Case
    {
        const char* name;
        Row row;
        const char* message;
    };
    const std::array cases{
        Case{"text too long",
             with(field::CD_TIPO_ARQUIVO, std::string("ABCD")),
             "O campo CD_TIPO_ARQUIVO do registro 1 tem mais de 3 caracteres."},
        Case{"control character",
             with(field::NM_ARQUIVO, std::string("a\x01.xml")),
             "O campo NM_ARQUIVO do registro 1 tem um caractere de controle que o XML não admite."},
        Case{"invalid UTF-8",
             with(field::NM_ARQUIVO, std::string("a\xE9.xml")),
             "O campo NM_ARQUIVO do registro 1 não é um texto UTF-8 válido."},
        Case{"required null",
             with(field::DT_CADASTRO, std::monostate{}),
             "O campo DT_CADASTRO é obrigatório e não tem valor no registro 1."},
        Case{"wrong type",
             with(field::TAMANHO, std::string("12")),
             "O campo TAMANHO do registro 1 não tem um valor do tipo do campo."},
        Case{"impossible date",
             with(field::DT_CADASTRO, Timestamp{2026, 2, 30, 0, 0, 0, 0}),
             "O campo DT_CADASTRO do registro 1 não tem uma data válida."},
        Case{"row too short", Row(3), "O registro 1 não tem um valor por campo."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            (void)writeDataPacket(f, std::vector<Row>{c.row});
            ADD_FAILURE() << "written";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

// A small list document whose parts a case replaces.
struct ListDoc
{
    std::string declaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
    std::string fields = R"(<FIELD attrname="NM_ARQUIVO" fieldtype="string" WIDTH="200" required="true"/>
<FIELD attrname="DE_CONTEUDO_ARQUIVO" fieldtype="string" WIDTH="400" required="true"/>
<FIELD attrname="TAMANHO" fieldtype="fixedFMT" DECIMALS="8" WIDTH="32"/>
<FIELD attrname="MEDIDA" fieldtype="string" WIDTH="30"/>
<FIELD attrname="ULT_DOWNLOAD" fieldtype="SQLdateTime"/>
<FIELD attrname="DT_CADASTRO" fieldtype="SQLdateTime" required="true"/>
<FIELD attrname="ID_ARQUIVO_DISPONIVEL" fieldtype="fixedFMT" DECIMALS="8" WIDTH="32" required="true"/>
<FIELD attrname="CD_CHAVE_CRIPTOGRAFIA" fieldtype="string" WIDTH="64"/>
<FIELD attrname="DE_PATH_ARQUIVO" fieldtype="string" WIDTH="255" required="true"/>
<FIELD attrname="CD_TIPO_ARQUIVO" fieldtype="string" WIDTH="3" required="true"/>)";
    std::string rows =
        R"(<ROW NM_ARQUIVO="a.xml" DE_CONTEUDO_ARQUIVO="A" TAMANHO="1" DT_CADASTRO="20261209T14:05:09000" ID_ARQUIVO_DISPONIVEL="1" DE_PATH_ARQUIVO="/a" CD_TIPO_ARQUIVO="XML"/>
<ROW NM_ARQUIVO="b.xml" DE_CONTEUDO_ARQUIVO="B" TAMANHO="2" DT_CADASTRO="20261209T14:05:09000" ID_ARQUIVO_DISPONIVEL="2" DE_PATH_ARQUIVO="/b" CD_TIPO_ARQUIVO="XML"/>)";

    ListDoc& replace(std::string ListDoc::*part, std::string_view from, std::string_view to)
    {
        std::string& s = this->*part;
        const auto at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) {
            s.replace(at, from.size(), to);
        }
        return *this;
    }

    [[nodiscard]] std::string text() const
    {
        return declaration + "\n<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>\n" + fields +
               "\n</FIELDS><PARAMS/></METADATA><ROWDATA>\n" + rows + "\n</ROWDATA></DATAPACKET>\n";
    }
};

TEST(DataPacket, ReaderRefusesMissingOrIncompatibleFieldsAndBadValues)
{
    const auto d = [] { return ListDoc{}; };
    using P = std::string ListDoc::*;
    const P decl = &ListDoc::declaration;
    const P fields = &ListDoc::fields;
    const P rows = &ListDoc::rows;
    struct Case
    {
        const char* name;
        std::string document;
        std::string message;
        bool prefixOnly = false;
    };
    const std::string in = " do arquivo \"lista.zeb\"";
    const std::array cases{
        Case{"declared field missing",
             d().replace(fields, R"(<FIELD attrname="MEDIDA" fieldtype="string" WIDTH="30"/>)", "").text(),
             "O campo MEDIDA não existe no arquivo \"lista.zeb\"."},
        Case{"decimal declared as text",
             d().replace(fields, R"("TAMANHO" fieldtype="fixedFMT")", R"("TAMANHO" fieldtype="string")").text(),
             "O campo TAMANHO" + in + " tem tipo incompatível: fieldtype \"string\", esperado fixedFMT."},
        Case{"timestamp declared as another date type",
             d().replace(fields, R"("DT_CADASTRO" fieldtype="SQLdateTime")", R"("DT_CADASTRO" fieldtype="dateTime")")
                 .text(),
             "O campo DT_CADASTRO" + in + " tem tipo incompatível: fieldtype \"dateTime\", esperado SQLdateTime."},
        Case{"text of another subtype",
             d().replace(fields, R"("MEDIDA" fieldtype="string")", R"("MEDIDA" fieldtype="string" SUBTYPE="Text")")
                 .text(),
             "O campo MEDIDA" + in +
                 " tem tipo incompatível: fieldtype \"string\" com SUBTYPE \"Text\", esperado string."},
        Case{"wide text",
             d().replace(fields,
                         R"("MEDIDA" fieldtype="string" WIDTH="30")",
                         R"("MEDIDA" fieldtype="string.uni" WIDTH="30")")
                 .text(),
             "O campo MEDIDA" + in + " tem tipo incompatível: fieldtype \"string.uni\", esperado string."},
        Case{"text wider than the table's",
             d().replace(fields,
                         R"("NM_ARQUIVO" fieldtype="string" WIDTH="200")",
                         R"("NM_ARQUIVO" fieldtype="string" WIDTH="201")")
                 .text(),
             "O campo NM_ARQUIVO" + in + " tem tamanho 201, maior que o tamanho 200 aceito."},
        Case{"text with a width that is no number",
             d().replace(fields, R"("MEDIDA" fieldtype="string" WIDTH="30")", R"("MEDIDA" fieldtype="string" WIDTH="")")
                 .text(),
             "O campo MEDIDA" + in + " não declara um tamanho (WIDTH) válido."},
        Case{"text without a width, longer than the table's",
             d().replace(fields, R"("MEDIDA" fieldtype="string" WIDTH="30")", R"("MEDIDA" fieldtype="string")")
                 .replace(rows, R"(TAMANHO="2")", R"(TAMANHO="2" MEDIDA=")" + std::string(31, 'k') + "\"")
                 .text(),
             "O valor do campo MEDIDA no registro 2" + in + " tem 31 caracteres; o máximo é 30."},
        Case{"declared field missing from an undeclared Windows-1252 document",
             d().replace(decl, R"( encoding="UTF-8")", "")
                 .replace(fields, R"(<FIELD attrname="MEDIDA" fieldtype="string" WIDTH="30"/>)", "")
                 .replace(rows, "\"A\"", "\"A\xE7\xE3o\"")
                 .text(),
             "O campo MEDIDA não existe no arquivo \"lista.zeb\"."},
        Case{"decimal with more places",
             d().replace(fields,
                         R"("TAMANHO" fieldtype="fixedFMT" DECIMALS="8")",
                         R"("TAMANHO" fieldtype="fixedFMT" DECIMALS="9")")
                 .text(),
             "O campo TAMANHO" + in + " tem \"9\" casas decimais; o máximo aceito é 8."},
        Case{"field declared twice",
             d().replace(fields,
                         R"(<FIELD attrname="MEDIDA")",
                         R"(<FIELD attrname="MEDIDA" fieldtype="string" WIDTH="30"/><FIELD attrname="MEDIDA")")
                 .text(),
             "O campo MEDIDA aparece mais de uma vez no arquivo \"lista.zeb\"."},
        Case{"required value absent",
             d().replace(rows, R"(DE_PATH_ARQUIVO="/b" )", "").text(),
             "O campo DE_PATH_ARQUIVO é obrigatório e não tem valor no registro 2" + in + "."},
        Case{"impossible timestamp",
             d().replace(rows,
                         R"("b.xml" DE_CONTEUDO_ARQUIVO="B" TAMANHO="2" DT_CADASTRO="20261209T14:05:09000")",
                         R"("b.xml" DE_CONTEUDO_ARQUIVO="B" TAMANHO="2" DT_CADASTRO="20260230T14:05:09000")")
                 .text(),
             "Valor inválido no campo DT_CADASTRO no registro 2" + in + ": \"20260230T14:05:09000\"."},
        Case{"timestamp in another form",
             d().replace(rows,
                         R"(DT_CADASTRO="20261209T14:05:09000" ID_ARQUIVO_DISPONIVEL="1")",
                         R"(DT_CADASTRO="2026-12-09T14:05:09" ID_ARQUIVO_DISPONIVEL="1")")
                 .text(),
             "Valor inválido no campo DT_CADASTRO no registro 1" + in + ": \"2026-12-09T14:05:09\"."},
        Case{"decimal with a comma",
             d().replace(rows, R"(TAMANHO="2")", R"(TAMANHO="2,5")").text(),
             "Valor inválido no campo TAMANHO no registro 2" + in + ": \"2,5\"."},
        Case{"empty decimal",
             d().replace(rows, R"(TAMANHO="2")", R"(TAMANHO="")").text(),
             "Valor inválido no campo TAMANHO no registro 2" + in + ": \"\"."},
        Case{
            "text longer than declared",
            d().replace(fields, R"("MEDIDA" fieldtype="string" WIDTH="30")", R"("MEDIDA" fieldtype="string" WIDTH="2")")
                .replace(rows, R"(TAMANHO="2")", R"(TAMANHO="2" MEDIDA="KBã")")
                .text(),
            "O valor do campo MEDIDA no registro 2" + in + " tem 3 caracteres; o máximo é 2."},
        Case{"not XML", "DATAPACKET", "O arquivo \"lista.zeb\" não é um documento XML válido (erro na posição ", true},
        Case{"truncated",
             d().text().substr(0, 300),
             "O arquivo \"lista.zeb\" não é um documento XML válido (erro na posição ",
             true},
        Case{"an undeclared entity and a raw < in a value",
             d().replace(rows, "\"A\"", "\"a&bogus;b<c\"").text(),
             "O arquivo \"lista.zeb\" não é um documento XML válido (erro na posição ",
             true},
        Case{"a reference without its semicolon",
             d().replace(rows, "\"A\"", "\"a &amp b\"").text(),
             "O arquivo \"lista.zeb\" não é um documento XML válido (erro na posição ",
             true},
        Case{"a reference to character 0",
             d().replace(rows, "\"A\"", "\"a&#0;\"").text(),
             "O arquivo \"lista.zeb\" não é um documento XML válido (erro na posição ",
             true},
        Case{"a reference to a lone surrogate",
             d().replace(rows, "\"A\"", "\"a&#xD800;\"").text(),
             "O arquivo \"lista.zeb\" não é um documento XML válido (erro na posição ",
             true},
        Case{"entities declared in an internal DTD",
             [&] {
                 ListDoc x;
                 x.declaration += "<!DOCTYPE DATAPACKET [<!ENTITY e0 \"ha\"><!ENTITY e1 \"&e0;&e0;\">]>";
                 return x.replace(rows, "\"A\"", "\"&e1;\"").text();
             }(),
             "O arquivo \"lista.zeb\" não é um documento XML válido: traz uma declaração de tipo de documento "
             "(DTD), que não é aceita."},
        Case{"an external DTD",
             [&] {
                 ListDoc x;
                 x.declaration += "<!DOCTYPE DATAPACKET SYSTEM \"http://127.0.0.1:9/x.dtd\">";
                 return x.text();
             }(),
             "O arquivo \"lista.zeb\" não é um documento XML válido: traz uma declaração de tipo de documento "
             "(DTD), que não é aceita."},
        Case{"another root",
             "<DATASET/>",
             "O arquivo \"lista.zeb\" não é um pacote de dados: falta o elemento DATAPACKET."},
        Case{"no rows element",
             R"(<DATAPACKET Version="2.0"><METADATA><FIELDS/></METADATA></DATAPACKET>)",
             "O arquivo \"lista.zeb\" não é um pacote de dados: falta o elemento ROWDATA."},
        Case{"other encoding",
             d().replace(decl, "UTF-8", "ISO-8859-15").text(),
             "O arquivo \"lista.zeb\" usa a codificação \"ISO-8859-15\", que não é aceita."},
        Case{"UTF-16",
             std::string("\xFF\xFE<\0?\0", 6),
             "O arquivo \"lista.zeb\" usa uma codificação UTF-16 ou UTF-32, que não é aceita."},
        Case{"Latin-1 bytes declared UTF-8",
             d().replace(rows, "\"A\"", "\"A\xE7\xE3o\"").text(),
             "O arquivo \"lista.zeb\" não está codificado em UTF-8 válido."},
        Case{"Windows-1252 bytes after a UTF-8 byte-order mark",
             [&] {
                 ListDoc x;
                 x.declaration.clear();
                 return "\xEF\xBB\xBF" + x.replace(rows, "\"A\"", "\"A\xE7\xE3o\"").text();
             }(),
             "O arquivo \"lista.zeb\" não está codificado em UTF-8 válido."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            (void)readDataPacket(c.document, ListTable::definition(), "lista.zeb");
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            const std::string what = e.what();
            EXPECT_EQ(c.prefixOnly ? what.substr(0, c.message.size()) : what, c.message);
        }
    }
}

TEST(DataPacket, ReaderAcceptsCompatibleDeclarations)
{
    // Narrower texts, a fixed-length text for a plain one, fields in another
    // order, fields and attributes the table does not know, no declaration.
    ListDoc d;
    d.declaration.clear();
    d.replace(&ListDoc::fields,
              R"("CD_TIPO_ARQUIVO" fieldtype="string" WIDTH="3")",
              R"("CD_TIPO_ARQUIVO" fieldtype="string" SUBTYPE="FixedChar" WIDTH="3")")
        .replace(&ListDoc::fields,
                 R"("NM_ARQUIVO" fieldtype="string" WIDTH="200")",
                 R"("NM_ARQUIVO" fieldtype="string" WIDTH="20")")
        .replace(&ListDoc::fields, R"(DECIMALS="8" WIDTH="32"/>)", R"(DECIMALS="2" WIDTH="10"/>)")
        .replace(&ListDoc::fields,
                 R"(<FIELD attrname="NM_ARQUIVO")",
                 R"(<FIELD attrname="EXTRA" fieldtype="i4"/><FIELD attrname="NM_ARQUIVO")");
    d.fields = d.fields.substr(d.fields.find('\n') + 1) + "\n" + d.fields.substr(0, d.fields.find('\n'));
    d.replace(&ListDoc::rows, R"(<ROW NM_ARQUIVO="a.xml")", R"(<ROW RowState="4" EXTRA="9" NM_ARQUIVO="a.xml")");
    const auto rows = readDataPacket(d.text(), ListTable::definition(), "lista.zeb");
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0][0], Value(std::string("a.xml")));
    EXPECT_EQ(rows[1][fieldIndex(ListTable::definition(), field::TAMANHO)], Value(dec("2")));
}

TEST(DataPacket, ADocumentThatDeclaresNoEncodingIsWindows1252UnlessItIsValidUtf8)
{
    struct Case
    {
        const char* name;
        std::string declaration;
        std::string description;  // the bytes of one value
        std::string expected;
    };
    const std::array cases{
        Case{"no declaration, Windows-1252 bytes", "", "A\xE7\xE3o \x80 \x93x\x94", "Ação € “x”"},
        Case{"declaration without an encoding", R"(<?xml version="1.0"?>)", "A\xE7\xE3o", "Ação"},
        Case{"no declaration, valid UTF-8", "", "Ação €", "Ação €"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ListDoc d;
        d.declaration = c.declaration;
        d.replace(&ListDoc::rows, "\"A\"", "\"" + c.description + "\"");
        const auto rows = readDataPacket(d.text(), ListTable::definition(), "lista.zeb");
        ASSERT_EQ(rows.size(), 2U);
        EXPECT_EQ(rows[0][fieldIndex(ListTable::definition(), field::DE_CONTEUDO_ARQUIVO)],
                  Value(std::string(c.expected)));
    }
}

TEST(DataPacket, ATextFieldWithoutAWidthIsAsWideAsTheTableDeclares)
{
    std::string longest;
    for (int i = 0; i < 200; ++i) {
        longest += "é";
    }
    ListDoc d;
    d.replace(&ListDoc::fields, R"("NM_ARQUIVO" fieldtype="string" WIDTH="200")", R"("NM_ARQUIVO" fieldtype="string")")
        .replace(&ListDoc::fields,
                 R"("CD_TIPO_ARQUIVO" fieldtype="string" WIDTH="3")",
                 R"("CD_TIPO_ARQUIVO" fieldtype="string" SUBTYPE="FixedChar")")
        .replace(&ListDoc::rows, R"(NM_ARQUIVO="a.xml")", R"(NM_ARQUIVO=")" + longest + "\"");
    const auto& f = ListTable::definition();
    const auto rows = readDataPacket(d.text(), f, "lista.zeb");
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0][fieldIndex(f, field::NM_ARQUIVO)], Value(longest));
    EXPECT_EQ(rows[1][fieldIndex(f, field::CD_TIPO_ARQUIVO)], Value(std::string("XML")));

    // A fixed-length text without a width is padded to the table's length.
    const auto& h = HistoryTable::definition();
    const std::vector<Row> written{makeRow(h, {{field::CD_OPERADORA, std::string("1234")}})};
    std::string history = writeDataPacket(h, written);
    const std::string width = R"(SUBTYPE="FixedChar" WIDTH="6")";
    ASSERT_NE(history.find(width), std::string::npos);
    history.replace(history.find(width), width.size(), R"(SUBTYPE="FixedChar")");
    const auto historyRows = readDataPacket(history, h, "historico.zeb");
    ASSERT_EQ(historyRows.size(), 1U);
    EXPECT_EQ(historyRows[0][fieldIndex(h, field::CD_OPERADORA)], Value(std::string("1234  ")));
}

TEST(DataPacket, HonoursTheDeclaredSingleByteEncodings)
{
    ListTable latin1;
    latin1.load(DataDir + "lista-iso-8859-1.xml");
    ASSERT_EQ(latin1.recordCount(), 1U);
    EXPECT_EQ(latin1.asText(0, field::NM_ARQUIVO), "relatório.txt");
    EXPECT_EQ(latin1.asText(0, field::DE_CONTEUDO_ARQUIVO), "Ação de saída: ½ ×");
    EXPECT_EQ(latin1.asText(0, field::CD_TIPO_ARQUIVO), "ÇÃO");
    // ISO-8859-1 is taken at its word: 0x80 is the control character U+0080.
    EXPECT_EQ(latin1.asText(0, field::MEDIDA), "Kbytes\xC2\x80");

    ListTable cp1252;
    cp1252.load(DataDir + "lista-windows-1252.xml");
    ASSERT_EQ(cp1252.recordCount(), 1U);
    EXPECT_EQ(cp1252.asText(0, field::NM_ARQUIVO), "relatório.txt");
    EXPECT_EQ(cp1252.asText(0, field::DE_CONTEUDO_ARQUIVO), "Ação “única” — 5 € ‰ Œ");
    EXPECT_EQ(cp1252.asText(0, field::CD_TIPO_ARQUIVO), "ÇÃO");
}

TEST(DataPacket, SavesTheDocumentToAFile)
{
    test::Sandbox box;
    const auto& f = HistoryTable::definition();
    const std::vector<Row> rows{makeRow(f, {{field::CD_OPERADORA, std::string("123456")}})};
    saveDataPacket(box.path() / "h.zeb", f, rows);
    EXPECT_EQ(box.read("h.zeb"), writeDataPacket(f, rows));
    try {
        saveDataPacket(box.path() / "falta" / "h.zeb", f, rows);
        ADD_FAILURE() << "saved";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ENOENT);
    }
}

}  // namespace
}  // namespace vek::dataset
