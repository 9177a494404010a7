#include "app/AppState.h"
#include "platform/BaseDir.h"
#include "tests/fixtures/InstalledClient.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/QtUiServices.h"
#include "ui/TfrmPrincipal.h"
#include "ui/WizardPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QThread>

using namespace vek;
using vek::test::child;

namespace {

// Counts the events delivered to it.
class EventCounter : public QObject
{
public:
    int count = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) {
            ++count;
            return true;
        }
        return QObject::event(e);
    }
};

}  // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::UiSandbox> sandbox_;

private slots:
    void init() { sandbox_ = std::make_unique<test::UiSandbox>(); }
    void cleanup() { sandbox_.reset(); }

    // An installed client with no server named anywhere says so once the
    // window shows; one with a server named in either file says nothing.
    void anInstalledClientWithNoServerSaysSoAtOnce()
    {
        struct Case
        {
            const char* name;
            std::string templateLines;
            std::string userFile;
            bool warned;
        };
        const std::vector<Case> cases{
            {"nothing configured", "", "", true},
            {"only a port", "PortaServico=8080\r\n", "[Defaults]\r\nPortaFTP=2121\r\n", true},
            {"the template's server", "ServidorInternet=zeb.example.org\r\n", "", false},
            {"the user's own server", "", "[Defaults]\r\nServidorInternet=meu.servidor\r\n", false},
        };
        for (const auto& c : cases) {
            test::InstalledClient machine;
            if (!c.templateLines.empty()) {
                machine.writeTemplate(c.templateLines);
            }
            if (!c.userFile.empty()) {
                test::writeFile(machine.userConfig("op1"), c.userFile);
            }
            const auto run = machine.runAs("op1");
            sandbox_->ui().clear();
            ui::TfrmPrincipal w({});
            w.show();
            // The warning is posted to run once the event loop takes over.
            QCoreApplication::processEvents();
            const auto messages = sandbox_->ui().messages();
            QVERIFY2(messages.size() == (c.warned ? 1U : 0U), c.name);
            if (c.warned) {
                const QString text = QString::fromStdString(messages.front().text);
                QVERIFY2(text.startsWith("O VEK não está configurado"), qPrintable(text));
                QVERIFY(text.contains(QString::fromStdString(machine.userConfig("op1").string())));
                QVERIFY(text.contains(QString::fromStdString(machine.templatePath().string())));
                QVERIFY(messages.front().kind == platform::MessageKind::Warning);
            }
        }
    }

    void fixedWindowWithTheSameFrameOnEveryPage()
    {
        ui::TfrmPrincipal w({});
        QCOMPARE(w.windowTitle(), QString("VEK"));
        QCOMPARE(w.size(), QSize(691, 493));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(w.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!w.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

        const QString version = "Versão " + QString::fromStdString(w.canal().VersaoTransmissor());
        QCOMPARE(version, QString("Versão VEK-4.0.8"));
        const char* titles[] = {"Acesso ao VEK",
                                "Enviar Arquivo",
                                "Receber Arquivo",
                                "Receber Arquivo",
                                "Consulta de Histórico de Transmissões",
                                "Consulta de Histórico de Transmissões",
                                "Alteração de Senha"};
        for (int i = 0; i < ui::NumeroPaginas; ++i) {
            ui::WizardPage* page = w.pagina(static_cast<ui::Pagina>(i));
            const int n = i + 1;
            QCOMPARE(page->titulo(), QString(titles[i]));
            QCOMPARE(child<QLabel>(page, qPrintable(QString("lblVersao%1").arg(n)))->text(), version);
            auto* title = child<QLabel>(page, qPrintable(QString("imgTitulo%1").arg(n)));
            QCOMPARE(title->geometry(), QRect(169, 0, 522, 72));
            QVERIFY(!title->pixmap().isNull());
            QVERIFY(!child<QLabel>(page, qPrintable(QString("imgLinha%1").arg(n)))->pixmap().isNull());
            QVERIFY(!child<QLabel>(page, qPrintable(QString("imgMarcaDagua%1").arg(n)))->pixmap().isNull());
        }
        auto* help = child<QPushButton>(&w, "ajudaButton");
        QCOMPARE(help->text(), QString("A&juda"));
        QCOMPARE(help->mapTo(&w, QPoint(0, 0)), QPoint(88, 461));
    }

    void windowFontsMapToInstalledFamilies_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Verdana") << "Verdana"
                                 << "DejaVu Sans";
        QTest::newRow("Tahoma") << "Tahoma"
                                << "DejaVu Sans";
        QTest::newRow("Arial") << "Arial"
                               << "Liberation Sans";
        QTest::newRow("Times New Roman") << "Times New Roman"
                                         << "Liberation Serif";
        QTest::newRow("Courier New") << "Courier New"
                                     << "Liberation Mono";
    }

    void windowFontsMapToInstalledFamilies()
    {
        QFETCH(QString, family);
        QFETCH(QString, shown);
        QCOMPARE(QFontInfo(QFont(family)).family(), shown);
    }

    void navigationTable_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<QString>("finish");  // caption; empty when hidden
        QTest::addColumn<int>("finishWidth");
        QTest::addColumn<int>("backGoesTo");
        QTest::newRow("pgEnviar") << int(ui::pgEnviar) << "inicio,anterior,concluir,sair"
                                  << "&Enviar" << 75 << int(ui::pgAcesso);
        QTest::newRow("pgReceber") << int(ui::pgReceber) << "inicio,anterior,proximo,sair"
                                   << "" << 0 << int(ui::pgAcesso);
        QTest::newRow("pgCopiarArq") << int(ui::pgCopiarArq) << "inicio,anterior,concluir,sair"
                                     << "&Baixar" << 75 << int(ui::pgReceber);
        QTest::newRow("pgPeriodoConsultaHist") << int(ui::pgPeriodoConsultaHist) << "inicio,anterior,proximo,sair"
                                               << "" << 0 << int(ui::pgAcesso);
        QTest::newRow("pgHistoricoTransmissoes") << int(ui::pgHistoricoTransmissoes) << "inicio,anterior,sair"
                                                 << "" << 0 << int(ui::pgPeriodoConsultaHist);
        // "&Alterar" keeps the width the finish button had (120 here).
        QTest::newRow("pgAlteraSenha") << int(ui::pgAlteraSenha) << "inicio,anterior,concluir,sair"
                                       << "&Alterar" << 120 << int(ui::pgAcesso);
    }

    void navigationTable()
    {
        QFETCH(int, page);
        QFETCH(QString, buttons);
        QFETCH(QString, finish);
        QFETCH(int, finishWidth);
        QFETCH(int, backGoesTo);
        ui::TfrmPrincipal w({});
        w.show();
        QCOMPARE(test::visibleButtons(w), QString("inicio,anterior,proximo,sair"));
        w.definirConcluir("x", 120);

        w.irPara(static_cast<ui::Pagina>(page));
        QCOMPARE(test::visibleButtons(w), buttons);
        if (!finish.isEmpty()) {
            QCOMPARE(w.botao(ui::Botao::Concluir)->text(), finish);
            QCOMPARE(w.botao(ui::Botao::Concluir)->width(), finishWidth);
        }
        // Visible buttons do not overlap and stay inside the bar.
        int right = 0;
        for (const auto b :
             {ui::Botao::Inicio, ui::Botao::Anterior, ui::Botao::Proximo, ui::Botao::Concluir, ui::Botao::Sair}) {
            QPushButton* button = w.botao(b);
            if (button->isHidden()) {
                continue;
            }
            QVERIFY(button->x() > right);
            right = button->x() + button->width();
            QVERIFY(button->x() > 163);  // clear of "A&juda"
        }
        QVERIFY(right <= 691);

        QTest::mouseClick(w.botao(ui::Botao::Anterior), Qt::LeftButton);
        QCOMPARE(int(w.paginaAtual()), backGoesTo);
        QVERIFY(sandbox_->ui().messages().empty());
    }

    void tabOrderAndAcceleratorsWork()
    {
        ui::TfrmPrincipal w({});
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* registro = child<QWidget>(&w, "txtRegZEB");
        QTRY_COMPARE(QApplication::focusWidget(), registro);
        const char* order[] = {"txtSenha", "rdbEnviar", "ajudaButton", "proximoButton", "sairButton", "txtRegZEB"};
        for (const char* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }

        // Alt+P is Next: with empty fields it warns. A mnemonic clicks after a short animation.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(sandbox_->messageTexts(), QStringList{"É necessário preencher o Registro da ZEB e a Senha."});
        QTest::keyClicks(registro, "123456");
        QTest::keyClicks(child<QWidget>(&w, "txtSenha"), "demo");
        QTest::mouseClick(child<QWidget>(&w, "rdbAlterarSenha"), Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(w.paginaAtual(), ui::pgAlteraSenha);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_I, Qt::AltModifier);  // "&Início"
        QTRY_COMPARE(w.paginaAtual(), ui::pgAcesso);
        w.irPara(ui::pgHistoricoTransmissoes);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::AltModifier);  // "< &Anterior"
        QTRY_COMPARE(w.paginaAtual(), ui::pgPeriodoConsultaHist);
        sandbox_->ui().queueAnswer(false);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);  // "&Sair"
        QTRY_COMPARE(sandbox_->messageTexts().last(), QString("Deseja sair do VEK?"));
        QVERIFY(w.isVisible());
    }

    void inicioReturnsToTheAccessPageFromEveryPage()
    {
        ui::TfrmPrincipal w({});
        for (int p = ui::pgEnviar; p < ui::NumeroPaginas; ++p) {
            w.irPara(static_cast<ui::Pagina>(p));
            QTest::mouseClick(w.botao(ui::Botao::Inicio), Qt::LeftButton);
            QCOMPARE(w.paginaAtual(), ui::pgAcesso);
        }
        QVERIFY(sandbox_->ui().messages().empty());
    }

    void closing_data()
    {
        QTest::addColumn<bool>("viaButton");
        QTest::addColumn<bool>("answer");
        QTest::newRow("close box, No") << false << false;
        QTest::newRow("close box, Yes") << false << true;
        QTest::newRow("Sair, No") << true << false;
        QTest::newRow("Sair, Yes") << true << true;
    }

    void closing()
    {
        QFETCH(bool, viaButton);
        QFETCH(bool, answer);
        const auto temp = sandbox_->base() / "temp";
        std::filesystem::create_directories(temp);
        test::writeFile(temp / "lista-anterior.zeb", "x");  // left behind by another run
        test::writeFile(temp / "HIST.ZEB", "x");
        test::writeFile(temp / "baixado.xml", "x");
        test::writeFile(temp / "outro.par", "x");
        test::writeFile(sandbox_->base() / "fora.zeb", "x");
        test::writeFile(sandbox_->tmp() / "envio.par", "x");
        test::writeFile(sandbox_->tmp() / "alheio.zeb", "x");
        test::writeFile(sandbox_->tmp() / "notas.txt", "x");

        ui::TfrmPrincipal w({});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.irPara(ui::pgEnviar);
        sandbox_->ui().queueAnswer(answer);
        if (viaButton) {
            QTest::mouseClick(w.botao(ui::Botao::Sair), Qt::LeftButton);
        } else {
            w.close();
        }

        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{1});
        QCOMPARE(messages[0].text, std::string("Deseja sair do VEK?"));
        QCOMPARE(messages[0].kind, platform::MessageKind::Question);
        QCOMPARE(w.isVisible(), !answer);
        QCOMPARE(std::filesystem::exists(temp / "lista-anterior.zeb"), !answer);
        QCOMPARE(std::filesystem::exists(temp / "HIST.ZEB"), !answer);
        QCOMPARE(std::filesystem::exists(sandbox_->tmp() / "envio.par"), !answer);
        for (const auto& kept : {temp / "baixado.xml",
                                 temp / "outro.par",
                                 sandbox_->base() / "fora.zeb",
                                 sandbox_->tmp() / "alheio.zeb",
                                 sandbox_->tmp() / "notas.txt"}) {
            QVERIFY2(std::filesystem::exists(kept), kept.c_str());
        }
        if (!answer) {
            QCOMPARE(w.paginaAtual(), ui::pgEnviar);
        }
    }

    void closingIsRefusedWhileAnUploadRuns()
    {
        ui::TfrmPrincipal w({});
        w.show();
        w.setOperacaoEmAndamento(true);
        w.close();
        QVERIFY(w.isVisible());
        QVERIFY(sandbox_->ui().messages().empty());
        w.setOperacaoEmAndamento(false);
    }

    void modeIsDecidedAtStart_data()
    {
        QTest::addColumn<QString>("argument");  // "@" stands for an existing file
        QTest::addColumn<bool>("parameterMode");
        QTest::addColumn<int>("exitAtOnce");  // -1: the window runs
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("message");
        QTest::newRow("no argument") << QString() << false << -1 << int(ui::pgAcesso) << QString();
        QTest::newRow("trace name") << "LOGTESTE.TXT" << false << -1 << int(ui::pgAcesso) << QString();
        QTest::newRow("missing parameter file")
            << "/nao/existe/envio.par" << true << 1 << int(ui::pgAcesso) << "Arquivo de parâmetros não encontrado.";
        QTest::newRow("unreadable parameter file")
            << "@" << true << 1 << int(ui::pgAcesso) << "Erro ao ler o arquivo de parâmetro. ";
    }

    void modeIsDecidedAtStart()
    {
        QFETCH(QString, argument);
        QFETCH(bool, parameterMode);
        QFETCH(int, exitAtOnce);
        QFETCH(int, page);
        QFETCH(QString, message);
        std::vector<std::string> args;
        if (argument == "@") {
            args.push_back((sandbox_->base() / "envio.par").string());
            test::writeFile(args.back(), "cifrado");
        } else if (!argument.isEmpty()) {
            args.push_back(argument.toStdString());
        }
        ui::TfrmPrincipal w(args);
        QCOMPARE(w.estado().modoParametros, parameterMode);
        QCOMPARE(w.codigoSaidaImediato().value_or(-1), exitAtOnce);
        QCOMPARE(w.canal().PrimeiroArgumento, args.empty() ? std::string() : args.front());
        const auto messages = sandbox_->ui().messages();
        if (exitAtOnce == 1) {
            QCOMPARE(messages.size(), std::size_t{1});
            QVERIFY2(QString::fromStdString(messages[0].text).startsWith(message), messages[0].text.c_str());
            QCOMPARE(messages[0].kind, platform::MessageKind::Error);
        } else {
            QVERIFY(messages.empty());
            QCOMPARE(int(w.paginaAtual()), page);
        }
    }

    void programPathIsRecordedMachineWide()
    {
        {
            ui::TfrmPrincipal w({});
        }
        QSettings settings(QSettings::NativeFormat, QSettings::SystemScope, "ZEB", "VEK");
        QCOMPARE(settings.value("Path").toString(), QString::fromStdString(platform::executablePath().string()));

        // Where the setting cannot be written the program starts all the same.
        const auto blocked = sandbox_->base() / "somente-leitura";
        test::writeFile(blocked, "um arquivo no lugar da pasta");
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, QString::fromStdString(blocked));
        ui::TfrmPrincipal w({});
        QCOMPARE(w.paginaAtual(), ui::pgAcesso);
        QVERIFY(sandbox_->ui().messages().empty());
    }

    void messageBoxesHaveTheCaptionAndTheIcon_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("icon");
        QTest::addColumn<bool>("clickNo");
        QTest::addColumn<bool>("result");
        QTest::newRow("information") << int(platform::MessageKind::Information) << int(QMessageBox::Information)
                                     << false << true;
        QTest::newRow("warning") << int(platform::MessageKind::Warning) << int(QMessageBox::Warning) << false << true;
        QTest::newRow("error") << int(platform::MessageKind::Error) << int(QMessageBox::Critical) << false << true;
        QTest::newRow("question, yes") << int(platform::MessageKind::Question) << int(QMessageBox::Question) << false
                                       << true;
        QTest::newRow("question, no") << int(platform::MessageKind::Question) << int(QMessageBox::Question) << true
                                      << false;
    }

    void messageBoxesHaveTheCaptionAndTheIcon()
    {
        QFETCH(int, kind);
        QFETCH(int, icon);
        QFETCH(bool, clickNo);
        QFETCH(bool, result);
        ui::QtUiServices services;
        QString title;
        QString text;
        int shownIcon = -1;
        QStringList buttons;
        test::onNextModal([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                          [&](QWidget* w) {
                              auto* box = qobject_cast<QMessageBox*>(w);
                              title = box->windowTitle();
                              text = box->text();
                              shownIcon = box->icon();
                              for (QAbstractButton* b : box->buttons()) {
                                  buttons << b->text();
                              }
                              box->button(clickNo
                                              ? QMessageBox::No
                                              : (box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok))
                                  ->click();
                          });
        const bool answer = services.showMessage("linha um \n\rlinha dois", static_cast<platform::MessageKind>(kind));
        QCOMPARE(answer, result);
        QCOMPARE(title, QString("VEK"));
        QCOMPARE(shownIcon, icon);
        QCOMPARE(text, QString("linha um \nlinha dois"));
        buttons.sort();
        const QStringList expected =
            kind == int(platform::MessageKind::Question) ? QStringList{"&Não", "&Sim"} : QStringList{"OK"};
        QCOMPARE(buttons, expected);
    }

    void pendingEventsRunAtMostOncePerInterval()
    {
        // An interval that the thousand calls below stay well within, even
        // on a busy machine.
        ui::QtUiServices services(std::chrono::milliseconds(500));
        EventCounter counter;
        QThread::msleep(550);
        QCoreApplication::postEvent(&counter, new QEvent(QEvent::User));
        services.processEvents();
        QCOMPARE(counter.count, 1);
        // Right after a run, further calls return at once.
        for (int i = 0; i < 1000; ++i) {
            QCoreApplication::postEvent(&counter, new QEvent(QEvent::User));
            services.processEvents();
        }
        QCOMPARE(counter.count, 1);
        QThread::msleep(550);
        services.processEvents();
        QCOMPARE(counter.count, 1001);
    }

    void busyPointerIsBalanced()
    {
        {
            ui::QtUiServices services;
            services.setBusy(true);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            services.setBusy(true);
            services.setBusy(false);
            QVERIFY(QApplication::overrideCursor() != nullptr);
            services.setBusy(false);
            QVERIFY(QApplication::overrideCursor() == nullptr);
            services.setBusy(false);  // one too many does nothing
            services.setBusy(true);
        }
        // Services that go away restore the pointer they changed.
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }
};

VEK_UI_TEST(WindowTest);

#include "WindowTest.moc"
