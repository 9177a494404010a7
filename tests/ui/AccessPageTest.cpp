#include "ui/AccessPage.h"

#include "app/AccessChecks.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/TfrmPrincipal.h"
#include "wire/MessageCodes.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
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

    // Editing keys work in the registry field as in any line edit. The keys
    // carry the texts X11 gives them: U+007F for Delete, U+0008 for
    // Backspace, the control character of the letter for Ctrl+letter, nothing
    // for arrows, Home, End and Shift+Insert; with `letterText` a Ctrl+letter
    // carries its letter, as other platforms send it. Pasted text keeps its
    // digits, up to six.
    void registryFieldEditingKeys_data()
    {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("letterText");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("cursorAfter");
        QTest::addColumn<QString>("clipboardAfter");
        // clang-format off
        QTest::newRow("Delete")                << "123456" << 0 << ""           << "Del"                             << false << "23456"  << 0 << "";
        QTest::newRow("Backspace")             << "123456" << 6 << ""           << "Backspace"                       << false << "12345"  << 5 << "";
        QTest::newRow("arrows")                << "1234"   << 4 << ""           << "Left, Left, Del, Right"          << false << "124"    << 3 << "";
        QTest::newRow("Home and End")          << "1234"   << 2 << ""           << "Home, Del, End, Backspace"       << false << "23"     << 2 << "";
        QTest::newRow("select all, copy")      << "1234"   << 0 << "x"          << "Ctrl+A, Ctrl+C, End"             << false << "1234"   << 4 << "1234";
        QTest::newRow("select all, cut")       << "1234"   << 2 << "x"          << "Ctrl+A, Ctrl+X"                  << false << ""       << 0 << "1234";
        QTest::newRow("cut, letters as text")  << "1234"   << 2 << "x"          << "Ctrl+A, Ctrl+X"                  << true  << ""       << 0 << "1234";
        QTest::newRow("paste keeps digits")    << "12"     << 2 << "3.4-5 a6b7" << "Ctrl+V"                          << false << "123456" << 6 << "3.4-5 a6b7";
        QTest::newRow("paste, letters as text")<< "12"     << 0 << "a9"         << "Ctrl+V"                          << true  << "912"    << 1 << "a9";
        QTest::newRow("Shift+Insert pastes")   << ""       << 0 << "12.34-56"   << "Shift+Ins"                       << false << "123456" << 6 << "12.34-56";
        QTest::newRow("paste over selection")  << "1234"   << 0 << "(77)"       << "Shift+End, Ctrl+V"               << false << "77"     << 2 << "(77)";
        QTest::newRow("nothing to paste")      << "1234"   << 0 << "abc"        << "Shift+End, Ctrl+V"               << false << "1234"   << 4 << "abc";
        QTest::newRow("undo a paste")          << "12"     << 2 << "34"         << "Ctrl+V, Ctrl+Z"                  << false << "12"     << 2 << "34";
        // clang-format on
    }

    void registryFieldEditingKeys()
    {
        QFETCH(QString, initial);
        QFETCH(int, cursor);
        QFETCH(QString, clipboard);
        QFETCH(QString, keys);
        QFETCH(bool, letterText);
        QFETCH(QString, expected);
        QFETCH(int, cursorAfter);
        QFETCH(QString, clipboardAfter);
        std::unique_ptr<test::FakeZebServer> server;
        open({}, server);
        auto* field = child<QLineEdit>(window_.get(), "txtRegZEB");
        field->setText(initial);
        field->setCursorPosition(cursor);
        QGuiApplication::clipboard()->setText(clipboard);

        const QKeySequence sequence(keys);
        for (int i = 0; i < sequence.count(); ++i) {
            const Qt::Key key = sequence[i].key();
            const Qt::KeyboardModifiers modifiers = sequence[i].keyboardModifiers();
            QString text;
            if (key == Qt::Key_Delete) {
                text = QChar(0x7f);
            } else if (key == Qt::Key_Backspace) {
                text = QChar(0x08);
            } else if (modifiers == Qt::ControlModifier && key >= Qt::Key_A && key <= Qt::Key_Z) {
                text = letterText ? QChar(u'a' + (key - Qt::Key_A)) : QChar(key - Qt::Key_A + 1);
            }
            QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
            QApplication::sendEvent(field, &press);
            QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
            QApplication::sendEvent(field, &release);
        }
        QCOMPARE(field->text(), expected);
        QCOMPARE(field->cursorPosition(), cursorAfter);
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboardAfter);
    }

    // The context menu's paste keeps the digits as the paste shortcut does;
    // text that arrives any other way (a drop, an input method) loses the
    // characters the field does not take.
    void registryFieldFiltersTextFromTheMenuAndElsewhere()
    {
        std::unique_ptr<test::FakeZebServer> server;
        open({}, server);
        auto* field = child<QLineEdit>(window_.get(), "txtRegZEB");
        field->setText("1");
        QGuiApplication::clipboard()->setText("2.345-678");
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5), field->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(field, &menuEvent);
        QMenu* menu = nullptr;
        QTRY_VERIFY((menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr);
        auto* paste = menu->findChild<QAction*>("edit-paste");
        QVERIFY(paste != nullptr);
        QVERIFY(paste->isEnabled());
        paste->trigger();
        menu->close();
        QCOMPARE(field->text(), QString("123456"));

        field->clear();
        field->insert("4a2,9 ");
        QCOMPARE(field->text(), QString("429"));
        QCOMPARE(field->cursorPosition(), 3);
        field->setCursorPosition(1);
        field->insert("x0x");
        QCOMPARE(field->text(), QString("4029"));
        QCOMPARE(field->cursorPosition(), 2);
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
