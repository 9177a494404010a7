#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/TfrmPrincipal.h"
#include "ui/TqrpRecibo.h"

#include <QAction>
#include <QGuiApplication>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

using namespace vek;

namespace {

ui::TqrpRecibo::Valores sample()
{
    return {"2026000123 - VEK-4.0.8",
            "123456",
            "/home/operadora/envios/movimento.xml",
            "09/12/2026 14:05:09",
            "",
            "192.168.10.20",
            "A1B2C3D4E5F60718293A4B5C6D7E8F90"};
}

}  // namespace

// The receipt's preview on a small screen, and a print that goes to a file.
class ReceiptPreviewTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;

private slots:
    // Printed to a file from the print dialog: the operator is told where it
    // went, or that it could not be written.
    void printToAFileSaysWhereItWent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("kind");
        QTest::newRow("written") << "impresso.pdf"
                                 << "O recibo foi salvo em \"%1\"." << int(platform::MessageKind::Information);
        QTest::newRow("not written") << "nao/existe/impresso.pdf"
                                     << "Não foi possível gravar o arquivo \"%1\"."
                                     << int(platform::MessageKind::Error);
    }

    void printToAFileSaysWhereItWent()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        QFETCH(int, kind);
        test::UiSandbox sandbox;
        const QString path = dir_.filePath(name);
        // What the print dialog does when the operator prints to a file.
        test::onNextModal([](QWidget* m) { return qobject_cast<QPrintPreviewDialog*>(m) != nullptr; },
                          [&](QWidget* m) {
                              auto* previa = qobject_cast<QPrintPreviewDialog*>(m);
                              previa->printer()->setOutputFormat(QPrinter::PdfFormat);
                              previa->printer()->setOutputFileName(path);
                              previa->findChild<QPrintPreviewWidget*>()->print();
                              previa->accept();
                          });
        ui::TqrpRecibo recibo(nullptr);
        recibo.definirValores(sample());
        recibo.visualizar();
        QCOMPARE(sandbox.messageTexts(), QStringList{message.arg(path)});
        QCOMPARE(int(sandbox.ui().messages()[0].kind), kind);
    }

    // Closed without printing: nothing to say.
    void closedPreviewSaysNothing()
    {
        test::UiSandbox sandbox;
        test::onNextModal([](QWidget* m) { return qobject_cast<QPrintPreviewDialog*>(m) != nullptr; },
                          [](QWidget* m) { m->close(); });
        ui::TqrpRecibo recibo(nullptr);
        recibo.definirValores(sample());
        recibo.visualizar();
        QVERIFY(sandbox.ui().messages().empty());
    }

    // On a 1366 x 768 screen the preview fits beside the centred main window,
    // narrower and with the whole page in sight, and wholly on the screen.
    void previewFitsBesideTheWindowOnASmallScreen()
    {
        test::UiSandbox sandbox;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect small(screen.topLeft(), QSize(1366, 768));
        ui::TfrmPrincipal owner({});
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        const QPoint centred =
            small.center() - QPoint(owner.frameGeometry().width() / 2, owner.frameGeometry().height() / 2);
        owner.move(centred);
        QTRY_COMPARE(owner.frameGeometry().topLeft(), centred);

        QRect previewFrame;
        bool wholePage = false;
        bool printAndSaveInSight = false;
        QPixmap desktop(small.size());
        test::onNextModal([](QWidget* m) { return qobject_cast<QPrintPreviewDialog*>(m) != nullptr; },
                          [&](QWidget* m) {
                              QTest::qWait(100);
                              previewFrame = m->frameGeometry();
                              auto* page = m->findChild<QPrintPreviewWidget*>();
                              wholePage = page->zoomMode() == QPrintPreviewWidget::FitInView;
                              auto* bar = m->findChild<QToolBar*>();
                              const auto inSight = [&](const char* name) {
                                  auto* action = m->findChild<QAction*>(name);
                                  return action != nullptr && bar->widgetForAction(action) != nullptr &&
                                         bar->widgetForAction(action)->isVisible();
                              };
                              printAndSaveInSight = inSight("imprimirAction") && inSight("salvarPdfAction");
                              desktop.fill(QColor(0x2E, 0x34, 0x40));
                              QPainter p(&desktop);
                              p.drawPixmap(owner.frameGeometry().topLeft() - small.topLeft(), owner.grab());
                              p.drawPixmap(previewFrame.topLeft() - small.topLeft(), m->grab());
                              p.end();
                              m->close();
                          });
        ui::TqrpRecibo recibo(&owner);
        recibo.definirAreaDaTela(small);
        recibo.definirValores(sample());
        recibo.visualizar();
        const QString where = QString("preview %1,%2 %3x%4")
                                  .arg(previewFrame.x())
                                  .arg(previewFrame.y())
                                  .arg(previewFrame.width())
                                  .arg(previewFrame.height());
        QVERIFY2(small.contains(previewFrame), qPrintable(where));
        QVERIFY2(!previewFrame.intersects(owner.frameGeometry()), qPrintable(where));
        QVERIFY(wholePage);
        QVERIFY(printAndSaveInSight);
        QVERIFY(desktop.save(test::screenshotPath("33-recibo-previa-1366x768.png")));
    }
};

VEK_UI_TEST(ReceiptPreviewTest);

#include "ReceiptPreviewTest.moc"
