#include "dataset/DataPacket.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <locale>
#include <sstream>

namespace vek::dataset {
namespace {

const std::string DataDir = VEK_TEST_DATA_DIR "/dataset/";

// A list document with one row per (TAMANHO, MEDIDA) pair; ids from 1.
std::string listWithSizes(std::initializer_list<std::pair<const char*, const char*>> sizes)
{
    const auto& f = ListTable::definition();
    std::vector<Row> rows;
    int id = 0;
    for (const auto& [tamanho, medida] : sizes) {
        Row r = makeRow(f,
                        {{field::NM_ARQUIVO, std::string("f.txt")},
                         {field::DE_CONTEUDO_ARQUIVO, std::string("F")},
                         {field::DT_CADASTRO, Timestamp{2026, 1, 1, 0, 0, 0, 0}},
                         {field::ID_ARQUIVO_DISPONIVEL, Decimal::fromInteger(++id)},
                         {field::DE_PATH_ARQUIVO, std::string("/f")},
                         {field::CD_TIPO_ARQUIVO, std::string("TXT")}});
        if (tamanho != nullptr) {
            r[fieldIndex(f, field::TAMANHO)] = *Decimal::parse(tamanho);
        }
        if (medida != nullptr) {
            r[fieldIndex(f, field::MEDIDA)] = std::string(medida);
        }
        rows.push_back(std::move(r));
    }
    return writeDataPacket(f, rows);
}

TEST(ListTable, LoadsTheListFileWithTypedValues)
{
    ListTable t;
    EXPECT_FALSE(t.active());
    t.load(DataDir + "lista.xml");
    EXPECT_TRUE(t.active());
    ASSERT_EQ(t.recordCount(), 3U);
    EXPECT_EQ(t.current(), 0U);
    EXPECT_EQ(t.asText(0, field::NM_ARQUIVO), "retorno.xml");
    EXPECT_EQ(t.asTimestamp(0, field::DT_CADASTRO), (Timestamp{2026, 12, 9, 14, 5, 9, 123}));
    EXPECT_EQ(t.asText(0, field::DT_CADASTRO), "09/12/2026 14:05:09");
    EXPECT_EQ(t.asText(1, field::DE_CONTEUDO_ARQUIVO), "Cadastro\tcom <ajustes> e \"notas\"\nsegunda linha");
    EXPECT_EQ(t.asText(2, field::DE_CONTEUDO_ARQUIVO), "Declaração única — 2026 € ✓");
    EXPECT_TRUE(t.isNull(1, field::ULT_DOWNLOAD));
    EXPECT_TRUE(t.isNull(1, field::CD_CHAVE_CRIPTOGRAFIA));
    EXPECT_FALSE(t.isNull(2, field::MEDIDA));  // an empty text is a value
    EXPECT_EQ(t.asText(2, field::ID_ARQUIVO_DISPONIVEL), "1003");
    EXPECT_EQ(t.asInteger(1, field::TAMANHO), 2);
    EXPECT_EQ(t.asInteger(2, field::TAMANHO), 4);
    EXPECT_EQ(t.asInteger(1, field::ULT_DOWNLOAD), 0);  // null
    EXPECT_THROW((void)t.asInteger(0, field::DT_CADASTRO), Error);
    EXPECT_THROW((void)t.value(3, field::NM_ARQUIVO), Error);
    EXPECT_THROW((void)t.value(0, "NAO_EXISTE"), Error);
    t.setCurrent(2);
    EXPECT_EQ(t.current(), 2U);
}

TEST(ListTable, SizeWithUnitRoundsHalvesToEven)
{
    ListTable t;
    t.loadDocument(listWithSizes({{"12", "KB"},
                                  {"2.5", "KB"},
                                  {"3.5", "KB"},
                                  {"2.5000001", "Mbytes"},
                                  {"7", ""},
                                  {nullptr, nullptr},
                                  {"-0.5", "KB"},
                                  {"123456789012345678901234", "unidade de medida muito longa!"}}),
                   "lista.zeb");
    const std::array expected{
        "12 KB(s)",
        "2 KB(s)",
        "4 KB(s)",
        "3 Mbytes(s)",
        "7 (s)",
        "0 (s)",
        "0 KB(s)",
        "123456789012345678901234 unidade de medi",  // the field holds 40 characters
    };
    ASSERT_EQ(t.recordCount(), expected.size());
    for (std::size_t row = 0; row < expected.size(); ++row) {
        SCOPED_TRACE(expected[row]);
        EXPECT_EQ(t.TAMANHOFTM(row), expected[row]);
        EXPECT_EQ(t.asText(row, field::TAMANHOFTM), expected[row]);
    }
}

TEST(ListTable, ExpectedDownloadSizeIsInKilobytes)
{
    ListTable t;
    t.loadDocument(listWithSizes({{"3", "Mbytes"},
                                  {"3", "mbyte"},
                                  {"3", "MB"},
                                  {"3", "KBytes"},
                                  {"2.5", "MBYTE"},
                                  {nullptr, "MBYTE"},
                                  {"9007199254740993", "Mbytes"}}),
                   "lista.zeb");
    const std::array<std::int64_t, 6> expected{3072, 3072, 3, 3, 2048, 0};
    for (std::size_t row = 0; row < expected.size(); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(t.expectedSizeKb(row), expected[row]);
    }
    EXPECT_THROW((void)t.expectedSizeKb(6), Error);
}

TEST(ListTable, DownloadedFilesStayTickedAcrossLoads)
{
    ListTable t;
    t.load(DataDir + "lista.xml");
    for (std::size_t row = 0; row < t.recordCount(); ++row) {
        EXPECT_FALSE(t.ENVIADO(row));
    }
    t.markDownloaded(2);
    t.markDownloaded(2);
    EXPECT_EQ(t.downloadedIds().size(), 1U);
    EXPECT_TRUE(t.ENVIADO(2));
    EXPECT_TRUE(t.asBoolean(2, field::ENVIADO));
    EXPECT_FALSE(t.ENVIADO(0));

    // A new query whose list holds the same identifier in another position.
    const auto& f = ListTable::definition();
    std::vector<Row> rows{makeRow(f,
                                  {{field::NM_ARQUIVO, std::string("x")},
                                   {field::DE_CONTEUDO_ARQUIVO, std::string("x")},
                                   {field::DT_CADASTRO, Timestamp{2026, 1, 1, 0, 0, 0, 0}},
                                   {field::ID_ARQUIVO_DISPONIVEL, *Decimal::parse("5")},
                                   {field::DE_PATH_ARQUIVO, std::string("/x")},
                                   {field::CD_TIPO_ARQUIVO, std::string("X")}})};
    rows.push_back(rows[0]);
    rows[1][fieldIndex(f, field::ID_ARQUIVO_DISPONIVEL)] = *Decimal::parse("1003");
    t.loadDocument(writeDataPacket(f, rows), "nova.zeb");
    EXPECT_FALSE(t.ENVIADO(0));
    EXPECT_TRUE(t.ENVIADO(1));
}

TEST(ListTable, FindsARowByItsIdentifierNumber)
{
    ListTable t;
    t.load(DataDir + "lista.xml");
    EXPECT_EQ(t.findById("1002"), 1U);
    EXPECT_EQ(t.findById("1003"), 2U);  // written "1003.00" in the file
    EXPECT_EQ(t.findById("01001.0"), 0U);
    EXPECT_EQ(t.findById("1004"), std::nullopt);
    EXPECT_EQ(t.findById("abc"), std::nullopt);
    EXPECT_EQ(t.findById(""), std::nullopt);
}

// A refused file leaves the table empty: the earlier list belongs to another
// query. The run's downloaded-file list is not part of the file and stays.
TEST(ListTable, RefusedFileEmptiesTheTableButKeepsTheDownloadedList)
{
    test::Sandbox box;
    ListTable t;
    t.load(DataDir + "lista.xml");
    t.setCurrent(1);
    t.markDownloaded(0);
    const std::string bad = box.write("ruim.zeb", "<DATAPACKET><METADATA><FIELDS/></METADATA><ROWDATA/></DATAPACKET>");
    EXPECT_THROW(t.load(bad), Error);
    EXPECT_FALSE(t.active());
    EXPECT_EQ(t.recordCount(), 0U);
    t.load(DataDir + "lista.xml");
    try {
        t.load(box.path() / "nao-existe.zeb");
        ADD_FAILURE() << "loaded";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_EQ(std::string(e.what()),
                  "Não foi possível ler o arquivo \"" + (box.path() / "nao-existe.zeb").string() + "\".");
    }
    EXPECT_EQ(t.recordCount(), 0U);
    t.load(DataDir + "lista.xml");
    ASSERT_EQ(t.recordCount(), 3U);
    EXPECT_EQ(t.current(), 0U);
    EXPECT_TRUE(t.ENVIADO(0));
}

// A locale with "," as decimal separator and "." between thousands.
struct CommaDecimal : std::numpunct<char>
{
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(ListTable, TabSeparatedOutputForTheCommandLine)
{
    ListTable t;
    t.load(DataDir + "lista.xml");
    const std::string expected =
        "NM_ARQUIVO\tDE_CONTEUDO_ARQUIVO\tTAMANHO\tMEDIDA\tULT_DOWNLOAD\tDT_CADASTRO\tID_ARQUIVO_DISPONIVEL\t"
        "CD_CHAVE_CRIPTOGRAFIA\tDE_PATH_ARQUIVO\tCD_TIPO_ARQUIVO\tTAMANHOFTM\n"
        "retorno.xml\tRetorno de dezembro\t12\tKB\t10/12/2026 08:00:00\t09/12/2026 14:05:09\t1001\tk3y\t"
        "/dados/123456/retorno.xml\tRET\t12 KB(s)\n"
        "cadastro & ajustes.txt\tCadastro com <ajustes> e \"notas\" segunda linha\t2.5\tMbytes\t\t30/11/2026 23:59:59\t"
        "1002\t\t/dados/123456/cadastro.txt\tCAD\t2 Mbytes(s)\n"
        "declaração-única.pdf\tDeclaração única — 2026 € ✓\t3.5\t\t\t29/02/2024 00:00:00\t1003\t\t/dados/123456/d.pdf\t"
        "PDF\t4 (s)\n";
    // The same under the user's locale and under the classic one.
    for (const bool comma : {false, true}) {
        SCOPED_TRACE(comma ? "comma locale" : "classic locale");
        const std::locale previous =
            std::locale::global(comma ? std::locale(std::locale::classic(), new CommaDecimal) : std::locale::classic());
        std::ostringstream out;
        out.imbue(std::locale());
        t.writeTsv(out);
        std::locale::global(previous);
        EXPECT_EQ(out.str(), expected);
    }

    ListTable empty;
    empty.loadDocument(listWithSizes({}), "vazia.zeb");
    std::ostringstream out;
    empty.writeTsv(out);
    EXPECT_EQ(out.str(), expected.substr(0, expected.find('\n') + 1));
}

TEST(HistoryTable, LoadsTheHistoryAndPrintsTheVisibleFields)
{
    HistoryTable t;
    t.load(DataDir + "historico.xml");
    ASSERT_EQ(t.recordCount(), 3U);
    EXPECT_EQ(t.asText(0, field::CD_OPERADORA), "123456");
    EXPECT_EQ(t.asText(1, field::CD_OPERADORA), "12345 ");  // fixed length
    EXPECT_TRUE(t.isNull(1, field::DT_TRANSMISSAO));        // the all-zero timestamp
    EXPECT_EQ(t.asInteger(1, field::QT_AVISOS), 2);
    std::ostringstream out;
    t.writeTsv(out);
    EXPECT_EQ(
        out.str(),
        "DT_TRANSMISSAO\tNM_ARQUIVO\tCD_TIPO_ARQUIVO\tCD_PROTOCOLO\tNM_STATUS_PROCESSAMENTO\tQT_AVISOS\tQT_ERROS\n"
        "09/12/2026 14:05:09\tremessa.xml\tXML\t2026000001\tProcessado com sucesso\t0\t0\n"
        "\t=SOMA(A1:A2)\tTXT\t2026000002\tRejeitado: linha 3 inválida\t2.5\t17\n"
        "02/01/2026 03:04:05\t\t\t\t\t\t\n");

    std::vector<std::string> labels;
    for (const auto& f : HistoryTable::definition()) {
        if (f.visible) {
            labels.push_back(f.label);
        }
    }
    EXPECT_EQ(labels,
              (std::vector<std::string>{
                  "Transmissão", "Arquivo", "Tipo do Arquivo", "Protocolo", "Status", "Avisos", "Erros"}));
}

TEST(HistoryTable, HistoryWithoutAFieldIsRefusedAndThePreviousOneIsNotShown)
{
    HistoryTable t;
    t.load(DataDir + "historico.xml");
    const std::string path = DataDir + "historico-sem-QT_ERROS.xml";
    try {
        t.load(path);
        ADD_FAILURE() << "loaded";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "O campo QT_ERROS não existe no arquivo \"" + path + "\".");
    }
    EXPECT_FALSE(t.active());
    EXPECT_EQ(t.recordCount(), 0U);
}

}  // namespace
}  // namespace vek::dataset
