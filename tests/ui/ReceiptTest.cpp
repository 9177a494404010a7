#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/FileDialog.h"
#include "ui/TqrpRecibo.h"

#include <QAction>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

using namespace vek;

namespace {

struct Word
{
    QString text;
    double xMin, yMin, xMax, yMax;
};

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        qWarning() << program << args << p.readAllStandardError();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString simplified(QString text)
{
    return text.replace(QRegularExpression("\\s+"), " ").trimmed();
}

std::vector<Word> words(const QString& pdf)
{
    const QString html = run("pdftotext", {"-bbox", pdf, "-"});
    static const QRegularExpression re(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    std::vector<Word> out;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        QString text = m.captured(5);
        text.replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"");
        out.push_back({text,
                       m.captured(1).toDouble(),
                       m.captured(2).toDouble(),
                       m.captured(3).toDouble(),
                       m.captured(4).toDouble()});
    }
    return out;
}

const Word* find(const std::vector<Word>& all, const QString& text)
{
    for (const Word& w : all) {
        if (w.text == text) {
            return &w;
        }
    }
    return nullptr;
}

// Millimetres from the page's top left corner, in PDF points.
double pt(double mm)
{
    return mm * 72.0 / 25.4;
}

ui::TqrpRecibo::Valores sample()
{
    return {"2026000123 - VEK-4.0.8",
            "123456",
            "/home/operadora/envios/Relação de março & abril.xml",
            "09/12/2026 14:05:09",
            "Informação: lote nº 7",
            "192.168.10.20",
            "A1B2C3D4E5F60718293A4B5C6D7E8F90"};
}

}  // namespace

class ReceiptTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString render(const ui::TqrpRecibo::Valores& valores, const QString& name)
    {
        ui::TqrpRecibo recibo(nullptr);
        recibo.definirValores(valores);
        const QString path = dir_.filePath(name);
        if (!recibo.salvarPdf(path)) {
            return {};
        }
        return path;
    }

