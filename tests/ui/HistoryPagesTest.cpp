#include "app/InputChecks.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/DatasetGrid.h"
#include "ui/FileDialog.h"
#include "ui/HistoryPage.h"
#include "ui/HistoryPeriodPage.h"
#include "ui/QtUiServices.h"
#include "ui/TfrmPrincipal.h"
#include "wire/MessageCodes.h"

#include <QApplication>
#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace vek;
using vek::test::child;

namespace {

QString daysFromToday(int days)
{
    return QDate::currentDate().addDays(days).toString("dd/MM/yyyy");
}

QString today()
{
    return daysFromToday(0);
}

// The history test file: two rows, the second with a zero timestamp, a
// fractional warning count and a status with a line break.
const std::filesystem::path HistoricoXml = "dataset/historico.xml";

}  // namespace

class HistoryPagesTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    QLineEdit* start() { return child<QLineEdit>(window_.get(), "txtInicioConsultaHist"); }
    QLineEdit* end() { return child<QLineEdit>(window_.get(), "txtFimConsultaHist"); }
    ui::GradeTabela* grid() { return child<ui::GradeTabela>(window_.get(), "HistoricoGrid"); }
    void click(ui::Botao b) { QTest::mouseClick(window_->botao(b), Qt::LeftButton); }

    void openPeriodPage(std::uint16_t port, const QString& senha = "demo")
    {
        test::pointClientAt(sandbox_->base(), port);
        openWindow();
        window_->canal().timeouts.downloadPause = std::chrono::milliseconds(0);
        logIn(senha, "rdbHistorico");
        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);
    }

    void typePeriod(const QString& inicio, const QString& fim)
    {
        start()->clear();
        end()->clear();
        start()->setCursorPosition(0);
        end()->setCursorPosition(0);
        QTest::keyClicks(start(), inicio);
        QTest::keyClicks(end(), fim);
    }

    QString cell(int row, int column) { return grid()->model()->index(row, column).data().toString(); }

    QString visibleButtons() { return test::visibleButtons(*window_); }

