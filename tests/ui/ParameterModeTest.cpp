#include "app/ParameterFile.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/THashFunctions.h"
#include "platform/Win1252.h"
#include "server/Store.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/TfrmPrincipal.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

using namespace vek;
using vek::test::child;

namespace {

std::string tigerOf(const std::filesystem::path& file, bool upperCase)
{
    const std::string h = crypto::THashFunctions::TigerFileHash(file.string());
    return upperCase ? h : QString::fromStdString(h).toLower().toStdString();
}

std::string enciphered(const std::string& plain)
{
    return crypto::EncryptVEKText(platform::toWin1252(plain));
}

// Passes every call on to the sandbox's recording services; the first time
// the window lets events run, the user clicks the close box.
class ClosingUi final : public platform::UiServices
{
public:
    ClosingUi(platform::UiServices& inner, QWidget& window)
        : inner_(inner)
        , window_(window)
    {}

    bool tried = false;

    void processEvents() override
    {
        if (!tried) {
            tried = true;
            window_.close();
        }
        inner_.processEvents();
    }
    bool showMessage(const std::string& text, platform::MessageKind kind) override
    {
        return inner_.showMessage(text, kind);
    }
    void setBusy(bool busy) override { inner_.setBusy(busy); }

private:
    platform::UiServices& inner_;
    QWidget& window_;
};

}  // namespace

// The unattended upload started by another program with a parameter file.
class ParameterModeTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::UiSandbox> sandbox_;
    std::unique_ptr<test::Zebd> zebd_;
    std::unique_ptr<ui::TfrmPrincipal> window_;

    std::filesystem::path makeFile(const std::string& name, const std::string& content = "<dados>março</dados>")
    {
        const auto path = sandbox_->base() / "arquivos" / name;
        std::filesystem::create_directories(path.parent_path());
        test::writeFile(path, content);
        return path;
    }

    app::ParametrosEnvio parameters(const std::filesystem::path& file)
    {
        app::ParametrosEnvio p;
        p.formato = "1";
        p.registro = "123456";
        p.senha = "demo";
        p.arquivo = file.string();
        p.arquivoResposta = "resposta.xml";
        p.aplicacao = "Folha";
        p.versao = "3.2";
        p.informacoes = "competência 03/2026";
        return p;
    }

    // Starts the window on a parameter file, as the first argument.
    void start(const app::ParametrosEnvio& p)
    {
        const auto par = sandbox_->tmp() / "envio.par";
        test::writeFile(par, app::cifrarParametros(p));
        window_ = std::make_unique<ui::TfrmPrincipal>(std::vector<std::string>{par.string()});
    }

    std::filesystem::path response() const { return sandbox_->base() / "Protocolos" / "resposta.xml"; }
    QString subPage() { return child<QStackedWidget>(window_.get(), "ntbEnviar")->currentWidget()->objectName(); }

    QString visibleButtons() { return test::visibleButtons(*window_); }

    // Leaves with "&Sair" and Yes, as the user would once the outcome shows,
    // and returns the code the event loop ends with.
    int exitCodeAfterSair()
    {
        sandbox_->ui().queueAnswer(true);
        QTimer::singleShot(
            0, window_.get(), [this] { QTest::mouseClick(window_->botao(ui::Botao::Sair), Qt::LeftButton); });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        guard.start(10000);
        return QCoreApplication::exec();
    }