private slots:
    void pdfHoldsEveryTextAndValue()
    {
        const QString pdf = render(sample(), "recibo.pdf");
        QVERIFY(!pdf.isEmpty());
        const QString text = simplified(run("pdftotext", {"-enc", "UTF-8", pdf, "-"}));
        const QStringList expected{
            "Sistema de Envio Eletrônico de Arquivos",
            "Protocolo de Transmissão: 2026000123 - VEK-4.0.8",
            "Registro da Operadora: 123456",
            "Arquivo Enviado: Relação de março & abril.xml",
            "Data de Recebimento ZEB: 09/12/2026 14:05:09",
            "Endereço IP: 192.168.10.20",
            "Informações Adicionais: Informação: lote nº 7",
            "ATENÇÃO: Em caso de arquivo com informações a serem incorporadas na base da ZEB, somente arquivos "
            "PROCESSADOS com sucesso serão considerados para cumprimento útil da obrigação de envio. Após o envio, "
            "é necessário acompanhar o status do processamento através do site.",
            "A1B2C3D4E5F60718293A4B5C6D7E8F90",
        };
        for (const QString& piece : expected) {
            QVERIFY2(text.contains(piece), qPrintable("missing: " + piece + "\nin: " + text));
        }
        QVERIFY(!text.contains("/home/operadora"));  // the file goes without its directories

        const QString info = run("pdfinfo", {pdf});
        QVERIFY2(info.contains(QRegularExpression("Pages:\\s+1\\n")), qPrintable(info));
        QVERIFY2(info.contains(QRegularExpression("Page size:\\s+595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)")),
                 qPrintable(info));
        // The window's font families come out as their metric-compatible stand-ins.
        const QString fonts = run("pdffonts", {pdf});
        for (const char* family :
             {"DejaVuSans-Bold", "LiberationSans-Bold", "LiberationSans", "LiberationSerif-Italic", "LiberationMono"}) {
            QVERIFY2(fonts.contains(family), qPrintable(QString(family) + " not in\n" + fonts));
        }
    }

    // Positions in millimetres from the band's corner, which lies at the
    // 10 mm margins.
    void elementsSitWhereTheLayoutPutsThem_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<double>("leftMm");  // -1: not checked
        QTest::addColumn<double>("topMm");
        QTest::addColumn<double>("rightMm");  // -1: not checked
        QTest::newRow("protocol caption") << "Protocolo" << 4.2 << 47.6 << -1.0;
        QTest::newRow("protocol value") << "2026000123" << 50.8 << 47.6 << -1.0;
        QTest::newRow("registry caption") << "Registro" << 4.2 << 57.2 << -1.0;
        QTest::newRow("registry value") << "123456" << 42.3 << 57.2 << -1.0;
        QTest::newRow("file caption") << "Arquivo" << 4.2 << 67.2 << -1.0;
        QTest::newRow("date value") << "09/12/2026" << 49.7 << 76.7 << -1.0;
        QTest::newRow("address value") << "192.168.10.20" << 26.5 << 86.3 << -1.0;
        QTest::newRow("information value") << "lote" << -1.0 << 94.7 << -1.0;
        QTest::newRow("notice") << "ATENÇÃO:" << 1.1 << 106.9 << -1.0;
        QTest::newRow("authentication") << "A1B2C3D4E5F60718293A4B5C6D7E8F90" << -1.0 << 120.7 << 188.6;
    }

    void elementsSitWhereTheLayoutPutsThem()
    {
        QFETCH(QString, word);
        QFETCH(double, leftMm);
        QFETCH(double, topMm);
        QFETCH(double, rightMm);
        const QString pdf = render(sample(), "posicoes.pdf");
        const auto all = words(pdf);
        const Word* w = find(all, word);
        QVERIFY2(w != nullptr, qPrintable(word));
        constexpr double Tolerance = 1.5;  // points: glyph side bearings and ascent
        if (leftMm >= 0) {
            QVERIFY2(std::abs(w->xMin - pt(10 + leftMm)) < Tolerance,
                     qPrintable(QString("x %1, expected %2").arg(w->xMin).arg(pt(10 + leftMm))));
        }
        if (rightMm >= 0) {
            QVERIFY2(std::abs(w->xMax - pt(10 + rightMm)) < Tolerance,
                     qPrintable(QString("right %1, expected %2").arg(w->xMax).arg(pt(10 + rightMm))));
        }
        QVERIFY2(std::abs(w->yMin - pt(10 + topMm)) < Tolerance + 1.0,
                 qPrintable(QString("y %1, expected %2").arg(w->yMin).arg(pt(10 + topMm))));
        // The heading is centred on the band.
        const Word* sistema = find(all, "Sistema");
        const Word* arquivos = find(all, "Arquivos");
        QVERIFY(sistema && arquivos);
        const double centre = (sistema->xMin + arquivos->xMax) / 2;
        QVERIFY2(std::abs(centre - pt(10 + 190.8 / 2)) < 2.0, qPrintable(QString::number(centre)));
    }

    void longProtocolLineWrapsInsideTheBand()
    {
        auto valores = sample();
        const QString protocolo = QString("9").repeated(60) + "-" + QString("8").repeated(60);
        valores.protocolo = protocolo + " - VEK-4.0.8 - Aplicativo: INTEGRADOR-2.1";
        const QString pdf = render(valores, "longo.pdf");
        const auto all = words(pdf);
        double lowest = 0;
        QString joined;
        for (const Word& w : all) {
            QVERIFY2(w.xMax <= pt(10 + 190) + 0.5, qPrintable(w.text));
            if (w.text.startsWith("999") || w.text.startsWith("888") || w.text.startsWith("-888")) {
                joined += w.text;
                lowest = std::max(lowest, w.yMin);
            }
        }
        QCOMPARE(joined.remove(QChar(u'-')), QString(protocolo).remove(QChar(u'-')));
        QVERIFY(lowest > pt(10 + 47.6) + 5);  // a second line
        QVERIFY(simplified(run("pdftotext", {pdf, "-"})).contains("Aplicativo: INTEGRADOR-2.1"));
    }

    // The preview opens beside the window it was asked from, on the screen;
    // saving as PDF says where the file went.
    void previewOffersSavingAsPdf()
    {
        test::UiSandbox sandbox;
        QWidget owner;
        owner.setFixedSize(691, 493);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        const QRect screen = owner.screen()->availableGeometry();
        // About the middle of the screen, as the main window starts: the
        // preview has less room beside it than it would like.
        owner.move(screen.left() + 620, screen.top() + 150);
        QTRY_COMPARE(owner.frameGeometry().topLeft(), screen.topLeft() + QPoint(620, 150));
        QVERIFY2(screen.width() >= 620 + owner.frameGeometry().width() + 8 + 480, "a screen with room beside");

        const QString path = dir_.filePath("salvo");  // the extension is added
        ui::FileDialog::instance().setTestAnswers({path});
        bool triggered = false;
        bool printAndSaveInSight = false;
        QRect previewFrame;
        test::onNextModal([](QWidget* w) { return qobject_cast<QPrintPreviewDialog*>(w) != nullptr; },
                          [&](QWidget* w) {
                              previewFrame = w->frameGeometry();
                              auto* action = w->findChild<QAction*>("salvarPdfAction");
                              QVERIFY(action != nullptr);
                              QCOMPARE(action->text(), QString("Salvar como PDF"));
                              // Printing and saving stay in sight in the narrower preview.
                              auto* bar = w->findChild<QToolBar*>();
                              auto* print = w->findChild<QAction*>("imprimirAction");
                              printAndSaveInSight = print != nullptr && bar->widgetForAction(print)->isVisible() &&
                                                    bar->widgetForAction(action)->isVisible();
                              action->trigger();
                              triggered = true;
                              w->close();
                          });
        ui::TqrpRecibo recibo(&owner);
        const auto v = sample();
        recibo.preencher(
            v.protocolo, v.operadora, v.arquivo, v.dataRecebimento, v.informacoes, v.enderecoIP, v.autenticacao);
        QVERIFY(triggered);
        QVERIFY2(!previewFrame.intersects(owner.frameGeometry()),
                 qPrintable(QString("preview %1,%2 %3x%4")
                                .arg(previewFrame.x())
                                .arg(previewFrame.y())
                                .arg(previewFrame.width())
                                .arg(previewFrame.height())));
        QVERIFY(screen.contains(previewFrame));
        QVERIFY(previewFrame.width() >= 480);
        QVERIFY(printAndSaveInSight);

        QCOMPARE(ui::FileDialog::instance().filtersSeen(), QStringList{"PDF (*.pdf)"});
        const QString text = simplified(run("pdftotext", {path + ".pdf", "-"}));
        QVERIFY2(text.contains("Protocolo de Transmissão: 2026000123 - VEK-4.0.8"), qPrintable(text));
        const auto messages = sandbox.ui().messages();
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages[0].text), "O recibo foi salvo em \"" + path + ".pdf\".");
        QCOMPARE(messages[0].kind, platform::MessageKind::Information);
    }

    // Frames in screen coordinates; the screen is 1920 x 1040 from (0, 0).
    void previewPlaceBesideTheWindow_data()
    {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("room on both sides: the right") << QRect(100, 150, 695, 521) << QRect(803, 150, 960, 720);
        QTest::newRow("room only on the left") << QRect(1200, 150, 695, 521) << QRect(232, 150, 960, 720);
        QTest::newRow("less room than wished: the roomier side, as wide as it allows")
            << QRect(614, 293, 695, 521) << QRect(0, 293, 606, 720);
        QTest::newRow("low on the screen: it stays on it") << QRect(0, 600, 695, 521) << QRect(703, 320, 960, 720);
        QTest::newRow("no room on either side: at the edge of the roomier side, as narrow as allowed")
            << QRect(450, 100, 1000, 521) << QRect(1440, 100, 480, 720);
    }

    void previewPlaceBesideTheWindow()
    {
        QFETCH(QRect, window);
        QFETCH(QRect, expected);
        QCOMPARE(ui::geometriaAoLado(window, QRect(0, 0, 1920, 1040), QSize(960, 720), 480), expected);
    }

    void failedWriteIsReported()
    {
        ui::TqrpRecibo recibo(nullptr);
        recibo.definirValores(sample());
        QVERIFY(!recibo.salvarPdf(dir_.filePath("nao/existe/recibo.pdf")));
    }
};

VEK_UI_TEST(ReceiptTest);

#include "ReceiptTest.moc"
