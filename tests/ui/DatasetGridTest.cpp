#include "ui/DatasetGrid.h"

#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/TfrmPrincipal.h"

#include <QHeaderView>
#include <QTest>

#include <numeric>

using namespace vek;
using vek::test::child;

namespace {

// A list file of the server's kind, one row per description.
std::string listFile(const QStringList& descriptions)
{
    std::string rows;
    int id = 1;
    for (const QString& d : descriptions) {
        rows += "<ROW ID_ARQUIVO_DISPONIVEL=\"" + std::to_string(id) + "\" NM_ARQUIVO=\"arquivo" + std::to_string(id) +
                ".xml\" DE_CONTEUDO_ARQUIVO=\"" + d.toStdString() +
                "\" TAMANHO=\"12\" MEDIDA=\"KB\" DT_CADASTRO=\"20261209T14:05:09123\" "
                "DE_PATH_ARQUIVO=\"/dados/a.xml\" CD_TIPO_ARQUIVO=\"RET\"/>\n";
        ++id;
    }
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<DATAPACKET Version="2.0"><METADATA><FIELDS>
<FIELD attrname="ID_ARQUIVO_DISPONIVEL" fieldtype="fixedFMT" DECIMALS="8" WIDTH="32" required="true"/>
<FIELD attrname="NM_ARQUIVO" fieldtype="string" WIDTH="200" required="true"/>
<FIELD attrname="DE_CONTEUDO_ARQUIVO" fieldtype="string" WIDTH="400" required="true"/>
<FIELD attrname="TAMANHO" fieldtype="fixedFMT" DECIMALS="8" WIDTH="32"/>
<FIELD attrname="MEDIDA" fieldtype="string" WIDTH="30"/>
<FIELD attrname="ULT_DOWNLOAD" fieldtype="SQLdateTime"/>
<FIELD attrname="DT_CADASTRO" fieldtype="SQLdateTime" required="true"/>
<FIELD attrname="CD_CHAVE_CRIPTOGRAFIA" fieldtype="string" WIDTH="64"/>
<FIELD attrname="DE_PATH_ARQUIVO" fieldtype="string" WIDTH="255" required="true"/>
<FIELD attrname="CD_TIPO_ARQUIVO" fieldtype="string" SUBTYPE="FixedChar" WIDTH="3" required="true"/>
</FIELDS><PARAMS/></METADATA><ROWDATA>
)" + rows + "</ROWDATA></DATAPACKET>\n";
}

// A history file, one row per (file name, status).
std::string historyFile(const QStringList& namesAndStatuses)
{
    std::string rows;
    for (int i = 0; i + 1 < namesAndStatuses.size(); i += 2) {
        rows += "<ROW CD_OPERADORA=\"123456\" DT_TRANSMISSAO=\"20261209T14:05:09000\" NM_ARQUIVO=\"" +
                namesAndStatuses[i].toStdString() + "\" CD_TIPO_ARQUIVO=\"XML\" CD_PROTOCOLO=\"202600000" +
                std::to_string(i) + "\" NM_STATUS_PROCESSAMENTO=\"" + namesAndStatuses[i + 1].toStdString() +
                "\" QT_AVISOS=\"2\" QT_ERROS=\"17\"/>\n";
    }
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<DATAPACKET Version="2.0"><METADATA><FIELDS>
<FIELD attrname="CD_OPERADORA" fieldtype="string" SUBTYPE="FixedChar" WIDTH="6" required="true"/>
<FIELD attrname="DT_TRANSMISSAO" fieldtype="SQLdateTime"/>
<FIELD attrname="NM_ARQUIVO" fieldtype="string" WIDTH="128"/>
<FIELD attrname="CD_TIPO_ARQUIVO" fieldtype="string" WIDTH="3"/>
<FIELD attrname="CD_PROTOCOLO" fieldtype="string" WIDTH="4000"/>
<FIELD attrname="NM_STATUS_PROCESSAMENTO" fieldtype="string" WIDTH="4000"/>
<FIELD attrname="QT_AVISOS" fieldtype="fixedFMT" DECIMALS="8" WIDTH="32"/>
<FIELD attrname="QT_ERROS" fieldtype="fixedFMT" DECIMALS="8" WIDTH="32"/>
</FIELDS><PARAMS/></METADATA><ROWDATA>
)" + rows + "</ROWDATA></DATAPACKET>\n";
}

const QString LongDescription = "Retorno do processamento do arquivo de movimentação cadastral de novembro, com as "
                                "críticas de cada registro e o resumo das inclusões, alterações e exclusões aceitas";

}  // namespace

Q_DECLARE_METATYPE(std::vector<int>)

// The list and history grids: columns that fill the grid's width, and text
// that wraps, so that every column and every text is there without scrolling
// sideways.
class DatasetGridTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::UiSandbox> sandbox_;

