#include "platform/Socket.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/FileDialog.h"
#include "ui/PreviousReceiptsDialog.h"
#include "ui/QtUiServices.h"
#include "ui/SendPage.h"
#include "ui/TfrmAjuda.h"
#include "ui/TfrmPrincipal.h"
#include "ui/TqrpRecibo.h"

#include <QComboBox>
#include <QDate>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace vek;
using vek::test::child;

// Walks every page and state of the window and saves a PNG of each into the
// build's screenshots folder, so that the screens can be looked at.
class ScreenshotsTest : public QObject
{
    Q_OBJECT

private:
    QStringList saved_;

    void save(QWidget* w, const QString& name)
    {
        const QStringList tooLong = test::textsThatDoNotFit(w);
        QVERIFY2(tooLong.isEmpty(), qPrintable(name + ":\n" + tooLong.join('\n')));
        const QString path = test::screenshotPath(name);
        QVERIFY2(w->grab().save(path), qPrintable(path));
        saved_ << name;
    }

    // The window with a message box drawn over its centre.
    void saveWithBox(QWidget* w, QWidget* box, const QString& name)
    {
        QVERIFY(test::textsThatDoNotFit(w).isEmpty());
        QPixmap shot = w->grab();
        const QPixmap overlay = box->grab();
        QPainter p(&shot);
        p.drawPixmap((shot.width() - overlay.width()) / 2, (shot.height() - overlay.height()) / 2, overlay);
        p.end();
        const QString path = test::screenshotPath(name);
        QVERIFY(shot.save(path));
        saved_ << name;
    }

private slots:
    void walkEveryPageAndState()
    {
        test::UiSandbox sandbox;
        test::Zebd zebd;
        test::pointClientAt(sandbox.base(), zebd.port(), zebd.ftpPort());
        const auto file = sandbox.base() / "arquivos" / "movimento-2026-11.xml";
        std::filesystem::create_directories(file.parent_path());
        // Content that does not compress, so that the transmission takes many blocks.
        std::string content(400000, '\0');
        std::uint32_t seed = 12345;
        for (char& c : content) {
            seed = seed * 1664525u + 1013904223u;
            c = static_cast<char>(seed >> 24);
        }
        test::writeFile(file, content);

        ui::TfrmPrincipal w({});
        w.show();
        w.centralizar();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        save(&w, "01-acesso.png");

        // A warning, shown by the real message box.
        {
            ui::QtUiServices real;
            platform::ScopedUi scoped(real);
            QTest::keyClicks(child<QLineEdit>(&w, "txtRegZEB"), "12345");
            QTest::keyClicks(child<QLineEdit>(&w, "txtSenha"), "demo");
            bool shown = false;
            test::onNextModal([](QWidget* m) { return qobject_cast<QMessageBox*>(m) != nullptr; },
                              [&](QWidget* m) {
                                  saveWithBox(&w, m, "02-acesso-aviso.png");
                                  shown = true;
                                  qobject_cast<QMessageBox*>(m)->button(QMessageBox::Ok)->click();
                              });
            QTest::mouseClick(w.botao(ui::Botao::Proximo), Qt::LeftButton);
            QVERIFY(shown);
        }

        QTest::keyClicks(child<QLineEdit>(&w, "txtRegZEB"), "6");
        QTest::mouseClick(w.botao(ui::Botao::Proximo), Qt::LeftButton);
        QCOMPARE(w.paginaAtual(), ui::pgEnviar);
        auto* types = child<QComboBox>(&w, "cbxTpoArqEnviar");
        types->setCurrentIndex(types->findText("XML", Qt::MatchStartsWith));
        child<QLineEdit>(&w, "txtArqEnviado")->setText(QString::fromStdString(file.string()));
        save(&w, "03-enviar-escolhendo.png");

        // The file dialog the send page opens, Qt's own, in Portuguese.
        {
            ui::FileDialog::instance().clearTestAnswers();
            bool shown = false;
            QString lookIn;
            QString open;
            test::onNextModal([](QWidget* m) { return qobject_cast<QFileDialog*>(m) != nullptr; },
                              [&](QWidget* m) {
                                  lookIn = child<QLabel>(m, "lookInLabel")->text();
                                  open =
                                      child<QDialogButtonBox>(m, "buttonBox")->button(QDialogButtonBox::Open)->text();
                                  QTest::qWait(100);
                                  save(m, "03a-enviar-dialogo-abrir.png");
                                  shown = true;
                                  qobject_cast<QDialog*>(m)->reject();
                              });
            w.paginaEnviar()->procurarArquivo();
            ui::FileDialog::instance().setTestAnswers({});
            QVERIFY(shown);
            QCOMPARE(lookIn, QString("Procurar em:"));
            QCOMPARE(open, QString("&Abrir"));
        }

        bool sendingSaved = false;
        auto original = w.canal().AoEnviarArquivo;
        w.canal().AoEnviarArquivo = [&](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
            original(c, s);
            if (!sendingSaved && s.StatusTransmissao == channel::tseExecutando && s.PercentTransmissao >= 40 &&
                s.PercentTransmissao <= 80) {
                save(&w, "04-enviar-enviando.png");
                sendingSaved = true;
            }
        };
        QTest::mouseClick(w.botao(ui::Botao::Concluir), Qt::LeftButton);
        QVERIFY(sendingSaved);
        QVERIFY2(sandbox.ui().messages().empty(), qPrintable(sandbox.messageTexts().join('\n')));
        save(&w, "05-enviar-enviado.png");

        bool previewSaved = false;
        test::onNextModal([](QWidget* m) { return qobject_cast<QPrintPreviewDialog*>(m) != nullptr; },
                          [&](QWidget* m) {
                              QTest::qWait(200);
                              save(m, "06-recibo-previa.png");
                              const QString pdf = test::screenshotPath("recibo.pdf");
                              QVERIFY(w.findChild<ui::TqrpRecibo*>()->salvarPdf(pdf));
                              QProcess::execute(
                                  "pdftoppm",
                                  {"-png", "-r", "60", "-singlefile", pdf, test::screenshotPath("07-recibo-pdf")});
                              previewSaved = true;
                              m->close();
                          });
        QTest::mouseClick(child<QPushButton>(&w, "btnImprimirRecibo"), Qt::LeftButton);
        QVERIFY(previewSaved);

        // The earlier uploads' receipts, this one among them.
        bool earlierSaved = false;
        test::onNextModal([](QWidget* m) { return qobject_cast<ui::PreviousReceiptsDialog*>(m) != nullptr; },
                          [&](QWidget* m) {
                              QTest::qWait(100);
                              save(m, "06a-recibos-anteriores.png");
                              earlierSaved = true;
                              m->close();
                          });
        QTest::mouseClick(child<QPushButton>(&w, "btnRecibosAnteriores"), Qt::LeftButton);
        QVERIFY(earlierSaved);

        // A refused upload: the reason in red, and the retry offered.
        QTest::mouseClick(w.botao(ui::Botao::Inicio), Qt::LeftButton);
        QTest::keyClicks(child<QLineEdit>(&w, "txtSenha"), "x");
        QTest::mouseClick(w.botao(ui::Botao::Proximo), Qt::LeftButton);
        types->setCurrentIndex(types->findText("XML", Qt::MatchStartsWith));
        child<QLineEdit>(&w, "txtArqEnviado")->setText(QString::fromStdString(file.string()));
        w.canal().AoEnviarArquivo = original;
        QTest::mouseClick(w.botao(ui::Botao::Concluir), Qt::LeftButton);
        save(&w, "08-enviar-falhou.png");

        // Receiving: the filters, the list query under way, the list, a
        // download under way, the saved file ticked, a failed download.
        QTest::mouseClick(w.botao(ui::Botao::Inicio), Qt::LeftButton);
        child<QLineEdit>(&w, "txtSenha")->setText("demo");
        QTest::mouseClick(child<QRadioButton>(&w, "rdbReceber"), Qt::LeftButton);
        QTest::mouseClick(w.botao(ui::Botao::Proximo), Qt::LeftButton);
        QCOMPARE(w.paginaAtual(), ui::pgReceber);
        auto* receiveTypes = child<QComboBox>(&w, "cbxTpoArqReceber");
        receiveTypes->setCurrentIndex(receiveTypes->findText("RET", Qt::MatchStartsWith));
        QTest::keyClicks(child<QLineEdit>(&w, "txtMesAnoDisp"), QDate::currentDate().toString("MMyyyy"));
        save(&w, "09-receber.png");
        child<QLineEdit>(&w, "txtMesAnoDisp")->clear();
        bool listingSaved = false;
        auto listProgress = w.canal().AoConsultarListaDownload;
        w.canal().AoConsultarListaDownload =
            [&](channel::TCanalZEBCliente& c, channel::TTipoStatusEtapa st, std::int32_t p, const std::string& t) {
                listProgress(c, st, p, t);
                if (!listingSaved && p >= 30) {
                    save(&w, "10-receber-consultando.png");
                    listingSaved = true;
                }
            };
        QTest::mouseClick(w.botao(ui::Botao::Proximo), Qt::LeftButton);
        QVERIFY(listingSaved);
        QCOMPARE(w.paginaAtual(), ui::pgCopiarArq);
        save(&w, "11-copiar-arquivo.png");

        w.canal().timeouts.afterDownload = w.canal().timeouts.afterDownloadExtra = std::chrono::milliseconds(0);
        bool downloadingSaved = false;
        auto downloadProgress = w.canal().AoReceberArquivo;
        w.canal().AoReceberArquivo = [&](channel::TCanalZEBCliente& c, const channel::TStatusDownload& st) {
            downloadProgress(c, st);
            // A small file arrives in one piece: the last text before it.
            if (!downloadingSaved && st.TextoInfo == "Aguardando dados do arquivo...") {
                save(&w, "12-copiar-baixando.png");
                downloadingSaved = true;
            }
        };
        const auto saved = sandbox.base() / "salvos" / "retorno.xml";
        std::filesystem::create_directories(saved.parent_path());
        ui::FileDialog::instance().setTestAnswers({QString::fromStdString(saved.string())});
        QTest::mouseClick(w.botao(ui::Botao::Concluir), Qt::LeftButton);
        QVERIFY(downloadingSaved);
        QVERIFY(std::filesystem::exists(saved));
        save(&w, "13-copiar-baixado.png");

        // An FTP port where nobody listens.
        {
            platform::TcpListener closed;
            closed.listen("127.0.0.1", 0);
            const auto port = closed.localPort();
            closed = platform::TcpListener();
            test::pointClientAt(sandbox.base(), zebd.port(), port);
        }
        QTest::mouseClick(w.botao(ui::Botao::Concluir), Qt::LeftButton);
        save(&w, "14-copiar-falhou.png");
        test::pointClientAt(sandbox.base(), zebd.port(), zebd.ftpPort());

        // The history: the period, the query under way, the grid.
        QTest::mouseClick(w.botao(ui::Botao::Inicio), Qt::LeftButton);
        child<QLineEdit>(&w, "txtSenha")->setText("demo");
        QTest::mouseClick(child<QRadioButton>(&w, "rdbHistorico"), Qt::LeftButton);
        QTest::mouseClick(w.botao(ui::Botao::Proximo), Qt::LeftButton);
        QCOMPARE(w.paginaAtual(), ui::pgPeriodoConsultaHist);
        QTest::keyClicks(child<QLineEdit>(&w, "txtInicioConsultaHist"),
                         QDate::currentDate().addDays(-60).toString("ddMMyyyy"));
        QTest::keyClicks(child<QLineEdit>(&w, "txtFimConsultaHist"), QDate::currentDate().toString("ddMMyyyy"));
        save(&w, "15-periodo-historico.png");
        bool queryingSaved = false;
        auto historyProgress = w.canal().AoConsultaHistoricoTx;
        w.canal().AoConsultaHistoricoTx =
            [&](channel::TCanalZEBCliente& c, channel::TTipoStatusEtapa st, std::int32_t p, const std::string& t) {
                historyProgress(c, st, p, t);
                if (!queryingSaved && p >= 30) {
                    save(&w, "16-periodo-historico-consultando.png");
                    queryingSaved = true;
                }
            };
        QTest::mouseClick(w.botao(ui::Botao::Proximo), Qt::LeftButton);
        QVERIFY(queryingSaved);
        QCOMPARE(w.paginaAtual(), ui::pgHistoricoTransmissoes);
        // Every column in sight, every text whole.
        const QStringList gridProblems = test::gridProblems(child<QTableView>(&w, "HistoricoGrid"));
        QVERIFY2(gridProblems.isEmpty(), qPrintable(gridProblems.join('\n')));
        save(&w, "17-historico.png");

        // The password change, and the server's answer in the channel's box.
        QTest::mouseClick(w.botao(ui::Botao::Inicio), Qt::LeftButton);
        child<QLineEdit>(&w, "txtSenha")->setText("demo");
        QTest::mouseClick(child<QRadioButton>(&w, "rdbAlterarSenha"), Qt::LeftButton);
        QTest::mouseClick(w.botao(ui::Botao::Proximo), Qt::LeftButton);
        QCOMPARE(w.paginaAtual(), ui::pgAlteraSenha);
        QTest::keyClicks(child<QLineEdit>(&w, "txtNovaSenha"), "nova-senha");
        save(&w, "18-alterar-senha.png");
        {
            ui::QtUiServices real;
            platform::ScopedUi scoped(real);
            bool shown = false;
            test::onNextModal([](QWidget* m) { return qobject_cast<QMessageBox*>(m) != nullptr; },
                              [&](QWidget* m) {
                                  saveWithBox(&w, m, "19-alterar-senha-aceita.png");
                                  shown = true;
                                  qobject_cast<QMessageBox*>(m)->button(QMessageBox::Ok)->click();
                              });
            QTest::mouseClick(w.botao(ui::Botao::Concluir), Qt::LeftButton);
            QVERIFY(shown);
        }

        // The help: its home page and its three sections, the drawings caught
        // with the packet on its way.
        bool helpSaved = false;
        test::onNextModal([](QWidget* m) { return qobject_cast<ui::TfrmAjuda*>(m) != nullptr; },
                          [&](QWidget* m) {
                              auto& help = *qobject_cast<ui::TfrmAjuda*>(m);
                              save(&help, "20-ajuda.png");
                              const std::pair<const char*, const char*> sections[] = {
                                  {"envio", "21-ajuda-envio.png"},
                                  {"recebimento", "22-ajuda-recebimento.png"},
                                  {"perguntas", "23-ajuda-perguntas.png"},
                              };
                              for (const auto& [page, name] : sections) {
                                  help.mostrarPagina(page);
                                  help.diagrama()->setProgresso(0.7);
                                  save(&help, name);
                              }
                              helpSaved = true;
                              help.executarComando("sair");
                          });
        QTest::mouseClick(child<QPushButton>(&w, "ajudaButton"), Qt::LeftButton);
        QVERIFY(helpSaved);

        // Closing asks first.
        {
            ui::QtUiServices real;
            platform::ScopedUi scoped(real);
            test::onNextModal([](QWidget* m) { return qobject_cast<QMessageBox*>(m) != nullptr; },
                              [&](QWidget* m) {
                                  saveWithBox(&w, m, "24-sair.png");
                                  qobject_cast<QMessageBox*>(m)->button(QMessageBox::No)->click();
                              });
            w.close();
        }
        QVERIFY(w.isVisible());
        QCOMPARE(saved_.size(), 25);
        QVERIFY(QFile::exists(test::screenshotPath("07-recibo-pdf.png")));
    }
};

VEK_UI_TEST(ScreenshotsTest);

#include "ScreenshotsTest.moc"
