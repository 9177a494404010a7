#include "platform/Socket.h"
#include "tests/fixtures/RecordingSleeper.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/FileDialog.h"
#include "ui/PastasLembradas.h"
#include "ui/SendPage.h"
#include "ui/TfrmPrincipal.h"
#include "ui/TqrpRecibo.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

using namespace vek;
using vek::test::child;

namespace {

namespace fs = std::filesystem;

QString q(const fs::path& p)
{
    return QString::fromStdString(p.string());
}

// The Alt+letter of every button and buddied label that a page offers with
// the button bar as it shows on entering the page.
QStringList mnemonicsOf(ui::TfrmPrincipal& w, ui::Pagina page)
{
    QStringList out;
    const auto add = [&](const QString& text) {
        const QKeySequence key = QKeySequence::mnemonic(text);
        if (!key.isEmpty()) {
            out << key.toString();
        }
    };
    for (QAbstractButton* b : w.pagina(page)->findChildren<QAbstractButton*>()) {
        add(b->text());
    }
    for (QLabel* l : w.pagina(page)->findChildren<QLabel*>()) {
        if (l->buddy() != nullptr) {
            add(l->text());
        }
    }
    for (QAbstractButton* b : w.findChild<QWidget*>("barraBotoes")->findChildren<QAbstractButton*>()) {
        if (!b->isHidden()) {
            add(b->text());
        }
    }
    return out;
}

}  // namespace

// The window by keyboard, and the folders its dialogs remember.
class KeyboardAndFoldersTest : public test::WindowTestCase
{
    Q_OBJECT

private slots:
    void init() { setUp(WithZebd::No); }
    void cleanup() { tearDown(); }

    // Enter in either field of the access page does what "&Próximo >" does.
    void enterInTheAccessFieldsGoesOn()
    {
        openWindow();
        auto* registro = child<QLineEdit>(window_.get(), "txtRegZEB");
        auto* senha = child<QLineEdit>(window_.get(), "txtSenha");
        QTest::keyClick(registro, Qt::Key_Return);
        QCOMPARE(sandbox_->messageTexts(), QStringList{"É necessário preencher o Registro da ZEB e a Senha."});
        QTest::keyClicks(registro, "123456");
        QTest::keyClicks(senha, "demo");
        QTest::mouseClick(child<QRadioButton>(window_.get(), "rdbHistorico"), Qt::LeftButton);
        QTest::keyClick(senha, Qt::Key_Enter);
        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);
        QCOMPARE(sandbox_->ui().messages().size(), std::size_t(1));
    }

    // Tab reaches the browse button after the file field; Space opens the dialog.
    void browseButtonIsInTheTabOrder()
    {
        openWindow();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        window_->irPara(ui::pgEnviar);
        auto* field = child<QLineEdit>(window_.get(), "txtArqEnviado");
        field->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), field);
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("procurarArquivoButton"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(ui::FileDialog::instance().filtersSeen().size(), 1);
    }

    // No letter is offered twice on one page, and the page's own buttons have one.
    void everyPageOffersEachAcceleratorOnce()
    {
        openWindow();
        for (int p = ui::pgAcesso; p < ui::NumeroPaginas; ++p) {
            window_->irPara(static_cast<ui::Pagina>(p));
            QStringList keys = mnemonicsOf(*window_, static_cast<ui::Pagina>(p));
            QStringList unique = keys;
            unique.removeDuplicates();
            keys.sort();
            QVERIFY2(unique.size() == keys.size(), qPrintable(QString::number(p) + ": " + keys.join(' ')));
        }
        for (const char* name : {"btnImprimirRecibo", "btnRecibosAnteriores", "btnExportarExcel"}) {
            auto* button = window_->findChild<QAbstractButton*>(name);
            QVERIFY2(button != nullptr, name);
            QVERIFY2(!QKeySequence::mnemonic(button->text()).isEmpty(), name);
        }
    }

    // On the password page Alt+A is "&Alterar": it tries the change and stays.
    void altAOnThePasswordPageChangesThePassword()
    {
        quint16 closed = 0;
        {
            platform::TcpListener l;
            l.listen("127.0.0.1", 0);
            closed = l.localPort();
        }
        test::pointClientAt(sandbox_->base(), closed);
        openWindow();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        window_->estado().registro = "123456";
        window_->estado().senha = "demo";
        window_->irPara(ui::pgAlteraSenha);
        QCOMPARE(window_->botao(ui::Botao::Anterior)->text(), QString("< Anterior"));
        const test::RecordingSleeper pauses;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::AltModifier);
        QTRY_VERIFY(!sandbox_->ui().messages().empty() ||
                    child<QWidget>(window_.get(), "pnlInfNovaSenha")->isVisible());
        QCOMPARE(window_->paginaAtual(), ui::pgAlteraSenha);
        // Elsewhere "< &Anterior" has its letter back.
        window_->irPara(ui::pgPeriodoConsultaHist);
        QCOMPARE(window_->botao(ui::Botao::Anterior)->text(), QString("< &Anterior"));
    }

    // The open dialog starts, in the next run, where the last file came from;
    // a folder that has gone gives the home folder again.
    void openDialogStartsWhereTheLastFileCameFrom()
    {
        const fs::path dir = sandbox_->base() / "envios" / "dezembro";
        fs::create_directories(dir);
        test::writeFile(dir / "dados.xml", "<a/>");
        auto& dialogs = ui::FileDialog::instance();
        for (int run = 0; run < 3; ++run) {
            ui::TfrmPrincipal w({});
            w.paginaEnviar()->preencherTipos("XML#Arquivo XML");
            w.irPara(ui::pgEnviar);
            child<QComboBox>(&w, "cbxTpoArqEnviar")->setCurrentIndex(0);
            dialogs.setTestAnswers({run == 0 ? q(dir / "dados.xml") : QString()});
            w.paginaEnviar()->procurarArquivo();
            const QString expected = run == 1 ? q(dir) : QDir::homePath();
            QCOMPARE(dialogs.pathsSeen().value(0), expected);
            if (run == 1) {
                fs::remove_all(dir);
            }
        }
    }

    // "Salvar como PDF" proposes the receipt's name in the folder of the last one.
    void receiptPdfIsProposedInTheLastFolder()
    {
        const fs::path dir = sandbox_->base() / "recibos";
        fs::create_directories(dir);
        auto& dialogs = ui::FileDialog::instance();
        QStringList proposals;
        for (int run = 0; run < 2; ++run) {
            dialogs.setTestAnswers({q(dir / ("recibo-" + std::to_string(run) + ".pdf"))});
            test::onNextModal([](QWidget* m) { return qobject_cast<QPrintPreviewDialog*>(m) != nullptr; },
                              [](QWidget* m) {
                                  m->findChild<QAction*>("salvarPdfAction")->trigger();
                                  m->close();
                              });
            ui::TqrpRecibo recibo(nullptr);
            recibo.definirValores({"2026000123 - VEK-4.0.8", "123456", "a.xml", "09/12/2026 14:05:09", "", "", ""});
            recibo.visualizar();
            proposals << QFileInfo(dialogs.pathsSeen().value(0)).absolutePath();
        }
        QCOMPARE(proposals, (QStringList{QDir::homePath(), q(dir)}));
    }
};

VEK_UI_TEST(KeyboardAndFoldersTest);

#include "KeyboardAndFoldersTest.moc"