private slots:
    void init() { sandbox_ = std::make_unique<test::UiSandbox>(); }
    void cleanup() { sandbox_.reset(); }

    void columnWidths_data()
    {
        QTest::addColumn<std::vector<int>>("widths");
        QTest::addColumn<std::vector<int>>("minimums");
        QTest::addColumn<int>("total");
        QTest::addColumn<std::vector<int>>("expected");
        QTest::newRow("they fit: the last takes the rest")
            << std::vector{33, 270, 80, 120} << std::vector{40, 40, 40, 40} << 507 << std::vector{33, 270, 80, 124};
        QTest::newRow("exactly the width")
            << std::vector{100, 100} << std::vector{0, 0} << 200 << std::vector{100, 100};
        QTest::newRow("too wide: all shrink in proportion")
            << std::vector{100, 100, 200} << std::vector{0, 0, 0} << 200 << std::vector{50, 50, 100};
        QTest::newRow("a column keeps its minimum, the others give more")
            << std::vector{100, 300} << std::vector{60, 0} << 200 << std::vector{60, 140};
        QTest::newRow("rounding: the pixels left over go to the largest remainders")
            << std::vector{10, 10, 10} << std::vector{0, 0, 0} << 20 << std::vector{7, 7, 6};
        QTest::newRow("minimums wider than the grid")
            << std::vector{100, 100} << std::vector{80, 80} << 100 << std::vector{80, 80};
    }

    void columnWidths()
    {
        QFETCH(std::vector<int>, widths);
        QFETCH(std::vector<int>, minimums);
        QFETCH(int, total);
        QFETCH(std::vector<int>, expected);
        QCOMPARE(ui::larguraColunasAjustada(widths, minimums, total), expected);
    }

    // Both grids on their pages, with texts of one line and long ones: no
    // sideways scrolling, every title and every text whole; a row of one
    // line keeps the 16 pixels, a long text makes its row taller.
    void everyColumnAndEveryTextIsShown_data()
    {
        QTest::addColumn<bool>("history");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("tallRow");  // -1: every row one line high
        QTest::newRow("list, one line each") << false << QStringList{"Retorno de maio", "Retorno de junho"} << -1;
        QTest::newRow("list, a long description")
            << false << QStringList{"Retorno de maio", LongDescription, "Retorno de junho"} << 1;
        QTest::newRow("list, a description in two lines")
            << false << QStringList{"Cadastro com ajustes&#10;segunda linha", "Retorno de junho"} << 0;
        QTest::newRow("list, a word wider than its column")
            << false << QStringList{"Retorno", QString("RETORNO_").repeated(12)} << 1;
        QTest::newRow("history, short names")
            << true << QStringList{"a.xml", "Processado", "b.xml", "Processado"} << -1;
        QTest::newRow("history, a long name and status")
            << true
            << QStringList{"a.xml",
                           "Processado",
                           "movimentacao_cadastral_da_operadora_novembro_2026.xml",
                           "Rejeitado: o arquivo contém registros com datas de nascimento posteriores à data de "
                           "inclusão&#10;linha 3 inválida"}
            << 1;
    }

    void everyColumnAndEveryTextIsShown()
    {
        QFETCH(bool, history);
        QFETCH(QStringList, texts);
        QFETCH(int, tallRow);
        const auto file = sandbox_->base() / "dados.xml";
        test::writeFile(file, history ? historyFile(texts) : listFile(texts));
        ui::TfrmPrincipal window({});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (history) {
            window.carregarHistorico(file.string());
            window.irPara(ui::pgHistoricoTransmissoes);
        } else {
            window.carregarLista(file.string());
            window.irPara(ui::pgCopiarArq);
        }
        auto* grid = child<ui::GradeTabela>(&window, history ? "HistoricoGrid" : "ListaArqGrid");
        QCOMPARE(grid->geometry(), QRect(176, 132, 509, 221));
        QVERIFY(grid->model()->rowCount() > 0);

        const QStringList problems = test::gridProblems(grid);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        // The history's date and time may take two lines in its narrowed
        // column; the list's rows of one line keep the design's height.
        for (int r = 0; r < grid->model()->rowCount(); ++r) {
            if (r == tallRow) {
                QVERIFY(grid->rowHeight(r) > (history ? grid->rowHeight(0) : ui::GradeTabela::AlturaLinha));
            } else if (!history) {
                QCOMPARE(grid->rowHeight(r), ui::GradeTabela::AlturaLinha);
            }
        }
        // A column the user narrows rewraps its text.
        if (!history) {
            const int before = grid->verticalHeader()->length();
            grid->setColumnWidth(1, 40);
            QVERIFY(grid->verticalHeader()->length() > before);
            QVERIFY(grid->rowHeight(0) > ui::GradeTabela::AlturaLinha);
        }
    }
};

VEK_UI_TEST(DatasetGridTest);

#include "DatasetGridTest.moc"
