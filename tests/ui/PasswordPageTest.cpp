#include "ui/PasswordPage.h"

#include "crypto/TBlowfishQv.h"
#include "platform/Win1252.h"
#include "server/Store.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/TfrmPrincipal.h"
#include "wire/MessageCodes.h"

#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <functional>
#include <stdexcept>

using namespace vek;
using vek::test::child;

namespace {

// Passes every call on to the sandbox's recording services, and lets a test
// look at the window when a message shows or make the message box itself fail.
class WatchingUi final : public platform::UiServices
{
public:
    explicit WatchingUi(platform::UiServices& inner)
        : inner_(inner)
    {}

    std::function<void(const std::string&)> onMessage;
    std::string failOn;  // a message with this text throws instead of showing

    void processEvents() override { inner_.processEvents(); }
    bool showMessage(const std::string& text, platform::MessageKind kind) override
    {
        if (onMessage) {
            onMessage(text);
        }
        if (!failOn.empty() && text == failOn) {
            throw std::runtime_error("A caixa de mensagem não pôde ser mostrada.");
        }
        return inner_.showMessage(text, kind);
    }
    void setBusy(bool busy) override { inner_.setBusy(busy); }

private:
    platform::UiServices& inner_;
};

constexpr const char* MsgErroAlterar = "Houve um erro ao tentar alterar a senha. ";

}  // namespace

class PasswordPageTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    QLineEdit* newPassword() { return child<QLineEdit>(window_.get(), "txtNovaSenha"); }
    QLabel* info() { return child<QLabel>(window_.get(), "pnlInfNovaSenha"); }
    void click(ui::Botao b) { QTest::mouseClick(window_->botao(b), Qt::LeftButton); }

    void openPasswordPage(const QString& senha = "demo")
    {
        openWindow();
        // A server that is down gives up after one short pause.
        window_->canal().timeouts.connectBudget = std::chrono::milliseconds(200);
        logIn(senha, "rdbAlterarSenha");
        QCOMPARE(window_->paginaAtual(), ui::pgAlteraSenha);
    }

    QString visibleButtons() { return test::visibleButtons(*window_); }

