#include "app/InputChecks.h"
#include "platform/Win1252.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/Appearance.h"
#include "ui/DatasetGrid.h"
#include "ui/FileDialog.h"
#include "ui/FileListPage.h"
#include "ui/ReceivePage.h"
#include "ui/TfrmPrincipal.h"
#include "wire/MessageCodes.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace vek;
using vek::test::child;

namespace {

namespace fs = std::filesystem;

bool sameImage(const QLabel* label, ui::Icone icone)
{
    return label->pixmap().toImage() == ui::pixmapIcone(icone).toImage();
}

}  // namespace

class ReceivePagesTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    QComboBox* types() { return child<QComboBox>(window_.get(), "cbxTpoArqReceber"); }
    QLineEdit* competence() { return child<QLineEdit>(window_.get(), "txtMesAnoComp"); }
    QLineEdit* availability() { return child<QLineEdit>(window_.get(), "txtMesAnoDisp"); }
    ui::GradeTabela* grid() { return child<ui::GradeTabela>(window_.get(), "ListaArqGrid"); }
    QLabel* status() { return child<QLabel>(window_.get(), "lblArqCopiar"); }
    void click(ui::Botao b) { QTest::mouseClick(window_->botao(b), Qt::LeftButton); }
    fs::path temp() { return sandbox_->base() / "temp"; }

    void openFilterPage(std::uint16_t port, std::uint16_t ftpPort, const QString& senha = "demo")
    {
        test::pointClientAt(sandbox_->base(), port, ftpPort);
        openWindow();
        auto& t = window_->canal().timeouts;
        t.downloadTypesPause = t.listPause = t.downloadPause = t.afterDownload = t.afterDownloadExtra =
            std::chrono::milliseconds(0);
        t.dataConnection = std::chrono::milliseconds(3000);
        logIn(senha, "rdbReceber");
        QCOMPARE(window_->paginaAtual(), ui::pgReceber);
    }

    void openFilterPage() { openFilterPage(zebd_->port(), zebd_->ftpPort()); }

    void selectType(const QString& code)
    {
        const int i = types()->findText(code + " - ", Qt::MatchStartsWith);
        QVERIFY(i >= 0);
        types()->setCurrentIndex(i);
    }

    void typeMonths(const QString& comp, const QString& disp)
    {
        QTest::keyClicks(competence(), comp);
        QTest::keyClicks(availability(), disp);
    }

    // The list of one type with no filter, on the file list page.
    void openFileList(const QString& code = "RET")
    {
        openFilterPage();
        selectType(code);
        click(ui::Botao::Proximo);
        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        QCOMPARE(window_->paginaAtual(), ui::pgCopiarArq);
    }

    QString cell(int row, int column) { return grid()->model()->index(row, column).data().toString(); }
    bool ticked(int row) { return grid()->model()->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked; }

    int rowNamed(const QString& description)
    {
        for (int r = 0; r < grid()->model()->rowCount(); ++r) {
            if (cell(r, 1) == description) {
                return r;
            }
        }
        return -1;
    }

    QString visibleButtons() { return test::visibleButtons(*window_); }

    fs::path saveDir()
    {
        const fs::path dir = sandbox_->base() / "salvos";
        fs::create_directories(dir);
        return dir;
    }

    static QString q(const fs::path& p) { return QString::fromStdString(p.string()); }

