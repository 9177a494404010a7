#include "ui/SendPage.h"

#include "app/SendRules.h"
#include "server/Store.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/Appearance.h"
#include "ui/FileDialog.h"
#include "ui/TfrmPrincipal.h"
#include "ui/TqrpRecibo.h"
#include "wire/MessageCodes.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>

#include <regex>
#include <set>

using namespace vek;
using vek::test::child;

namespace {

bool sameImage(const QLabel* label, ui::Icone icone)
{
    return label->pixmap().toImage() == ui::pixmapIcone(icone).toImage();
}

std::vector<std::filesystem::path> records(const std::filesystem::path& base)
{
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(base / "Protocolos", ec)) {
        if (e.path().extension() == ".xml") {  // not the receipts' companions
            out.push_back(e.path());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

class SendPageTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    QComboBox* typeList() { return child<QComboBox>(window_.get(), "cbxTpoArqEnviar"); }
    QLineEdit* fileField() { return child<QLineEdit>(window_.get(), "txtArqEnviado"); }
    QLabel* info() { return child<QLabel>(window_.get(), "pnlInfEnvio"); }
    QPushButton* finishButton() { return window_->botao(ui::Botao::Concluir); }
    QString subPage() { return child<QStackedWidget>(window_.get(), "ntbEnviar")->currentWidget()->objectName(); }
    std::set<std::int64_t> seeded_;  // the demo history's uploads

    // The uploads this test made.
    std::vector<server::UploadRecord> uploads()
    {
        std::vector<server::UploadRecord> out;
        for (auto& u : zebd_->server().store().uploads()) {
            if (!seeded_.contains(u.protocol)) {
                out.push_back(std::move(u));
            }
        }
        return out;
    }

    // Logs in and chooses "Enviar arquivo".
    void openSendPage(const QString& senha = "demo")
    {
        openWindow();
        logIn(senha);
        QCOMPARE(window_->paginaAtual(), ui::pgEnviar);
        QVERIFY(sandbox_->ui().messages().empty());
    }

    void selectType(const QString& code)
    {
        for (int i = 0; i < typeList()->count(); ++i) {
            if (typeList()->itemText(i).startsWith(code + " - ")) {
                typeList()->setCurrentIndex(i);
                return;
            }
        }
        QFAIL(qPrintable("no item " + code));
    }

    std::filesystem::path makeFile(const std::string& name, const std::string& content = "<dados>teste</dados>")
    {
        const auto path = sandbox_->base() / "arquivos" / name;
        std::filesystem::create_directories(path.parent_path());
        test::writeFile(path, content);
        return path;
    }

    QString visibleButtons() { return test::visibleButtons(*window_); }

private slots:
    void init()
    {
        setUp(WithZebd::Yes);
        zebd_->server().store().setTiposEnvio("XYZ#Arquivo de Teste|ABC#Outro tipo|XML#Arquivo de dados XML");
        seeded_.clear();
        for (const auto& u : zebd_->server().store().uploads()) {
            seeded_.insert(u.protocol);
        }
        test::pointClientAt(sandbox_->base(), zebd_->port());
    }

    void cleanup() { tearDown(); }

    void entersInTheChoosingState()
    {
        openSendPage();
        QCOMPARE(typeList()->count(), 3);
        QCOMPARE(typeList()->itemText(0), QString("XYZ - Arquivo de Teste"));
        QCOMPARE(typeList()->currentIndex(), -1);
        QVERIFY(!typeList()->isEditable());
        QCOMPARE(subPage(), QString("ListaArquivos"));
        QCOMPARE(visibleButtons(), QString("inicio,anterior,concluir,sair"));
        QCOMPARE(finishButton()->text(), QString("&Enviar"));
        QCOMPARE(finishButton()->width(), 75);
        for (const char* panel : {"pnlInfEnvio", "pnlInfEnvio2", "pnlInfEnvio3"}) {
            QVERIFY(!child<QLabel>(window_.get(), panel)->isVisible());
        }
    }

    void dialogFilterFollowsTheSelectedType()
    {
        openSendPage();
        ui::FileDialog::instance().setTestAnswers({});
        window_->paginaEnviar()->procurarArquivo();
        selectType("XYZ");
        window_->paginaEnviar()->procurarArquivo();
        selectType("ABC");
        QTest::keyClick(fileField(), Qt::Key_Insert, Qt::ControlModifier);  // opens the dialog too
        QCOMPARE(ui::FileDialog::instance().filtersSeen(),
                 (QStringList{"All files (*)", "arquivo de teste (*.xyz)", "outro tipo (*.abc)"}));
        QCOMPARE(window_->paginaEnviar()->filtro(), QString("outro tipo (*.abc)|*.abc"));
    }

    void pickedFileMustHaveTheSelectedType_data()
    {
        QTest::addColumn<QStringList>("answers");  // the dialog's answers, in order; "" cancels
        QTest::addColumn<QString>("field");        // expected field text; "prev" = unchanged
        QTest::addColumn<int>("warnings");
        QTest::addColumn<int>("openings");
        // Where each opening started: the field's folder, then after each
        // refusal the folder of the refused file.
        QTest::addColumn<QStringList>("folders");
        const QString start = QFileInfo("prev").absolutePath();
        QTest::newRow("same type, upper case")
            << QStringList{"/d/dados.XYZ"} << "/d/dados.XYZ" << 0 << 1 << QStringList{start};
        QTest::newRow("longer extension, then right")
            << QStringList{"/d/dados.xyzw", "/d/certo.xyz"} << "/d/certo.xyz" << 1 << 2 << QStringList{start, "/d"};
        QTest::newRow("no extension, then cancel")
            << QStringList{"/d/dados", ""} << "prev" << 1 << 2 << QStringList{start, "/d"};
        QTest::newRow("two wrong, then right") << QStringList{"/d/a.txt", "/e/f/b.xy", "/d/c.Xyz"} << "/d/c.Xyz" << 2
                                               << 3 << QStringList{start, "/d", "/e/f"};
        QTest::newRow("cancel") << QStringList{""} << "prev" << 0 << 1 << QStringList{start};
    }

    void pickedFileMustHaveTheSelectedType()
    {
        QFETCH(QStringList, answers);
        QFETCH(QString, field);
        QFETCH(int, warnings);
        QFETCH(int, openings);
        QFETCH(QStringList, folders);
        openSendPage();
        selectType("XYZ");
        QTest::keyClicks(fileField(), "prev");
        ui::FileDialog::instance().setTestAnswers(answers);
        child<QAction>(window_.get(), "procurarArquivoAction")->trigger();

        QCOMPARE(fileField()->text(), field == "prev" ? QString("prev") : field);
        QCOMPARE(ui::FileDialog::instance().filtersSeen().size(), openings);
        QCOMPARE(ui::FileDialog::instance().pathsSeen(), folders);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(int(messages.size()), warnings);
        for (const auto& m : messages) {
            QCOMPARE(m.text, std::string(app::MsgMesmoTipo));
            QCOMPARE(m.kind, platform::MessageKind::Warning);
        }
    }

    void typeOrFileMissingSendsNothing_data()
    {
        QTest::addColumn<bool>("withType");
        QTest::addColumn<QString>("path");
        QTest::newRow("no type") << false << "/d/dados.xml";
        QTest::newRow("no file") << true << "";
        QTest::newRow("blank file") << true << "   ";
    }

    void typeOrFileMissingSendsNothing()
    {
        QFETCH(bool, withType);
        QFETCH(QString, path);
        openSendPage();
        if (withType) {
            selectType("XML");
        }
        fileField()->setText(path);
        QTest::mouseClick(finishButton(), Qt::LeftButton);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{1});
        QCOMPARE(messages[0].text, std::string(app::MsgTipoEArquivo));
        QCOMPARE(messages[0].kind, platform::MessageKind::Warning);
        QCOMPARE(subPage(), QString("ListaArquivos"));
        QVERIFY(uploads().empty());
    }

    // The whole road: pick, send, result, record, receipt, and another one.
    void sendFlowToTheReceipt()
    {
        openSendPage();
        const auto file = makeFile("dados.XML", "<dados>conteúdo do envio</dados>");
        selectType("XML");
        ui::FileDialog::instance().setTestAnswers({QString::fromStdString(file.string())});
        QTest::keyClick(fileField(), Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(fileField()->text(), QString::fromStdString(file.string()));

        // During the upload the wizard does not react and the gauges move.
        int events = 0;
        bool wizardEverEnabled = false;
        bool closeRefused = true;
        QStringList texts;
        auto original = window_->canal().AoEnviarArquivo;
        window_->canal().AoEnviarArquivo = [&](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
            original(c, s);
            ++events;
            wizardEverEnabled = wizardEverEnabled || window_->botao(ui::Botao::Sair)->isEnabled() ||
                                child<QWidget>(window_.get(), "ajudaButton")->isEnabled() ||
                                window_->assistenteHabilitado();
            texts << info()->text();
            if (events == 1) {
                QCOMPARE(subPage(), QString("Status"));
                QVERIFY(!typeList()->isEnabled());
                QCOMPARE(visibleButtons(), QString("inicio,sair"));
                window_->close();  // refused while sending
                closeRefused = window_->isVisible();
                // Clicks and keys meant for the page go nowhere, yet the page keeps its look.
                QTest::mouseClick(child<QWidget>(window_.get(), "rdbHistorico"), Qt::LeftButton);
                QTest::keyClick(child<QWidget>(window_.get(), "txtSenha"), Qt::Key_5);
                QVERIFY(child<QWidget>(window_.get(), "assistente")->isEnabled());
            }
        };
        QTest::mouseClick(finishButton(), Qt::LeftButton);

        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        QVERIFY(events > 3);
        QVERIFY(!wizardEverEnabled);
        QVERIFY(closeRefused);
        texts.removeDuplicates();
        QVERIFY2(texts.size() > 2, qPrintable(texts.join('\n')));  // the step texts move
        QVERIFY(window_->assistenteHabilitado());
        QVERIFY(!child<QRadioButton>(window_.get(), "rdbHistorico")->isChecked());
        QCOMPARE(child<QLineEdit>(window_.get(), "txtSenha")->text(), QString("demo"));
        QVERIFY(window_->botao(ui::Botao::Sair)->isEnabled());

        const auto received = uploads();
        QCOMPARE(received.size(), std::size_t{1});
        QCOMPARE(received[0].fileType, std::string("XML"));
        QCOMPARE(received[0].fileName, std::string("dados.XML"));
        QCOMPARE(test::readFile(received[0].storedPath), std::string("<dados>conteúdo do envio</dados>"));

        const app::AppState& state = window_->estado();
        QCOMPARE(state.codigoSaida, 9);
        QCOMPARE(state.tipoArquivo, std::string("XML"));
        QCOMPARE(state.protocolo, std::to_string(received[0].protocol));
        QVERIFY(!state.dataRecebimento.empty());
        QVERIFY(!state.autenticacao.empty());
        QCOMPARE(state.enderecoIP, std::string("127.0.0.1"));

        QCOMPARE(subPage(), QString("ImprimirRecibo"));
        QVERIFY(child<QPushButton>(window_.get(), "btnImprimirRecibo")->isVisible());
        QCOMPARE(child<QLabel>(window_.get(), "lblArqEnviado")->text(),
                 QString::fromStdString("Arquivo dados.XML recebido pela ZEB em " + state.dataRecebimento));
        QCOMPARE(child<QLabel>(window_.get(), "lblProtocoloEnvio")->text(),
                 QString::fromStdString("Protocolo de transmissão: " + state.protocolo));
        QCOMPARE(info()->text(), QString("Arquivo enviado com sucesso."));
        QCOMPARE(info()->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(child<QLabel>(window_.get(), "pnlInfEnvio2")->text(), QString(app::MsgAtencaoProcessados));
        QCOMPARE(child<QLabel>(window_.get(), "pnlInfEnvio3")->text(), QString(app::MsgAcompanharStatus));
        for (const char* panel : {"pnlInfEnvio", "pnlInfEnvio2", "pnlInfEnvio3"}) {
            QVERIFY(child<QLabel>(window_.get(), panel)->isVisible());
        }
        QCOMPARE(finishButton()->text(), QString("Enviar &Outro Arquivo"));
        QCOMPARE(finishButton()->width(), 120);
        QCOMPARE(visibleButtons(), QString("inicio,concluir,sair"));
        for (const char* icon : {"imgPreparacao", "imgConexao", "imgTransmissao"}) {
            QVERIFY2(sameImage(child<QLabel>(window_.get(), icon), ui::Icone::Feito), icon);
        }
        for (const char* gauge : {"gagPreparacao", "gagConexao", "gagTransmissao"}) {
            QCOMPARE(child<QProgressBar>(window_.get(), gauge)->value(), 100);
        }

        // The record, named after the file and the tick counter.
        const auto written = records(sandbox_->base());
        QCOMPARE(written.size(), std::size_t{1});
        QCOMPARE(written[0].filename().string(), state.nomeArquivoRegistro);
        QVERIFY(std::regex_match(state.nomeArquivoRegistro, std::regex(R"(VEK-dados\.XML--?\d+\.xml)")));
        const std::string xml = test::readFile(written[0]);
        QVERIFY(xml.find("<protocoloTX>" + state.protocolo + "</protocoloTX>") != std::string::npos);
        QVERIFY(xml.find("<arquivo>" + file.string() + "</arquivo>") != std::string::npos);

        // The receipt opens as often as asked, always with the same values.
        for (int i = 0; i < 2; ++i) {
            ui::TqrpRecibo::Valores shown;
            test::onNextModal([](QWidget* w) { return qobject_cast<QPrintPreviewDialog*>(w) != nullptr; },
                              [&](QWidget* w) {
                                  shown = window_->findChild<ui::TqrpRecibo*>()->valores();
                                  w->close();
                              });
            QTest::mouseClick(child<QPushButton>(window_.get(), "btnImprimirRecibo"), Qt::LeftButton);
            QCOMPARE(shown.protocolo, QString::fromStdString(state.protocolo + " - VEK-4.0.8"));
            QCOMPARE(shown.operadora, QString("123456"));
            QCOMPARE(shown.arquivo, QString("dados.XML"));
            QCOMPARE(shown.dataRecebimento, QString::fromStdString(state.dataRecebimento));
            QCOMPARE(shown.enderecoIP, QString("127.0.0.1"));
            QCOMPARE(shown.autenticacao, QString::fromStdString(state.autenticacao));
            QVERIFY(shown.informacoes.isEmpty());
            QVERIFY(window_->findChild<ui::TqrpRecibo*>() == nullptr);  // freed when the preview closes
        }

        // "Enviar Outro Arquivo": back to choosing, the type kept.
        QTest::mouseClick(finishButton(), Qt::LeftButton);
        QCOMPARE(subPage(), QString("ListaArquivos"));
        QVERIFY(fileField()->text().isEmpty());
        QVERIFY(fileField()->isEnabled() && typeList()->isEnabled());
        QCOMPARE(typeList()->currentText(), QString("XML - Arquivo de dados XML"));
        QCOMPARE(finishButton()->text(), QString("&Enviar"));
        QCOMPARE(finishButton()->width(), 75);
        QCOMPARE(visibleButtons(), QString("inicio,anterior,concluir,sair"));
        QVERIFY(!info()->isVisible());

        // The same file again: a second record, named by a later tick count.
        QTest::qWait(5);
        fileField()->setText(QString::fromStdString(file.string()));
        QTest::mouseClick(finishButton(), Qt::LeftButton);
        QCOMPARE(subPage(), QString("ImprimirRecibo"));
        QCOMPARE(records(sandbox_->base()).size(), std::size_t{2});
        QCOMPARE(uploads().size(), std::size_t{2});
    }

    void typedPathIsSentWithItsOwnExtension()
    {
        openSendPage();
        selectType("XYZ");
        const auto file = makeFile("relatorio.abc");
        QTest::keyClicks(fileField(), QString::fromStdString(file.string()));
        QTest::mouseClick(finishButton(), Qt::LeftButton);
        QVERIFY(sandbox_->ui().messages().empty());
        QCOMPARE(subPage(), QString("ImprimirRecibo"));
        const auto received = uploads();
        QCOMPARE(received.size(), std::size_t{1});
        QCOMPARE(received[0].fileType, std::string("ABC"));
        QCOMPARE(window_->estado().tipoArquivo, std::string("abc"));
    }

    // The channel's texts break their lines in Windows forms ("\n\r" in the
    // upload's own failure text); the page shows each break as one.
    void failureTextBreaksItsLinesOnce()
    {
        openSendPage();
        selectType("XML");
        fileField()->setText(QString::fromStdString(makeFile("dados.xml").string()));
        test::FakeZebServer server({{test::FakeStep::expect(wire::CMD_PEDIDO_ENVIO), test::FakeStep::close()}});
        test::pointClientAt(sandbox_->base(), server.port());
        QTest::mouseClick(finishButton(), Qt::LeftButton);
        QVERIFY(server.waitDone());

        QCOMPARE(subPage(), QString("Status"));
        QCOMPARE(info()->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
        const QString shown = info()->text();
        QVERIFY2(shown.startsWith("Erro ao transmitir o arquivo para a ZEB.\nCertifique-se"), qPrintable(shown));
        QVERIFY2(!shown.contains('\r') && !shown.contains("\n\n"), qPrintable(shown));
        QVERIFY(uploads().empty());
    }

    void failedUploadShowsTheReasonAndRetriesTheSameFile_data()
    {
        QTest::addColumn<QString>("senha");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("failedIcon");
        QTest::addColumn<QString>("notice");  // what the channel itself shows on the way
        QTest::addColumn<int>("noticeKind");
        QTest::newRow("refused password")
            << "errada" << true << 4 << "imgConexao"
            << "Registro ZEB ou senha de transmissão inválidos." << int(platform::MessageKind::Information);
        QTest::newRow("file missing") << "demo" << false << 3 << "imgPreparacao"
                                      << "Can't open: " << int(platform::MessageKind::Error);
    }

    void failedUploadShowsTheReasonAndRetriesTheSameFile()
    {
        QFETCH(QString, senha);
        QFETCH(bool, fileExists);
        QFETCH(int, exitCode);
        QFETCH(QString, failedIcon);
        QFETCH(QString, notice);
        QFETCH(int, noticeKind);
        openSendPage(senha);
        selectType("XYZ");
        const auto file = sandbox_->base() / "arquivos" / "lote.xyz";
        if (fileExists) {
            makeFile("lote.xyz", "primeiro lote");
        }
        fileField()->setText(QString::fromStdString(file.string()));
        QTest::mouseClick(finishButton(), Qt::LeftButton);

        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{1});
        QVERIFY2(QString::fromStdString(messages[0].text).startsWith(notice), messages[0].text.c_str());
        QCOMPARE(int(messages[0].kind), noticeKind);
        sandbox_->ui().clear();
        QCOMPARE(subPage(), QString("Status"));
        QVERIFY(!info()->text().isEmpty());
        QCOMPARE(info()->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
        QVERIFY(info()->font().bold());
        QVERIFY(info()->isVisible());
        QVERIFY(info()->height() >= 17);
        QVERIFY(!child<QLabel>(window_.get(), "pnlInfEnvio2")->isVisible());
        QCOMPARE(finishButton()->text(), QString("&Tentar Novamente"));
        QCOMPARE(finishButton()->width(), 120);
        QCOMPARE(visibleButtons(), QString("inicio,concluir,sair"));
        QVERIFY(!typeList()->isEnabled() && !fileField()->isEnabled());
        QCOMPARE(window_->estado().codigoSaida, exitCode);
        QVERIFY(sameImage(child<QLabel>(window_.get(), qPrintable(failedIcon)), ui::Icone::Erro));
        QVERIFY(records(sandbox_->base()).empty());
        QVERIFY(uploads().empty());
        QVERIFY(!child<QPushButton>(window_.get(), "btnImprimirRecibo")->isVisible());

        // Put right what went wrong, then retry: the same file goes.
        if (fileExists) {
            zebd_->server().store().setOperator("123456", senha.toStdString());
        } else {
            makeFile("lote.xyz", "primeiro lote");
        }
        bool startedFromEmpty = false;
        auto original = window_->canal().AoEnviarArquivo;
        window_->canal().AoEnviarArquivo = [&](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
            if (!startedFromEmpty) {
                startedFromEmpty = sameImage(child<QLabel>(window_.get(), qPrintable(failedIcon)), ui::Icone::Vazio);
            }
            original(c, s);
        };
        QTest::mouseClick(finishButton(), Qt::LeftButton);
        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        QVERIFY(startedFromEmpty);
        QCOMPARE(subPage(), QString("ImprimirRecibo"));
        QCOMPARE(info()->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(window_->estado().codigoSaida, 9);
        const auto received = uploads();
        QCOMPARE(received.size(), std::size_t{1});
        QCOMPARE(received[0].fileName, std::string("lote.xyz"));
        QCOMPARE(test::readFile(received[0].storedPath), std::string("primeiro lote"));
    }
};

VEK_UI_TEST(SendPageTest);

#include "SendPageTest.moc"