private slots:
    void init()
    {
        setUp(WithZebd::Yes);
        test::pointClientAt(sandbox_->base(), zebd_->port());
    }

    void cleanup() { tearDown(); }

    void entersWithItsButtonsAndKeepsTheTypedPassword()
    {
        openPasswordPage();
        QCOMPARE(visibleButtons(), QString("inicio,anterior,concluir,sair"));
        QCOMPARE(window_->botao(ui::Botao::Concluir)->text(), QString("&Alterar"));
        QCOMPARE(newPassword()->echoMode(), QLineEdit::Password);
        QCOMPARE(newPassword()->toolTip(), QString("Não há diferença entre maiúsculas e minúsculas."));
        QCOMPARE(newPassword()->mapTo(window_.get(), QPoint(0, 0)), QPoint(176 + 12, 114 + 32));
        QVERIFY(!info()->isVisible());

        QTest::keyClicks(newPassword(), "nova123");
        click(ui::Botao::Anterior);
        QCOMPARE(window_->paginaAtual(), ui::pgAcesso);
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgAlteraSenha);
        QCOMPARE(newPassword()->text(), QString("nova123"));
        QVERIFY(sandbox_->ui().messages().empty());
    }

    // The channel reports every outcome in its own box; the page adds
    // nothing, stays, and keeps its buttons.
    void outcomeIsShownByTheChannel_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("serverDown");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("passwordAfter");  // what the server accepts afterwards
        QTest::addColumn<QString>("runPassword");    // what the run sends afterwards
        QTest::newRow("accepted") << "demo"
                                  << "Nova#Senha1" << false << "Senha alterada com sucesso."
                                  << int(platform::MessageKind::Information) << "Nova#Senha1"
                                  << "Nova#Senha1";
        QTest::newRow("wrong current password")
            << "errada"
            << "nova" << false << "Registro ZEB ou senha atual inválidos. A senha não foi alterada."
            << int(platform::MessageKind::Warning) << "demo"
            << "errada";
        // The page puts no rule on the new password: an empty one goes to the server.
        QTest::newRow("empty new password")
            << "demo"
            << "" << false << "A nova senha não pode ser vazia. A senha não foi alterada."
            << int(platform::MessageKind::Warning) << "demo"
            << "demo";
        QTest::newRow("server down") << "demo"
                                     << "nova" << true << MsgErroAlterar << int(platform::MessageKind::Error) << "demo"
                                     << "demo";
    }

    void outcomeIsShownByTheChannel()
    {
        QFETCH(QString, current);
        QFETCH(QString, typed);
        QFETCH(bool, serverDown);
        QFETCH(QString, message);
        QFETCH(int, kind);
        QFETCH(QString, passwordAfter);
        QFETCH(QString, runPassword);
        openPasswordPage(current);
        QTest::keyClicks(newPassword(), typed);
        server::Store* store = &zebd_->server().store();
        if (serverDown) {
            zebd_->server().stop();
        }
        click(ui::Botao::Concluir);

        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages[0].text), message);
        QCOMPARE(int(messages[0].kind), kind);
        QCOMPARE(window_->paginaAtual(), ui::pgAlteraSenha);
        QCOMPARE(visibleButtons(), QString("inicio,anterior,concluir,sair"));
        QVERIFY(!info()->isVisible());
        QVERIFY(window_->assistenteHabilitado());
        QVERIFY(store->checkOperator("123456", passwordAfter.toStdString()));
        // The run goes on with the password the server takes: the new one
        // once the change was accepted, else the one typed on the access page.
        QCOMPARE(QString::fromStdString(window_->estado().senha), runPassword);
        QCOMPARE(child<QLineEdit>(window_.get(), "txtSenha")->text(), runPassword);
    }

    // After an accepted change the next upload goes through without the
    // operator retyping the password on the access page.
    void laterOperationsSendTheNewPassword()
    {
        openPasswordPage();
        QTest::keyClicks(newPassword(), "trocada");
        click(ui::Botao::Concluir);
        QVERIFY(zebd_->server().store().checkOperator("123456", "trocada"));
        sandbox_->ui().clear();

        click(ui::Botao::Inicio);
        QTest::mouseClick(child<QRadioButton>(window_.get(), "rdbEnviar"), Qt::LeftButton);
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgEnviar);
        auto* types = child<QComboBox>(window_.get(), "cbxTpoArqEnviar");
        types->setCurrentIndex(0);
        const auto file = sandbox_->base() / "envio.xml";
        test::writeFile(file, "<dados/>");
        child<QLineEdit>(window_.get(), "txtArqEnviado")->setText(QString::fromStdString(file.string()));
        const auto before = zebd_->server().store().uploads().size();
        click(ui::Botao::Concluir);
        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        QCOMPARE(zebd_->server().store().uploads().size(), before + 1);
        QCOMPARE(window_->canal().Senha, std::string("trocada"));
    }

    // What the next operation sends after each outcome of the change, seen
    // on the wire: the change carries the current and the new password
    // enciphered, and the history query that follows (through the access
    // page, as the operator goes) carries the new one only when the server
    // accepted the change.
    void followingOperationSendsThePasswordTheServerTook_data()
    {
        QTest::addColumn<int>("replyCode");
        QTest::addColumn<QString>("replyText");
        QTest::addColumn<bool>("changed");
        QTest::newRow("accepted") << int(wire::CMD_ACEITO) << "Senha alterada com sucesso." << true;
        QTest::newRow("refused") << int(wire::CMD_NEGADO)
                                 << "Registro ZEB ou senha atual inválidos. A senha não foi alterada." << false;
        QTest::newRow("other reply") << int(wire::CMD_ACK) << "" << false;
    }

    void followingOperationSendsThePasswordTheServerTook()
    {
        QFETCH(int, replyCode);
        QFETCH(QString, replyText);
        QFETCH(bool, changed);
        const std::string oldPassword = "antiga";
        const std::string newPassword_ = "Nova#Senha1";
        test::FakeScript change{
            test::FakeStep::expect(wire::CMD_ALTERAR_SENHA),
            test::FakeStep::reply(static_cast<std::uint8_t>(replyCode), platform::toWin1252(replyText.toStdString()))};
        if (replyCode == wire::CMD_ACEITO) {
            change.push_back(test::FakeStep::expect(wire::CMD_ACK));
        }
        // An empty period: the query ends at the server's "0".
        const test::FakeScript history{test::FakeStep::expect(wire::CMD_PEDIDO_HISTORICO),
                                       test::FakeStep::reply(wire::CMD_ACEITO),
                                       test::FakeStep::reply(wire::CMD_ACEITO, "0")};
        test::FakeZebServer server({change, history});
        test::pointClientAt(sandbox_->base(), server.port());
        openPasswordPage(QString::fromStdString(oldPassword));
        QTest::keyClicks(newPassword(), QString::fromStdString(newPassword_));
        click(ui::Botao::Concluir);

        click(ui::Botao::Inicio);
        QTest::mouseClick(child<QRadioButton>(window_.get(), "rdbHistorico"), Qt::LeftButton);
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgPeriodoConsultaHist);
        const QString today = QDate::currentDate().toString("ddMMyyyy");
        QTest::keyClicks(child<QLineEdit>(window_.get(), "txtInicioConsultaHist"), today);
        QTest::keyClicks(child<QLineEdit>(window_.get(), "txtFimConsultaHist"), today);
        click(ui::Botao::Proximo);
        QVERIFY(server.waitDone());

        std::vector<std::string> sent;
        for (const auto& m : server.received()) {
            if (m.code == wire::CMD_ALTERAR_SENHA || m.code == wire::CMD_PEDIDO_HISTORICO) {
                sent.push_back(m.text());
            }
        }
        QCOMPARE(sent.size(), std::size_t(2));
        const auto fields = [](const std::string& payload) {
            std::vector<std::string> out;
            std::size_t start = 0;
            for (std::size_t bar; (bar = payload.find('|', start)) != std::string::npos; start = bar + 1) {
                out.push_back(payload.substr(start, bar - start));
            }
            out.push_back(payload.substr(start));
            return out;
        };
        const auto changeFields = fields(sent[0]);
        QCOMPARE(changeFields.size(), std::size_t(5));
        QCOMPARE(changeFields[3], crypto::EncryptProtocolText(oldPassword));
        QCOMPARE(changeFields[4], crypto::EncryptProtocolText(newPassword_));
        const auto historyFields = fields(sent[1]);
        QCOMPARE(historyFields.size(), std::size_t(7));
        const std::string expected = changed ? newPassword_ : oldPassword;
        QCOMPARE(historyFields[6], crypto::EncryptProtocolText(expected));

        // The one message of the query is its empty period: no refusal.
        const QStringList texts = sandbox_->messageTexts();
        QCOMPARE(texts.size(), replyText.isEmpty() ? 1 : 2);
        QCOMPARE(texts.last(), QString("Não há transmissões efetuadas no período informado."));
        QCOMPARE(child<QLineEdit>(window_.get(), "txtSenha")->text(), QString::fromStdString(expected));
    }

    // An error that escapes the password change (here the failure box itself
    // cannot be shown) is written on the page in red bold; the next click
    // hides it before it tries again.
    void escapedErrorIsShownOnThePageUntilTheNextClick()
    {
        openPasswordPage();
        WatchingUi watching(sandbox_->ui());
        platform::ScopedUi scoped(watching);
        watching.failOn = MsgErroAlterar;
        zebd_->server().stop();
        QTest::keyClicks(newPassword(), "nova");
        click(ui::Botao::Concluir);

        QVERIFY(info()->isVisible());
        QCOMPARE(info()->text(), QString("A caixa de mensagem não pôde ser mostrada."));
        QCOMPARE(info()->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0x00));
        QVERIFY(info()->font().bold());
        QCOMPARE(window_->paginaAtual(), ui::pgAlteraSenha);
        QVERIFY(window_->assistenteHabilitado());
        QVERIFY(!window_->operacaoEmAndamento());

        watching.failOn.clear();
        bool hiddenWhileTrying = false;
        watching.onMessage = [&](const std::string&) { hiddenWhileTrying = !info()->isVisible(); };
        click(ui::Botao::Concluir);
        QVERIFY(hiddenWhileTrying);
        QVERIFY(!info()->isVisible());
        QCOMPARE(sandbox_->messageTexts(), QStringList{MsgErroAlterar});
    }

    // While the change runs the window lets events run; the wizard takes no
    // click meanwhile and the window does not close.
    void wizardTakesNoInputWhileTheChangeRuns()
    {
        openPasswordPage();
        WatchingUi watching(sandbox_->ui());
        platform::ScopedUi scoped(watching);
        bool lockedDuringCall = false;
        watching.onMessage = [&](const std::string&) {
            lockedDuringCall = !window_->assistenteHabilitado() && window_->operacaoEmAndamento();
        };
        QTest::keyClicks(newPassword(), "outra");
        click(ui::Botao::Concluir);
        QVERIFY(lockedDuringCall);
        QVERIFY(window_->assistenteHabilitado());
    }
};

VEK_UI_TEST(PasswordPageTest);

#include "PasswordPageTest.moc"