private slots:
    void init() { setUp(WithZebd::Yes); }

    void cleanup() { tearDown(); }

    void filterPageEntersWithEmptyMonthsAndKeepsTheTypes()
    {
        openFilterPage();
        QCOMPARE(types()->count(), 3);
        QCOMPARE(types()->itemText(0), QString("RET - Arquivo de retorno"));
        QCOMPARE(types()->currentIndex(), -1);
        QCOMPARE(competence()->displayText(), QString("  /    "));
        QCOMPARE(competence()->toolTip(), QString("Formato MM/AAAA"));
        QCOMPARE(competence()->mapTo(window_.get(), QPoint(0, 0)), QPoint(184, 218));
        QCOMPARE(availability()->mapTo(window_.get(), QPoint(0, 0)), QPoint(436, 218));
        QCOMPARE(visibleButtons(), QString("inicio,anterior,proximo,sair"));
        QVERIFY(!child<QWidget>(window_.get(), "pnlListaArqReceber")->isVisible());
        QVERIFY(!child<QWidget>(window_.get(), "pnlInfRecebto")->isVisible());

        selectType("CNF");
        typeMonths("a0b5/2024x", "122");
        QCOMPARE(competence()->displayText(), QString("05/2024"));
        QCOMPARE(availability()->displayText(), QString("12/2   "));
        // Entering again empties the months; the type stays chosen.
        window_->irPara(ui::pgReceber);
        QCOMPARE(competence()->displayText(), QString("  /    "));
        QCOMPARE(availability()->displayText(), QString("  /    "));
        QCOMPARE(types()->currentText(), QString("CNF - Conferência de cadastro"));
        // Through the access page the list comes anew, with nothing chosen.
        click(ui::Botao::Anterior);
        QCOMPARE(window_->paginaAtual(), ui::pgAcesso);
        click(ui::Botao::Proximo);
        QCOMPARE(types()->count(), 3);
        QCOMPARE(types()->currentIndex(), -1);
    }

    // The filters as the request carries them: the empty mask travels as no
    // filter; a refused month asks nothing of the server.
    void monthFilters_data()
    {
        QTest::addColumn<QString>("comp");
        QTest::addColumn<QString>("disp");
        QTest::addColumn<QString>("error");  // empty: the query runs
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("sentComp");
        QTest::addColumn<QString>("sentDisp");
        QTest::newRow("no filter") << ""
                                   << ""
                                   << ""
                                   << ""
                                   << ""
                                   << "";
        QTest::newRow("availability only") << ""
                                           << "032006"
                                           << ""
                                           << ""
                                           << ""
                                           << "03/2006";
        QTest::newRow("both") << "012024"
                              << "122023"
                              << ""
                              << ""
                              << "01/2024"
                              << "12/2023";
        QTest::newRow("competence month 13") << "132024"
                                             << "" << app::MsgCompetenciaInvalida << "txtMesAnoComp"
                                             << ""
                                             << "";
        QTest::newRow("competence year cut short") << "0520"
                                                   << "" << app::MsgCompetenciaInvalida << "txtMesAnoComp"
                                                   << ""
                                                   << "";
        QTest::newRow("availability month 00") << "052024"
                                               << "002024" << app::MsgDisponibilizacaoInvalida << "txtMesAnoDisp"
                                               << ""
                                               << "";
    }

    void monthFilters()
    {
        QFETCH(QString, comp);
        QFETCH(QString, disp);
        QFETCH(QString, error);
        QFETCH(QString, focus);
        QFETCH(QString, sentComp);
        QFETCH(QString, sentDisp);
        // The server accepts and answers with an empty list.
        test::FakeZebServer server({{test::FakeStep::expect(wire::CMD_TIPOS_DOWNLOAD),
                                     test::FakeStep::reply(wire::CMD_TIPOS_DOWNLOAD, "RET#Arquivo de retorno")},
                                    {test::FakeStep::expect(wire::CMD_PEDIDO_LISTA),
                                     test::FakeStep::reply(wire::CMD_ACEITO),
                                     test::FakeStep::reply(wire::CMD_ACEITO, "0")}});
        openFilterPage(server.port(), 0);
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        selectType("RET");
        typeMonths(comp, disp);
        click(ui::Botao::Proximo);

        QCOMPARE(window_->paginaAtual(), ui::pgReceber);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t(1));
        if (!error.isEmpty()) {
            QCOMPARE(QString::fromStdString(messages[0].text), error);
            QCOMPARE(messages[0].kind, platform::MessageKind::Error);
            QCOMPARE(QApplication::focusWidget()->objectName(), focus);
            QVERIFY(!child<QWidget>(window_.get(), "pnlListaArqReceber")->isVisible());
            QCOMPARE(server.connections(), 1);
            return;
        }
        // The empty list: the channel's own message; the page stays with its panel.
        QVERIFY(QString::fromStdString(messages[0].text)
                    .startsWith("A consulta efetuada, com os parâmetros informados, não retornou nenhum arquivo"));
        QVERIFY(child<QWidget>(window_.get(), "pnlListaArqReceber")->isVisible());
        QVERIFY(server.waitDone());
        const QStringList fields =
            QString::fromStdString(platform::fromWin1252(server.received().at(1).text())).split('|');
        QCOMPARE(fields.value(2), QString("RET"));
        QCOMPARE(fields.value(3), QString("123456"));
        QCOMPARE(fields.value(5), sentComp);
        QCOMPARE(fields.value(6), sentDisp);
    }

    void listQueryShowsTheFilesInTheGrid()
    {
        openFileList();
        QCOMPARE(visibleButtons(), QString("inicio,anterior,concluir,sair"));
        QCOMPARE(window_->botao(ui::Botao::Concluir)->text(), QString("&Baixar"));
        QCOMPARE(window_->botao(ui::Botao::Concluir)->width(), 75);
        QVERIFY(!child<QWidget>(window_.get(), "pnlArqCopiar")->isVisible());
        QCOMPARE(grid()->geometry(), QRect(176, 132, 509, 221));
        const QStringList titles{"Feito", "Arquivo", "Tamanho", "Disponibilizado em"};
        const int widths[] = {33, 270, 80};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(grid()->model()->headerData(i, Qt::Horizontal).toString(), titles[i]);
        }
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(grid()->columnWidth(i), widths[i]);
        }
        // The last column takes the rest of the width.
        QCOMPARE(grid()->horizontalHeader()->length(), grid()->viewport()->width());
        QCOMPARE(grid()->model()->index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
        QCOMPARE(grid()->model()->rowCount(), 2);
        const int row = rowNamed("Retorno do processamento de maio/2024");
        QVERIFY(row >= 0);
        QVERIFY(!ticked(row));
        QVERIFY(QRegularExpression(R"(^\d+ KBytes\(s\)$)").match(cell(row, 2)).hasMatch());
        QVERIFY(QRegularExpression(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d$)").match(cell(row, 3)).hasMatch());

        // A filter that finds nothing: the channel's message, and the page stays.
        click(ui::Botao::Anterior);
        QCOMPARE(window_->paginaAtual(), ui::pgReceber);
        typeMonths("012020", "");
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgReceber);
        QCOMPARE(sandbox_->messageTexts(),
                 QStringList{"A consulta efetuada, com os parâmetros informados, não retornou nenhum arquivo "
                             "disponível.\rOs filtros de competencia e geração do arquivo são opcionais, experimente "
                             "consultar novamente \rsem preenchê-los."});
    }

    void refusedListQueryStaysOnTheFilterPage()
    {
        openFilterPage(zebd_->port(), zebd_->ftpPort(), "errada");
        selectType("RET");
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgReceber);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t(2));
        QCOMPARE(" " + messages[0].text, messages[1].text);
        QCOMPARE(messages[1].kind, platform::MessageKind::Error);
        QVERIFY(child<QWidget>(window_.get(), "pnlListaArqReceber")->isVisible());
        QVERIFY(window_->assistenteHabilitado());
    }

    void downloadSavesTheSelectedFileWhereTheUserChooses()
    {
        openFileList();
        const int row = rowNamed("Retorno do processamento de abril/2024");
        QVERIFY(row >= 0);
        grid()->selectRow(row);
        bool lockedWhileDownloading = true;
        auto original = window_->canal().AoReceberArquivo;
        window_->canal().AoReceberArquivo = [&](channel::TCanalZEBCliente& c, const channel::TStatusDownload& s) {
            original(c, s);
            lockedWhileDownloading =
                lockedWhileDownloading && !window_->assistenteHabilitado() && visibleButtons() == "inicio,sair";
        };
        const fs::path target = saveDir() / "abril.xml";
        ui::FileDialog::instance().setTestAnswers({q(target)});
        click(ui::Botao::Concluir);

        QVERIFY(lockedWhileDownloading);
        QCOMPARE(sandbox_->messageTexts(), QStringList{"O arquivo foi copiado para o diretório \"" + q(target) + "\""});
        QCOMPARE(sandbox_->ui().messages()[0].kind, platform::MessageKind::Information);
        // The dialog proposed the listed name.
        QCOMPARE(ui::FileDialog::instance().pathsSeen(), QStringList{QDir::home().filePath("retorno-042024.xml")});
        QVERIFY(test::readFile(target).starts_with("<?xml"));
        QVERIFY(test::readFile(target).find("04/2024") != std::string::npos);
        QVERIFY(!fs::exists(temp() / "retorno-042024.xml"));
        QVERIFY(ticked(row));
        QCOMPARE(visibleButtons(), QString("inicio,anterior,concluir,sair"));
        QCOMPARE(status()->text(), QString("Arquivo LIBERADO."));
        QVERIFY(sameImage(child<QLabel>(window_.get(), "imgArqCopiar"), ui::Icone::Feito));
        QCOMPARE(child<QProgressBar>(window_.get(), "gagArqCopiar")->value(), 100);

        // Again, to another place: the identifier is kept once, and the
        // dialog now starts where the last file went.
        sandbox_->ui().clear();
        ui::FileDialog::instance().setTestAnswers({q(saveDir() / "abril-2.xml")});
        click(ui::Botao::Concluir);
        QCOMPARE(ui::FileDialog::instance().pathsSeen(), QStringList{q(saveDir() / "retorno-042024.xml")});
        QVERIFY(fs::exists(saveDir() / "abril-2.xml"));
        QCOMPARE(window_->tabelaLista().downloadedIds().size(), std::size_t(1));

        // A new query of the same list shows the row ticked.
        click(ui::Botao::Anterior);
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgCopiarArq);
        QVERIFY(ticked(rowNamed("Retorno do processamento de abril/2024")));
        QVERIFY(!ticked(rowNamed("Retorno do processamento de maio/2024")));
    }

    // A declined save leaves no deciphered file, nor its enciphered
    // temporary one, behind in temp/.
    void cancelledSaveRemovesTheDownloadFromTemp()
    {
        openFileList("REL");
        ui::FileDialog::instance().setTestAnswers({QString()});
        click(ui::Botao::Concluir);
        QVERIFY(sandbox_->ui().messages().empty());
        QCOMPARE(ui::FileDialog::instance().pathsSeen().size(), 1);
        QVERIFY(!fs::exists(temp() / "relatorio-processamento.txt"));
        QVERIFY(!fs::exists(temp() / "relatorio-processamento.tmp"));
        QVERIFY(!ticked(0));
        QVERIFY(window_->tabelaLista().downloadedIds().empty());
        QCOMPARE(visibleButtons(), QString("inicio,anterior,concluir,sair"));
    }

    // A file at the chosen place is replaced only when the user says so; a
    // No brings the dialog back.
    void existingFileIsReplacedOnlyWhenTheUserAgrees_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("pickAnother");  // after a No: another name, or cancel
        QTest::newRow("yes") << true << false;
        QTest::newRow("no, then another name") << false << true;
        QTest::newRow("no, then cancel") << false << false;
    }

    void existingFileIsReplacedOnlyWhenTheUserAgrees()
    {
        QFETCH(bool, replace);
        QFETCH(bool, pickAnother);
        openFileList("REL");
        const fs::path existing = saveDir() / "relatorio.txt";
        const fs::path other = saveDir() / "relatorio-novo.txt";
        test::writeFile(existing, "não apagar");
        sandbox_->ui().queueAnswer(replace);
        ui::FileDialog::instance().setTestAnswers({q(existing), pickAnother ? q(other) : QString()});
        click(ui::Botao::Concluir);

        const QStringList texts = sandbox_->messageTexts();
        QCOMPARE(texts.value(0), "O arquivo \"" + q(existing) + "\" já existe. Deseja substituí-lo?");
        QCOMPARE(ui::FileDialog::instance().pathsSeen().size(), replace ? 1 : 2);
        if (!replace) {
            // Asked again where the user was, with the name they chose.
            QCOMPARE(ui::FileDialog::instance().pathsSeen()[1], q(existing));
        }
        const bool saved = replace || pickAnother;
        QCOMPARE(texts.size(), saved ? 2 : 1);
        QCOMPARE(test::readFile(existing) == "não apagar", !replace);
        QCOMPARE(fs::exists(other), pickAnother);
        QVERIFY(!fs::exists(temp() / "relatorio-processamento.txt"));
        QCOMPARE(ticked(0), saved);
    }

    // A download that fails: the reason in red bold, the error icon, and
    // "&Baixar" (120 wide) to try again, without "< &Anterior".
    void failedDownloadOffersToTryAgain()
    {
        openFileList("CNF");
        zebd_->server().stop();
        click(ui::Botao::Concluir);

        QVERIFY(sandbox_->ui().messages().empty());
        QVERIFY(child<QWidget>(window_.get(), "pnlArqCopiar")->isVisible());
        QVERIFY2(status()->text().startsWith(" O VEK tentou 4 vezes conectar-se ao servidor da ZEB"),
                 qPrintable(status()->text()));
        QCOMPARE(status()->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0x00));
        QVERIFY(status()->font().bold());
        QVERIFY(sameImage(child<QLabel>(window_.get(), "imgArqCopiar"), ui::Icone::Erro));
        QCOMPARE(window_->botao(ui::Botao::Concluir)->text(), QString("&Baixar"));
        QCOMPARE(window_->botao(ui::Botao::Concluir)->width(), 120);
        QCOMPARE(visibleButtons(), QString("inicio,concluir,sair"));
        QVERIFY(window_->assistenteHabilitado());
        QVERIFY(!ticked(0));
    }
};

VEK_UI_TEST(ReceivePagesTest);

#include "ReceivePagesTest.moc"