private slots:
    void init()
    {
        sandbox_ = std::make_unique<test::UiSandbox>();
        zebd_ = std::make_unique<test::Zebd>();
        test::pointClientAt(sandbox_->base(), zebd_->port());
    }

    void cleanup()
    {
        window_.reset();
        zebd_.reset();
        sandbox_.reset();
    }

    void sendsUnattendedAndAnswersInTheResponseFile()
    {
        const auto file = makeFile("folha.xml");
        start(parameters(file));
        QVERIFY(!window_->codigoSaidaImediato());
        QCOMPARE(window_->paginaAtual(), ui::pgEnviar);
        auto* types = child<QComboBox>(window_.get(), "cbxTpoArqEnviar");
        QCOMPARE(types->count(), 1);
        QCOMPARE(types->currentText().toStdString(), app::itemTipoParametros(window_->canal()));
        QVERIFY(types->currentText().startsWith("Arquivo do "));
        QCOMPARE(child<QLineEdit>(window_.get(), "txtArqEnviado")->text().toStdString(), file.string());
        QCOMPARE(subPage(), QString("Status"));
        QCOMPARE(visibleButtons(), QString("sair"));
        QVERIFY(!window_->assistenteHabilitado());  // until the posted upload has run

        window_->show();
        QTRY_VERIFY_WITH_TIMEOUT(window_->assistenteHabilitado(), 20000);
        QCOMPARE(window_->estado().codigoSaida, app::CodigoSaidaSucesso);
        QCOMPARE(subPage(), QString("ImprimirRecibo"));
        QCOMPARE(visibleButtons(), QString("sair"));
        QVERIFY(sandbox_->ui().messages().empty());
        const std::string record = test::readFile(response());
        QVERIFY2(record.find("<protocoloTX>" + window_->estado().protocolo + "</protocoloTX>") != std::string::npos,
                 record.c_str());
        QVERIFY2(record.find("<aplicativo>Folha-3.2</aplicativo>") != std::string::npos, record.c_str());
        QVERIFY2(record.find("<informacoesArquivo>competência 03/2026</informacoesArquivo>") != std::string::npos,
                 record.c_str());
        // The server got the file under the parameter file's application.
        const auto uploads = zebd_->server().store().uploads();
        QCOMPARE(uploads.back().fileName, std::string("folha.xml"));
        QCOMPARE(uploads.back().hashText, std::string());
        QCOMPARE(exitCodeAfterSair(), app::CodigoSaidaSucesso);
    }

    void refusedUploadStillAnswersAndOffersNoRetry()
    {
        auto p = parameters(makeFile("folha.xml"));
        p.senha = "errada";
        start(p);
        window_->show();
        QTRY_VERIFY_WITH_TIMEOUT(window_->assistenteHabilitado(), 20000);
        QCOMPARE(window_->estado().codigoSaida, 4);
        QCOMPARE(visibleButtons(), QString("sair"));
        const std::string record = test::readFile(response());
        QVERIFY2(record.find("<dataTransmissao></dataTransmissao><protocoloTX></protocoloTX>") != std::string::npos,
                 record.c_str());
        QCOMPARE(exitCodeAfterSair(), 4);
    }

    // Between the start checks and the upload the file to send turns into
    // something that cannot be read: its checksum cannot be worked out. That
    // is no upload outcome: the standard error box, no response file, and the
    // run ends with code 0. (A CRC of a missing file is a mismatch instead.)
    void unreadableFileForTheChecksumIsNoUploadOutcome_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("directory");  // else the file is gone
        QTest::newRow("Tiger hash, a directory now") << "2" << true;
        QTest::newRow("Tiger hash, file gone") << "2" << false;
    }

    void unreadableFileForTheChecksumIsNoUploadOutcome()
    {
        QFETCH(QString, format);
        QFETCH(bool, directory);
        const auto file = makeFile("folha.xml");
        auto p = parameters(file);
        p.formato = format.toStdString();
        (p.formato == "1" ? p.crcEsperado : p.hashEsperado) = p.formato == "1" ? "C7E00ADF" : tigerOf(file, true);
        start(p);
        QVERIFY(!window_->codigoSaidaImediato());
        std::filesystem::remove(file);
        if (directory) {
            std::filesystem::create_directory(file);
        }
        const auto uploadsBefore = zebd_->server().store().uploads().size();
        window_->show();
        QTRY_VERIFY_WITH_TIMEOUT(window_->assistenteHabilitado(), 20000);

        const auto messages = sandbox_->ui().messages();
        QVERIFY2(messages.size() == 1, qPrintable(sandbox_->messageTexts().join('\n')));
        QCOMPARE(messages[0].kind, platform::MessageKind::Error);
        QVERIFY2(messages[0].text.find(file.string()) != std::string::npos, messages[0].text.c_str());
        QVERIFY(!window_->codigoSaidaImediato());
        QCOMPARE(window_->estado().codigoSaida, 0);
        QVERIFY(!std::filesystem::exists(response()));
        QCOMPARE(zebd_->server().store().uploads().size(), uploadsBefore);
        QCOMPARE(visibleButtons(), QString("sair"));
        QCOMPARE(exitCodeAfterSair(), 0);
    }

    // For the CRC, a file that is no longer there (a directory now) is the
    // missing-file case: its message, then a CRC of 00000000 that differs.
    void crcOfAFileTurnedIntoADirectoryIsAMismatch()
    {
        const auto file = makeFile("folha.xml");
        auto p = parameters(file);
        p.crcEsperado = "C7E00ADF";
        start(p);
        std::filesystem::remove(file);
        std::filesystem::create_directory(file);
        window_->show();
        QTRY_COMPARE_WITH_TIMEOUT(
            window_->codigoSaidaImediato().value_or(-1), app::CodigoSaidaChecksumDiferente, 20000);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{2});
        QCOMPARE(messages[0].text, "File " + file.string() + " does not exist.");
        QCOMPARE(messages[1].text, std::string(app::MsgErroCrc));
        QVERIFY(!std::filesystem::exists(response()));
    }

    void checksumIsCheckedBeforeTheUpload_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("right");
        QTest::newRow("right CRC") << "1" << true;
        QTest::newRow("wrong CRC") << "1" << false;
        QTest::newRow("right Tiger hash") << "2" << true;
        QTest::newRow("Tiger hash in lower case") << "2" << false;
    }

    void checksumIsCheckedBeforeTheUpload()
    {
        QFETCH(QString, format);
        QFETCH(bool, right);
        const auto file = makeFile("folha.xml");
        auto p = parameters(file);
        p.formato = format.toStdString();
        if (p.formato == "1") {
            p.crcEsperado = right ? "C7E00ADF" : "00000000";
        } else {
            p.hashEsperado = tigerOf(file, right);
        }
        start(p);
        window_->show();
        if (right) {
            // The close box the first time the run lets window events run (the
            // CRC check does, the upload too): the window stays, nothing is asked.
            ClosingUi closing(sandbox_->ui(), *window_);
            platform::ScopedUi scoped(closing);
            QTRY_VERIFY_WITH_TIMEOUT(window_->assistenteHabilitado(), 20000);
            QVERIFY(closing.tried);
            QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
            QVERIFY(window_->isVisible());
            QCOMPARE(window_->estado().codigoSaida, app::CodigoSaidaSucesso);
            const auto uploads = zebd_->server().store().uploads();
            QCOMPARE(uploads.back().hashText, p.formato == "1" ? p.crcEsperado : p.hashEsperado);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(
            window_->codigoSaidaImediato().value_or(-1), app::CodigoSaidaChecksumDiferente, 20000);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{1});
        QCOMPARE(messages[0].text, std::string(p.formato == "1" ? app::MsgErroCrc : app::MsgErroTiger));
        QCOMPARE(messages[0].kind, platform::MessageKind::Error);
        QVERIFY(!std::filesystem::exists(response()));
    }

    void startChecksEndAtOnce_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("eight fields") << 0 << 1 << QString(app::MsgErroLerParametro);
        QTest::newRow("response outside Protocolos") << 1 << 2 << QString(app::MsgErroArquivoResposta);
        QTest::newRow("file to send missing") << 2 << 3 << QString(app::MsgArquivoEnviarNaoEncontrado);
    }

    void startChecksEndAtOnce()
    {
        QFETCH(int, kind);
        QFETCH(int, code);
        QFETCH(QString, message);
        const auto file = makeFile("folha.xml");
        const auto par = sandbox_->tmp() / "envio.par";
        auto p = parameters(file);
        if (kind == 0) {
            test::writeFile(par, enciphered("1|123456|demo|" + file.string() + "|r.xml|A|V|info"));
        } else {
            if (kind == 1) {
                p.arquivoResposta = "../fora.xml";
            } else {
                p.arquivo = (sandbox_->base() / "nada.xml").string();
            }
            test::writeFile(par, app::cifrarParametros(p));
        }
        window_ = std::make_unique<ui::TfrmPrincipal>(std::vector<std::string>{par.string()});
        QCOMPARE(window_->codigoSaidaImediato().value_or(-1), code);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{1});
        QVERIFY2(QString::fromStdString(messages[0].text).startsWith(message), messages[0].text.c_str());
        QCOMPARE(messages[0].kind, platform::MessageKind::Error);
        QVERIFY(!std::filesystem::exists(sandbox_->base() / "fora.xml"));
    }
};

VEK_UI_TEST(ParameterModeTest);
#include "ParameterModeTest.moc"