private slots:
    void init() { setUp(WithZebd::Yes); }

    void cleanup()
    {
        tearDown();
        QLocale::setDefault(QLocale::c());
    }

    void periodPageEntersWithHiddenPanelsAndMaskedFields()
    {
        openPeriodPage(zebd_->port());
        QCOMPARE(visibleButtons(), QString("inicio,anterior,proximo,sair"));
        QVERIFY(!child<QWidget>(window_.get(), "pnlStatusConsultaHist")->isVisible());
        QVERIFY(!child<QWidget>(window_.get(), "pnlInfConsultaHist")->isVisible());
        QCOMPARE(start()->displayText(), QString("  /  /    "));
        QCOMPARE(start()->toolTip(), QString("Formato DD/MM/AAAA"));
        QCOMPARE(start()->mapTo(window_.get(), QPoint(0, 0)), QPoint(184, 146));
        QCOMPARE(end()->mapTo(window_.get(), QPoint(0, 0)), QPoint(312, 146));
        QCOMPARE(end()->width(), 119);
        // Letters do not enter a date field; digits fill it around the slashes.
        QTest::keyClicks(start(), "1a2b032024x");
        QCOMPARE(start()->displayText(), QString("12/03/2024"));
        click(ui::Botao::Anterior);
        QCOMPARE(window_->paginaAtual(), ui::pgAcesso);
    }

    // Every check runs before the query: no panel shows and nothing is asked
    // of the server. Errors go to the standard error box with today's date.
    void periodChecks_data()
    {
        QTest::addColumn<QString>("inicio");
        QTest::addColumn<QString>("fim");
        QTest::addColumn<QString>("message");  // "" when the query runs
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("focus");
        const int error = int(platform::MessageKind::Error);
        const int warning = int(platform::MessageKind::Warning);
        const QString startError = QString(app::MsgDataInicialInvalida) + today();
        const QString endError = QString(app::MsgDataFinalInvalida) + today();
        QTest::newRow("start not a date") << "31022024" << today() << startError << error << "txtInicioConsultaHist";
        QTest::newRow("start partly typed") << "120520" << today() << startError << error << "txtInicioConsultaHist";
        QTest::newRow("start empty") << "" << today() << startError << error << "txtInicioConsultaHist";
        QTest::newRow("start tomorrow") << daysFromToday(1) << daysFromToday(1) << startError << error
                                        << "txtInicioConsultaHist";
        QTest::newRow("end tomorrow") << today() << daysFromToday(1) << endError << error << "txtFimConsultaHist";
        QTest::newRow("end before start") << "02012024"
                                          << "01012024" << app::MsgFimAntesDoInicio << warning << "txtFimConsultaHist";
        QTest::newRow("181 days") << "01012023"
                                  << "01072023" << app::MsgPeriodoMaximo << warning << "txtFimConsultaHist";
        // Accepted: the query runs and the demo server has nothing then.
        QTest::newRow("180 days") << "01012023"
                                  << "30062023"
                                  << "" << 0 << "";
        QTest::newRow("same day") << "15052023"
                                  << "15052023"
                                  << "" << 0 << "";
    }

    void periodChecks()
    {
        QFETCH(QString, inicio);
        QFETCH(QString, fim);
        QFETCH(QString, message);
        QFETCH(int, kind);
        QFETCH(QString, focus);
        openPeriodPage(zebd_->port());
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        typePeriod(inicio, fim);
        // Pressed without taking the focus, as its shortcut does, so that a
        // partly typed date (which a click cannot leave) reaches the page's check.
        window_->botao(ui::Botao::Proximo)->click();

        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t(1));
        if (message.isEmpty()) {
            QCOMPARE(QString::fromStdString(messages[0].text),
                     QString("Não há transmissões efetuadas no período informado."));
            QVERIFY(child<QWidget>(window_.get(), "pnlStatusConsultaHist")->isVisible());
            return;
        }
        QCOMPARE(QString::fromStdString(messages[0].text), message);
        QCOMPARE(int(messages[0].kind), kind);
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        QVERIFY(!child<QWidget>(window_.get(), "pnlStatusConsultaHist")->isVisible());
    }

    // A date field holding some digits but not all cannot be left by the
    // user: Tab, Shift+Tab or a click elsewhere leaves the focus where it
    // is, the click does nothing (no query, no page move) and a warning says
    // why. An empty field and a whole one (even a date that does not exist,
    // which the Next check refuses) can be left.
    void partlyTypedDateCannotBeLeft_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("move");
        QTest::addColumn<bool>("leaves");
        // clang-format off
        QTest::newRow("start partly typed, Tab")                    << "txtInicioConsultaHist" << "1205"     << "tab"            << false;
        QTest::newRow("start partly typed, click on the end field") << "txtInicioConsultaHist" << "120520"   << "click end"      << false;
        QTest::newRow("start partly typed, click on Próximo")       << "txtInicioConsultaHist" << "1"        << "click proximo"  << false;
        QTest::newRow("end partly typed, click on Anterior")        << "txtFimConsultaHist"    << "0101202"  << "click anterior" << false;
        QTest::newRow("end partly typed, Shift+Tab")                << "txtFimConsultaHist"    << "01"       << "backtab"        << false;
        QTest::newRow("start whole, Tab")                           << "txtInicioConsultaHist" << "01012024" << "tab"            << true;
        QTest::newRow("start no date, click on the end field")      << "txtInicioConsultaHist" << "31022024" << "click end"      << true;
        QTest::newRow("start empty, click on the end field")        << "txtInicioConsultaHist" << ""         << "click end"      << true;
        // clang-format on
    }

    void partlyTypedDateCannotBeLeft()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, move);
        QFETCH(bool, leaves);
        openPeriodPage(zebd_->port());
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        auto* edit = child<QLineEdit>(window_.get(), qPrintable(field));
        edit->setFocus();
        QTest::keyClicks(edit, typed);
        const QString shown = edit->displayText();
        sandbox_->ui().clear();

        if (move == "tab") {
            QTest::keyClick(edit, Qt::Key_Tab);
        } else if (move == "backtab") {
            QTest::keyClick(edit, Qt::Key_Backtab, Qt::ShiftModifier);
        } else if (move == "click end") {
            QTest::mouseClick(end(), Qt::LeftButton);
        } else if (move == "click proximo") {
            click(ui::Botao::Proximo);
        } else if (move == "click anterior") {
            click(ui::Botao::Anterior);
        }
        if (leaves) {
            QTest::qWait(50);  // a warning would have come by now: it is posted at once
            QVERIFY(QApplication::focusWidget() != edit);
            QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
            return;
        }
        QTRY_COMPARE(sandbox_->ui().messages().size(), std::size_t(1));
        QCOMPARE(sandbox_->ui().messages()[0].text, std::string(ui::MsgDataIncompleta));
        QCOMPARE(sandbox_->ui().messages()[0].kind, platform::MessageKind::Warning);
        QCOMPARE(QApplication::focusWidget(), edit);
        QCOMPARE(edit->displayText(), shown);
        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);
        QVERIFY(!child<QWidget>(window_.get(), "pnlStatusConsultaHist")->isVisible());

        // Once the date is whole, the same move goes ahead.
        edit->setCursorPosition(0);
        QTest::keyClicks(edit, "01012024");
        if (move == "click anterior") {
            click(ui::Botao::Anterior);
            QCOMPARE(window_->paginaAtual(), ui::pgAcesso);
        } else if (move == "tab") {
            QTest::keyClick(edit, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), end());
        }
        QTest::qWait(50);
        QCOMPARE(sandbox_->ui().messages().size(), std::size_t(1));
    }

    // Esc gives the field back what it held when it got the focus; then it can be left.
    void escapeUndoesAPartlyTypedDate()
    {
        openPeriodPage(zebd_->port());
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QTest::keyClicks(start(), "15052023");
        QTest::keyClick(start(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), end());
        QTest::mouseClick(start(), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), start());
        start()->setCursorPosition(0);
        QTest::keyClick(start(), Qt::Key_Delete);
        QCOMPARE(start()->displayText(), QString(" 5/05/2023"));
        QTest::keyClick(start(), Qt::Key_Escape);
        QCOMPARE(start()->displayText(), QString("15/05/2023"));
        QTest::keyClick(start(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), end());
        QTest::qWait(50);
        QVERIFY(sandbox_->ui().messages().empty());
    }

    // The warning about a partly typed date is a real message box: the field
    // loses the focus to it and gets it back when it closes. Esc still gives
    // back what the field held before the typing began, however many times
    // the warning showed, and the field can be left then.
    void escapeUndoesAfterTheWarning_data()
    {
        QTest::addColumn<QString>("before");  // typed before the field gets the focus again
        QTest::addColumn<QString>("typed");   // typed from the start of the field
        QTest::addColumn<int>("warnings");
        QTest::addColumn<QString>("half");
        QTest::addColumn<QString>("restored");
        QTest::newRow("empty field, one warning") << ""
                                                  << "0512" << 1 << "05/12/    "
                                                  << "  /  /    ";
        QTest::newRow("empty field, three warnings") << ""
                                                     << "0512" << 3 << "05/12/    "
                                                     << "  /  /    ";
        QTest::newRow("whole date, two warnings") << "15052023"
                                                  << "01" << 2 << "01/05/2023"
                                                  << "15/05/2023";
    }

    void escapeUndoesAfterTheWarning()
    {
        QFETCH(QString, before);
        QFETCH(QString, typed);
        QFETCH(int, warnings);
        QFETCH(QString, half);
        QFETCH(QString, restored);
        openPeriodPage(zebd_->port());
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        if (!before.isEmpty()) {
            QTest::keyClicks(start(), before);
            QTest::keyClick(start(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), end());
        }
        QTest::mouseClick(start(), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), start());
        start()->setCursorPosition(0);
        QTest::keyClicks(start(), typed);
        if (!before.isEmpty()) {
            // Whole again, then one digit gone: partly typed.
            QTest::keyClick(start(), Qt::Key_End);
            QTest::keyClick(start(), Qt::Key_Backspace);
            half.chop(1);
            half += ' ';
        }
        QCOMPARE(start()->displayText(), half);

        ui::QtUiServices real;
        platform::ScopedUi scoped(real);
        for (int i = 0; i < warnings; ++i) {
            QString shown;
            bool fieldHadFocus = true;
            test::onNextModal([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                              [&](QWidget* w) {
                                  auto* box = qobject_cast<QMessageBox*>(w);
                                  shown = box->text();
                                  // The box takes the focus once it is active,
                                  // which a busy machine may not have got to.
                                  fieldHadFocus = !QTest::qWaitFor([&] { return !start()->hasFocus(); }, 10000);
                                  box->button(QMessageBox::Ok)->click();
                              });
            QTest::keyClick(start(), Qt::Key_Tab);
            QTRY_COMPARE(shown, QString(ui::MsgDataIncompleta));
            QVERIFY(!fieldHadFocus);
            QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
            // A window manager gives the activation back to the window; the
            // offscreen platform leaves that to the program.
            window_->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window_.get()));
            QTRY_COMPARE(QApplication::focusWidget(), start());
            QCOMPARE(start()->displayText(), half);
        }

        QTest::keyClick(start(), Qt::Key_Escape);
        QCOMPARE(start()->displayText(), restored);
        QTest::keyClick(start(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), end());
        QTest::qWait(50);  // a warning would have come by now: it is posted at once
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
    }

    void historyOfThePeriodInTheGrid()
    {
        openPeriodPage(zebd_->port());
        int lastPercent = -1;
        QStringList texts;
        auto original = window_->canal().AoConsultaHistoricoTx;
        window_->canal().AoConsultaHistoricoTx =
            [&](channel::TCanalZEBCliente& c, channel::TTipoStatusEtapa s, std::int32_t p, const std::string& t) {
                original(c, s, p, t);
                lastPercent = child<QProgressBar>(window_.get(), "gagConsultaHist")->value();
                texts << child<QLabel>(window_.get(), "pnlInfConsultaHist")->text();
            };
        typePeriod(daysFromToday(-30).remove('/'), today().remove('/'));
        click(ui::Botao::Proximo);

        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        QCOMPARE(window_->paginaAtual(), ui::pgHistoricoTransmissoes);
        QCOMPARE(lastPercent, 100);
        QVERIFY(texts.contains("Solicitando a lista de protocolos..."));
        QCOMPARE(visibleButtons(), QString("inicio,anterior,sair"));

        QCOMPARE(grid()->geometry(), QRect(176, 132, 509, 221));
        const QStringList titles{"Transmissão", "Arquivo", "Tipo", "Protocolo", "Status", "Avisos", "Erros"};
        // The design's widths add up to 810 pixels: they shrink in proportion
        // to fill the grid, none below its title.
        const int widths[] = {110, 160, 40, 180, 160, 80, 80};
        QCOMPARE(grid()->model()->columnCount(), 7);
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(grid()->model()->headerData(i, Qt::Horizontal).toString(), titles[i]);
            QVERIFY(grid()->columnWidth(i) < widths[i]);
        }
        QVERIFY(grid()->columnWidth(3) > grid()->columnWidth(1));  // Protocolo, Arquivo
        QCOMPARE(grid()->columnWidth(1), grid()->columnWidth(4));  // Arquivo, Status
        QCOMPARE(grid()->columnWidth(5), grid()->columnWidth(6));  // Avisos, Erros
        QCOMPARE(grid()->horizontalHeader()->height(), 17);
        QVERIFY(grid()->rowHeight(0) >= 16);
        QCOMPARE(grid()->model()->rowCount(), 2);
        QStringList files{cell(0, 1), cell(1, 1)};
        files.sort();
        QCOMPARE(files, (QStringList{"informacoes-complementares.txt", "movimentacao-cadastral.xml"}));
        QVERIFY(QRegularExpression(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d$)").match(cell(0, 0)).hasMatch());
        // Every column in sight and every text whole (a date and time may take two lines).
        const QStringList problems = test::gridProblems(grid());
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));

        // Back keeps the typed period.
        click(ui::Botao::Anterior);
        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);
        QCOMPARE(start()->displayText(), daysFromToday(-30));
        QCOMPARE(end()->displayText(), today());
        QVERIFY(!child<QWidget>(window_.get(), "pnlStatusConsultaHist")->isVisible());
    }

    void gridShowsTheValuesAsTheTableHoldsThem_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("warnings");
        QTest::newRow("C") << "C"
                           << "2.5";
        QTest::newRow("pt_BR") << "pt_BR"
                               << "2,5";
    }

    void gridShowsTheValuesAsTheTableHoldsThem()
    {
        QFETCH(QString, locale);
        QFETCH(QString, warnings);
        QLocale::setDefault(QLocale(locale));
        test::FakeZebServer server(
            {test::listFileScript(wire::CMD_PEDIDO_HISTORICO, test::testData(HistoricoXml.string()))});
        openPeriodPage(server.port());
        typePeriod(daysFromToday(-5).remove('/'), today().remove('/'));
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgHistoricoTransmissoes);
        QCOMPARE(grid()->model()->rowCount(), 3);
        QCOMPARE(cell(0, 0), QString("09/12/2026 14:05:09"));
        QCOMPARE(cell(0, 3), QString("2026000001"));
        QCOMPARE(cell(1, 0), QString());  // a zero timestamp
        QCOMPARE(cell(1, 1), QString("=SOMA(A1:A2)"));
        QCOMPARE(cell(1, 5), warnings);
        QCOMPARE(cell(1, 6), QString("17"));
        QCOMPARE(cell(2, 1), QString());
        QVERIFY(server.waitDone());
        QCOMPARE(server.errors(), std::vector<std::string>{});
    }

    // A file that lacks a declared field is refused in the standard error
    // box; the period page stays and the grid keeps the last good history.
    // A refused history file shows nothing rather than the earlier period's
    // transmissions as if they were the answer.
    void refusedFileShowsNoHistory()
    {
        test::FakeZebServer server(
            {test::listFileScript(wire::CMD_PEDIDO_HISTORICO, test::testData(HistoricoXml.string())),
             test::listFileScript(wire::CMD_PEDIDO_HISTORICO, test::testData("dataset/historico-sem-QT_ERROS.xml"))});
        openPeriodPage(server.port());
        typePeriod(daysFromToday(-5).remove('/'), today().remove('/'));
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgHistoricoTransmissoes);
        click(ui::Botao::Anterior);
        click(ui::Botao::Proximo);

        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].kind, platform::MessageKind::Error);
        QVERIFY2(QString::fromStdString(messages[0].text).contains("QT_ERROS"), messages[0].text.c_str());
        QCOMPARE(window_->tabelaHistorico().recordCount(), std::size_t(0));
        QCOMPARE(grid()->model()->rowCount(), 0);
        QVERIFY(window_->assistenteHabilitado());
    }

    // The server's refusal: the channel's own box with the reason, then the
    // error in the standard box; the page stays with its panels shown.
    void refusedQueryStaysOnThePeriodPage()
    {
        openPeriodPage(zebd_->port(), "errada");
        typePeriod(daysFromToday(-10).remove('/'), today().remove('/'));
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t(2));
        QCOMPARE(" " + messages[0].text, messages[1].text);
        QCOMPARE(messages[1].kind, platform::MessageKind::Error);
        QVERIFY(child<QWidget>(window_.get(), "pnlStatusConsultaHist")->isVisible());
        QVERIFY(child<QLabel>(window_.get(), "pnlInfConsultaHist")->text().startsWith("Conexão negada: "));
        QVERIFY(window_->assistenteHabilitado());
        QVERIFY(!window_->operacaoEmAndamento());
    }

    void exportWritesTheWorkbookAndOpensIt_data()
    {
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<bool>("opens");
        QTest::newRow("opened") << true << true;
        QTest::newRow("no spreadsheet application") << true << false;
        QTest::newRow("dialog cancelled") << false << true;
    }

    void exportWritesTheWorkbookAndOpensIt()
    {
        QFETCH(bool, chosen);
        QFETCH(bool, opens);
        test::FakeZebServer server(
            {test::listFileScript(wire::CMD_PEDIDO_HISTORICO, test::testData(HistoricoXml.string()))});
        openPeriodPage(server.port());
        typePeriod(daysFromToday(-5).remove('/'), today().remove('/'));
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgHistoricoTransmissoes);

        const QString path = QString::fromStdString((sandbox_->base() / "Historico.xlsx").string());
        ui::FileDialog::instance().setTestAnswers({chosen ? path : QString()});
        QStringList opened;
        window_->paginaHistorico()->abrirPlanilha = [&](const QString& p) {
            opened << p;
            return opens;
        };
        sandbox_->ui().clear();
        QTest::mouseClick(child<QPushButton>(window_.get(), "btnExportarExcel"), Qt::LeftButton);

        QCOMPARE(QFile::exists(path), chosen);
        QCOMPARE(opened, chosen ? QStringList{path} : QStringList{});
        QCOMPARE(sandbox_->ui().busyCalls(), chosen ? (std::vector<bool>{true, false}) : std::vector<bool>{});
        if (!chosen) {
            return;
        }
        if (opens) {
            QVERIFY(sandbox_->ui().messages().empty());
        } else {
            // The export worked: where the file is, as information.
            QCOMPARE(sandbox_->messageTexts(),
                     QStringList{"A planilha foi gravada em \"" + path +
                                 "\", mas nenhum aplicativo de planilhas pôde abri-la."});
            QCOMPARE(sandbox_->ui().messages()[0].kind, platform::MessageKind::Information);
        }
        // A real reader sees the sheet, the header row and one row per record.
        QProcess python;
        python.start("/usr/bin/python3",
                     {"-c",
                      "import openpyxl,sys; wb=openpyxl.load_workbook(sys.argv[1]); ws=wb['Historico'];"
                      "print(ws.max_row); print('|'.join(str(c.value) for c in ws[1]))",
                      path});
        QVERIFY(python.waitForFinished(30000));
        const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split('\n');
        QCOMPARE(lines.value(0), QString("4"));
        QCOMPARE(lines.value(1), QString("Transmissão|Arquivo|Tipo do Arquivo|Protocolo|Status|Avisos|Erros"));
    }
};

VEK_UI_TEST(HistoryPagesTest);

#include "HistoryPagesTest.moc"
