#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/TfrmAjuda.h"
#include "ui/TfrmPrincipal.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>

#include <fstream>

using namespace vek;
using vek::test::child;

class HelpWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::UiSandbox> sandbox_;

    static QString text(ui::TfrmAjuda& help) { return help.navegador()->toPlainText(); }

    // What a click on a link of the help's content does.
    static void clickLink(ui::TfrmAjuda& help, const QString& href)
    {
        emit help.navegador()->anchorClicked(QUrl(href));
    }

private slots:
    void init() { sandbox_ = std::make_unique<test::UiSandbox>(); }
    void cleanup() { sandbox_.reset(); }

    // "A&juda" opens the help modally from any page; closing it, with its
    // close box, its "Sair" button or the "sair" link, returns to that page.
    void opensFromEveryPageAndReturnsThere_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("closeWith");
        QTest::newRow("access, sair link") << int(ui::pgAcesso) << "link";
        QTest::newRow("send, close box") << int(ui::pgEnviar) << "box";
        QTest::newRow("file list, Sair button") << int(ui::pgCopiarArq) << "button";
        QTest::newRow("history, sair link") << int(ui::pgHistoricoTransmissoes) << "link";
        QTest::newRow("password, close box") << int(ui::pgAlteraSenha) << "box";
    }

    void opensFromEveryPageAndReturnsThere()
    {
        QFETCH(int, page);
        QFETCH(QString, closeWith);
        ui::TfrmPrincipal w({});
        w.show();
        w.centralizar();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.irPara(static_cast<ui::Pagina>(page));
        bool seen = false;
        QRect helpGeometry;
        test::onNextModal([](QWidget* m) { return qobject_cast<ui::TfrmAjuda*>(m) != nullptr; },
                          [&](QWidget* m) {
                              auto* help = qobject_cast<ui::TfrmAjuda*>(m);
                              helpGeometry = help->geometry();
                              seen = help->isModal() && help->windowTitle() == "Ajuda" &&
                                     help->size() == QSize(691, 493) && help->minimumSize() == help->maximumSize() &&
                                     help->paginaAtual() == "inicio";
                              if (closeWith == "link") {
                                  clickLink(*help, "comando:sair");
                              } else if (closeWith == "button") {
                                  QTest::mouseClick(child<QPushButton>(help, "sairAjudaButton"), Qt::LeftButton);
                              } else {
                                  help->close();
                              }
                          });
        QTest::mouseClick(child<QPushButton>(&w, "ajudaButton"), Qt::LeftButton);
        QVERIFY(seen);
        // Exactly over the main window, whose button bar it hides.
        QCOMPARE(helpGeometry, w.geometry());
        QCOMPARE(int(w.paginaAtual()), page);
        QVERIFY(w.isVisible());
        QVERIFY(w.findChildren<ui::TfrmAjuda*>().isEmpty());  // freed when it closed
    }

    void commandsOtherThanSairLeaveItOpen()
    {
        ui::TfrmAjuda help;
        help.show();
        for (const char* command : {"outro", "SAIR", "sair2", ""}) {
            help.executarComando(command, "x");
            QVERIFY2(help.isVisible(), command);
        }
        clickLink(help, "comando:fechar");
        QVERIFY(help.isVisible());
        help.executarComando("sair");
        QVERIFY(!help.isVisible());
        QCOMPARE(help.result(), int(QDialog::Accepted));
    }

    // Home leads to the three sections; "Voltar" retraces the steps,
    // "Início" goes home, and only the sending and receiving pages carry
    // the animated drawing, which "Repetir" plays again.
    void navigatesBetweenItsPages()
    {
        ui::TfrmAjuda help(nullptr, {"zeb.exemplo", 8080, 2121, 20005});
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        auto* title = child<QLabel>(&help, "lblTituloAjuda");
        QCOMPARE(title->text(), QString("Ajuda do VEK"));
        QVERIFY(!help.diagrama()->isVisible());
        const QString home = help.navegador()->toHtml();
        for (const char* link : {"pagina:envio", "pagina:recebimento", "pagina:perguntas", "comando:sair"}) {
            QVERIFY2(home.contains(QString("href=\"%1\"").arg(link)), link);
        }

        clickLink(help, "pagina:envio");
        QCOMPARE(help.paginaAtual(), QString("envio"));
        QCOMPARE(title->text(), QString("Enviar arquivos"));
        QVERIFY(help.diagrama()->isVisible());
        // The animation lasts some 3 s; the waits are hang guards.
        QTRY_VERIFY_WITH_TIMEOUT(help.diagrama()->progresso() > 0.1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!help.diagrama()->animando(), 30000);
        QCOMPARE(help.diagrama()->progresso(), 1.0);
        QTest::mouseClick(child<QPushButton>(&help, "repetirAjudaButton"), Qt::LeftButton);
        QVERIFY(help.diagrama()->animando());
        QVERIFY(help.diagrama()->progresso() < 0.1);

        clickLink(help, "pagina:recebimento");
        QCOMPARE(title->text(), QString("Receber arquivos"));
        QVERIFY(help.diagrama()->isVisible());
        QVERIFY(help.navegador()->y() > help.diagrama()->y() + help.diagrama()->height() - 1);
        clickLink(help, "pagina:perguntas");
        QVERIFY(!help.diagrama()->isVisible());
        clickLink(help, "pagina:desconhecida");
        QCOMPARE(help.paginaAtual(), QString("perguntas"));

        QTest::mouseClick(child<QPushButton>(&help, "voltarAjudaButton"), Qt::LeftButton);
        QCOMPARE(help.paginaAtual(), QString("recebimento"));
        QTest::mouseClick(child<QPushButton>(&help, "voltarAjudaButton"), Qt::LeftButton);
        QCOMPARE(help.paginaAtual(), QString("envio"));
        QTest::mouseClick(child<QPushButton>(&help, "inicioAjudaButton"), Qt::LeftButton);
        QCOMPARE(help.paginaAtual(), QString("inicio"));
        QVERIFY(!help.diagrama()->isVisible());
        QTest::mouseClick(child<QPushButton>(&help, "voltarAjudaButton"), Qt::LeftButton);
        QCOMPARE(help.paginaAtual(), QString("envio"));
    }

    // The pages name the server by its role and with the configured address
    // and ports, as the main window's configuration file gives them.
    void pagesNameTheConfiguredServer()
    {
        {
            std::ofstream ini(sandbox_->base() / "vek.INI", std::ios::binary);
            ini << "[Defaults]\r\nServidorInternet=zeb.exemplo\r\nPortaServico=8080\r\nPortaFTP=2121\r\n"
                   "PortaDados=20005\r\n";
        }
        ui::TfrmPrincipal w({});
        w.show();
        QString sending;
        QString receiving;
        QString questions;
        test::onNextModal([](QWidget* m) { return qobject_cast<ui::TfrmAjuda*>(m) != nullptr; },
                          [&](QWidget* m) {
                              auto& help = *qobject_cast<ui::TfrmAjuda*>(m);
                              clickLink(help, "pagina:envio");
                              sending = text(help);
                              clickLink(help, "pagina:recebimento");
                              receiving = text(help);
                              clickLink(help, "pagina:perguntas");
                              questions = text(help);
                              help.executarComando("sair");
                          });
        QTest::mouseClick(child<QPushButton>(&w, "ajudaButton"), Qt::LeftButton);

        QVERIFY(sending.contains("servidor da ZEB (zeb.exemplo) na porta 8080"));
        QVERIFY(receiving.contains("(zeb.exemplo) na porta 2121 (FTP modificado)"));
        QVERIFY(receiving.contains("na porta 20005 do computador da operadora"));
        QVERIFY(receiving.contains("encaminhamento da porta 20005"));
        QVERIFY(!(sending + receiving + questions).contains('{'));
        // Nine questions, numbered in order.
        const auto numbered = QRegularExpression(R"((?m)^(\d)\. .*\?$)").globalMatch(questions);
        QStringList numbers;
        for (auto it = numbered; it.hasNext();) {
            numbers << it.next().captured(1);
        }
        QCOMPARE(numbers, (QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
        QVERIFY(questions.contains("somente conexões TCP, na porta 8080"));
        QVERIFY(questions.contains("Alterar Senha"));
    }
};

VEK_UI_TEST(HelpWindowTest);

#include "HelpWindowTest.moc"
