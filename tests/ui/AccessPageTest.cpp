#include "ui/AccessPage.h"

#include "app/AccessChecks.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/TfrmPrincipal.h"
#include "wire/MessageCodes.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace vek;
using vek::test::child;

class AccessPageTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    void open(const std::vector<test::FakeScript>& scripts, std::unique_ptr<test::FakeZebServer>& server)
    {
        server = std::make_unique<test::FakeZebServer>(scripts);
        test::pointClientAt(sandbox_->base(), server->port());
        openWindow();
    }

    void typeCredentials(const QString& registro, const QString& senha)
    {
        QTest::keyClicks(child<QLineEdit>(window_.get(), "txtRegZEB"), registro);
        QTest::keyClicks(child<QLineEdit>(window_.get(), "txtSenha"), senha);
    }

    void clickNext() { QTest::mouseClick(child<QPushButton>(window_.get(), "proximoButton"), Qt::LeftButton); }

private slots:
    void init() { setUp(WithZebd::No); }
    void cleanup() { tearDown(); }

    void registryFieldTakesDigitsOnly_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("letters") << "abcXYZ"
                                 << "";
        QTest::newRow("blanks and punctuation") << " 1-2.3/4,5 "
                                                << "12345";
        QTest::newRow("seventh digit refused") << "1234567"
                                               << "123456";
        QTest::newRow("accented and other scripts") << "é1ç٣2"
                                                    << "12";
    }

    void registryFieldTakesDigitsOnly()
    {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        std::unique_ptr<test::FakeZebServer> server;
        open({}, server);
        auto* field = child<QLineEdit>(window_.get(), "txtRegZEB");
        // Key events carrying each character, as a keyboard of any layout sends them.
        for (const QChar c : typed) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(field, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(field, &release);
        }
        QCOMPARE(field->text(), expected);
    }

    void backspaceStillWorksAndFieldHasTheFocus()
    {
        std::unique_ptr<test::FakeZebServer> server;
        open({}, server);
        window_->activateWindow();
        auto* field = child<QLineEdit>(window_.get(), "txtRegZEB");
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(field));
        QTest::keyClicks(field, "1234");
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClick(field, Qt::Key_Backspace);
        QCOMPARE(field->text(), QString("12"));
        // Keys typed into the window reach the focused field through its filter.
        QTest::keyClicks(nullptr, "9x");
        QCOMPARE(field->text(), QString("129"));
    }

    void nextWarnsAboutMissingOrShortInput_data()
    {
        QTest::addColumn<QString>("registro");
        QTest::addColumn<QString>("senha");
        QTest::addColumn<QString>("warning");
        QTest::newRow("five digits") << "12345"
                                     << "demo" << app::MsgRegistroSeisCaracteres;
        QTest::newRow("empty password") << "123456"
                                        << "" << app::MsgPreencherRegistroESenha;
        QTest::newRow("blank password") << "123456"
                                        << "   " << app::MsgPreencherRegistroESenha;
        QTest::newRow("nothing") << ""
                                 << "" << app::MsgPreencherRegistroESenha;
    }

    void nextWarnsAboutMissingOrShortInput()
    {
        QFETCH(QString, registro);
        QFETCH(QString, senha);
        QFETCH(QString, warning);
        std::unique_ptr<test::FakeZebServer> server;
        open({}, server);
        typeCredentials(registro, senha);
        clickNext();

        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(messages[0].text), warning);
        QCOMPARE(messages[0].kind, platform::MessageKind::Warning);
        QCOMPARE(window_->paginaAtual(), ui::pgAcesso);
        QVERIFY(!child<QLabel>(window_.get(), "pnlAcesso")->isVisible());
        QCOMPARE(server->connections(), 0);
    }

    // Each choice: its page, and exactly one type-list query for send and
    // for receive, none for the others.
    void nextRunsTheChosenFunction_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<int>("queryCode");  // 0: none
        QTest::addColumn<int>("page");
        QTest::newRow("send") << "rdbEnviar" << int(wire::CMD_TIPOS_ENVIO) << int(ui::pgEnviar);
        QTest::newRow("receive") << "rdbReceber" << int(wire::CMD_TIPOS_DOWNLOAD) << int(ui::pgReceber);
        QTest::newRow("history") << "rdbHistorico" << 0 << int(ui::pgPeriodoConsultaHist);
        QTest::newRow("password") << "rdbAlterarSenha" << 0 << int(ui::pgAlteraSenha);
    }

    void nextRunsTheChosenFunction()
    {
        QFETCH(QString, choice);
        QFETCH(int, queryCode);
        QFETCH(int, page);
        std::vector<test::FakeScript> scripts;
        if (queryCode != 0) {
            const auto code = static_cast<std::uint8_t>(queryCode);
            scripts.push_back(
                {test::FakeStep::expect(code), test::FakeStep::reply(code, "XYZ#Arquivo de Teste|ABC#Outro tipo")});
        }
        std::unique_ptr<test::FakeZebServer> server;
        open(scripts, server);
        window_->canal().timeouts.downloadTypesPause = std::chrono::milliseconds(0);
        // The password is kept as typed, blanks included.
        typeCredentials("123456", " Demo ");
        QTest::mouseClick(child<QRadioButton>(window_.get(), qPrintable(choice)), Qt::LeftButton);
        clickNext();

        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        QCOMPARE(int(window_->paginaAtual()), page);
        QCOMPARE(window_->estado().registro, std::string("123456"));
        QCOMPARE(window_->estado().senha, std::string(" Demo "));
        QVERIFY(!child<QLabel>(window_.get(), "pnlAcesso")->isVisible());
        QVERIFY(child<QLabel>(window_.get(), "pnlAcesso")->text().isEmpty());
        QVERIFY(server->waitDone());
        if (queryCode == 0) {
            QCOMPARE(server->connections(), 0);
            return;
        }
        QCOMPARE(server->connections(), 1);
        QCOMPARE(server->receivedCodes(), std::vector<std::uint8_t>{static_cast<std::uint8_t>(queryCode)});
        const std::vector<std::string> items{"XYZ - Arquivo de Teste", "ABC - Outro tipo"};
        if (page == ui::pgEnviar) {
            auto* list = child<QComboBox>(window_.get(), "cbxTpoArqEnviar");
            QCOMPARE(list->count(), 2);
            QCOMPARE(list->itemText(0), QString("XYZ - Arquivo de Teste"));
            QCOMPARE(list->itemText(1), QString("ABC - Outro tipo"));
            QCOMPARE(list->currentIndex(), -1);
        } else {
            QCOMPARE(window_->tiposReceber(), items);
        }
    }

    void failedTypeQueryShowsTheErrorBoxAndStays()
    {
        std::unique_ptr<test::FakeZebServer> server;
        open({{test::FakeStep::expect(wire::CMD_TIPOS_ENVIO), test::FakeStep::close()}}, server);
        typeCredentials("123456", "demo");
        clickNext();

        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{1});
        QCOMPARE(messages[0].kind, platform::MessageKind::Error);
        QVERIFY(!messages[0].text.empty());
        QCOMPARE(window_->paginaAtual(), ui::pgAcesso);
        QVERIFY(!child<QLabel>(window_.get(), "pnlAcesso")->isVisible());
        QCOMPARE(child<QComboBox>(window_.get(), "cbxTpoArqEnviar")->count(), 0);
        QVERIFY(window_->assistenteHabilitado());
        QVERIFY(!window_->operacaoEmAndamento());
    }

    void startButtonKeepsTheFieldsAndTheChoice()
    {
        std::unique_ptr<test::FakeZebServer> server;
        open({}, server);
        typeCredentials("654321", "segredo");
        QTest::mouseClick(child<QRadioButton>(window_.get(), "rdbHistorico"), Qt::LeftButton);
        clickNext();
        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);

        QTest::mouseClick(child<QPushButton>(window_.get(), "inicioButton"), Qt::LeftButton);
        QCOMPARE(window_->paginaAtual(), ui::pgAcesso);
        QCOMPARE(child<QLineEdit>(window_.get(), "txtRegZEB")->text(), QString("654321"));
        QCOMPARE(child<QLineEdit>(window_.get(), "txtSenha")->text(), QString("segredo"));
        QVERIFY(child<QRadioButton>(window_.get(), "rdbHistorico")->isChecked());
        // And the values are taken again at the next Next.
        QTest::keyClick(child<QLineEdit>(window_.get(), "txtSenha"), Qt::Key_Backspace);
        QTest::mouseClick(child<QRadioButton>(window_.get(), "rdbAlterarSenha"), Qt::LeftButton);
        clickNext();
        QCOMPARE(window_->paginaAtual(), ui::pgAlteraSenha);
        QCOMPARE(window_->estado().senha, std::string("segred"));
    }

    void passwordFieldHidesTheTextAndHasItsHint()
    {
        std::unique_ptr<test::FakeZebServer> server;
        open({}, server);
        auto* senha = child<QLineEdit>(window_.get(), "txtSenha");
        QCOMPARE(senha->echoMode(), QLineEdit::Password);
        QCOMPARE(senha->toolTip(), QString("Não há diferença entre maiúsculas e minúsculas."));
        QCOMPARE(child<QLineEdit>(window_.get(), "txtRegZEB")->maxLength(), 6);
        QVERIFY(child<QRadioButton>(window_.get(), "rdbEnviar")->isChecked());
    }
};

VEK_UI_TEST(AccessPageTest);

#include "AccessPageTest.moc"
