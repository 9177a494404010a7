#include "app/AppState.h"
#include "app/ParameterFile.h"
#include "app/SendRules.h"
#include "app/TransferEstimate.h"
#include "platform/Socket.h"
#include "server/Availability.h"
#include "server/Store.h"
#include "tests/fixtures/RecordingSleeper.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/Appearance.h"
#include "ui/DatasetGrid.h"
#include "ui/FileDialog.h"
#include "ui/FileListPage.h"
#include "ui/QtUiServices.h"
#include "ui/SendPage.h"
#include "ui/TfrmPrincipal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpontaneKeyEvent>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <set>

using namespace vek;
using vek::test::child;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = app::TransferEstimate::Clock;

bool sameImage(const QLabel* label, ui::Icone icone)
{
    return label->pixmap().toImage() == ui::pixmapIcone(icone).toImage();
}

// Bytes that do not compress, so that the data go out in many blocks.
std::string noise(std::size_t size)
{
    std::string content(size, '\0');
    std::uint32_t seed = 2026;
    for (char& c : content) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return content;
}

// What the window's close box sends: an event from the window system
// (sendEvent would make it an application's own).
void clickCloseBox(QWidget* window)
{
    QCloseEvent event;
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(window, &event);
}

std::vector<fs::path> filesIn(const fs::path& dir)
{
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        out.push_back(e.path());
    }
    return out;
}

QString q(const fs::path& p)
{
    return QString::fromStdString(p.string());
}

}  // namespace

// Long uploads and downloads as the operator sees them: what went, how fast
// and how long is left; leaving in the middle; failures the system reports.
class LongTransfersTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    std::set<std::int64_t> seeded_;

    QLineEdit* fileField() { return child<QLineEdit>(window_.get(), "txtArqEnviado"); }
    QString subPage() { return child<QStackedWidget>(window_.get(), "ntbEnviar")->currentWidget()->objectName(); }
    void click(ui::Botao b) { QTest::mouseClick(window_->botao(b), Qt::LeftButton); }
    fs::path temp() { return sandbox_->base() / "temp"; }
    QLabel* downloadStatus() { return child<QLabel>(window_.get(), "lblArqCopiar"); }
    ui::GradeTabela* grid() { return child<ui::GradeTabela>(window_.get(), "ListaArqGrid"); }

    std::vector<server::UploadRecord> newUploads()
    {
        std::vector<server::UploadRecord> out;
        for (auto& u : zebd_->server().store().uploads()) {
            if (!seeded_.contains(u.protocol)) {
                out.push_back(std::move(u));
            }
        }
        return out;
    }

    std::vector<fs::path> records() { return filesIn(sandbox_->base() / "Protocolos"); }

    // Logs in, chooses "Enviar arquivo" and names a file of `size` bytes.
    fs::path prepareUpload(std::size_t size)
    {
        openWindow();
        logIn("demo");
        if (window_->paginaAtual() != ui::pgEnviar) {
            qFatal("%s", qPrintable(sandbox_->messageTexts().join('\n')));
        }
        auto* types = child<QComboBox>(window_.get(), "cbxTpoArqEnviar");
        types->setCurrentIndex(types->findText("XML", Qt::MatchStartsWith));
        const fs::path file = sandbox_->base() / "arquivos" / "movimento-grande.xml";
        fs::create_directories(file.parent_path());
        test::writeFile(file, noise(size));
        fileField()->setText(q(file));
        return file;
    }

    // The receive pages against zebd, the download's pauses shortened.
    void openFileList(const std::function<void()>& beforeLogin = {})
    {
        test::pointClientAt(sandbox_->base(), zebd_->port(), zebd_->ftpPort());
        if (beforeLogin) {
            beforeLogin();
        }
        openWindow();
        auto& t = window_->canal().timeouts;
        t.downloadTypesPause = t.listPause = t.downloadPause = t.afterDownload = t.afterDownloadExtra = 0ms;
        t.dataConnection = 3000ms;
        logIn("demo", "rdbReceber");
        QCOMPARE(window_->paginaAtual(), ui::pgReceber);
        auto* types = child<QComboBox>(window_.get(), "cbxTpoArqReceber");
        types->setCurrentIndex(types->findText("RET - ", Qt::MatchStartsWith));
        click(ui::Botao::Proximo);
        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        QCOMPARE(window_->paginaAtual(), ui::pgCopiarArq);
    }

    void selectRow(const QString& description)
    {
        for (int r = 0; r < grid()->model()->rowCount(); ++r) {
            if (grid()->model()->index(r, 1).data().toString() == description) {
                grid()->selectRow(r);
                return;
            }
        }
        QFAIL(qPrintable("no row " + description));
    }

    // A file of `size` bytes made available to the operator, as zebd's
    // administrator would.
    void publish(const QString& description, std::size_t size)
    {
        const fs::path plain = sandbox_->base() / "publicar" / "retorno-grande.xml";
        fs::create_directories(plain.parent_path());
        test::writeFile(plain, noise(size));
        server::makeFileAvailable(zebd_->server().store(),
                                  zebd_->server().config().dataDir,
                                  {"123456", "RET", plain, description.toStdString(), ""});
    }

private slots:
    void init()
    {
        setUp(WithZebd::Yes);
        seeded_.clear();
        for (const auto& u : zebd_->server().store().uploads()) {
            seeded_.insert(u.protocol);
        }
        test::pointClientAt(sandbox_->base(), zebd_->port());
    }

    void cleanup() { tearDown(); }

    // Under the steps: what went of the total, the speed and the time left,
    // a new text at most four times a second of the transfer's clock, the
    // total when it is done.
    void uploadShowsSentOfTotalSpeedAndTimeLeft()
    {
        prepareUpload(6'000'000);
        auto* label = child<QLabel>(window_.get(), "lblEstimativaEnvio");
        QVERIFY(!label->isVisible());
        // Each block is acknowledged 20 ms after the one before on this clock:
        // 1280 bytes every 20 ms, 62,5 KB/s.
        Clock::time_point now{};
        window_->paginaEnviar()->estimativa().setClock([&now] { return now; });
        auto original = window_->canal().onTransferProgress;
        int calls = 0;
        std::int64_t total = 0;
        QStringList shown;
        bool screenshot = false;
        window_->canal().onTransferProgress = [&](std::int64_t done, std::int64_t size) {
            now += 20ms;
            ++calls;
            total = size;
            original(done, size);
            if (label->isVisible() && (shown.isEmpty() || shown.last() != label->text())) {
                shown << label->text();
            }
            if (!screenshot && done * 2 >= size) {
                screenshot = true;
                QVERIFY(test::textsThatDoNotFit(window_.get()).isEmpty());
                QVERIFY(window_->grab().save(test::screenshotPath("30-enviar-tempo-restante.png")));
            }
        };
        click(ui::Botao::Concluir);

        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        QCOMPARE(subPage(), QString("ImprimirRecibo"));
        QVERIFY(calls > 4000);
        // The time the transfer took on its clock, in quarters of a second.
        QVERIFY2(shown.size() <= calls * 20 / 250 + 2, qPrintable(QString::number(shown.size())));
        const QRegularExpression running(
            "^Enviados [0-9.]+,[0-9] (KB|MB) de 5,[0-9] MB · 62,5 KB/s · faltam [0-9]+ (s|min [0-9]{2} s)$");
        int withTimeLeft = 0;
        for (const QString& t : shown) {
            withTimeLeft += running.match(t).hasMatch() ? 1 : 0;
        }
        QVERIFY2(withTimeLeft >= shown.size() - 6, qPrintable(shown.join('\n')));
        QVERIFY2(shown.first().startsWith("Enviados ") && shown.first().endsWith(" · calculando..."),
                 qPrintable(shown.first()));
        const QString whole = QString::fromStdString(app::formatBytes(total));
        QCOMPARE(shown.last(), "Enviados " + whole + " de " + whole);
        QVERIFY(screenshot);
    }

    // The close box during an upload asks; yes abandons it: no more blocks,
    // the connection closed and the keys gone, no work file, no record, no
    // upload on the server; then the window closes as "Sair" closes it.
    void closeBoxDuringAnUploadAbandonsItWhenConfirmed()
    {
        prepareUpload(1'500'000);
        const auto tmpBefore = filesIn(sandbox_->tmp());
        auto original = window_->canal().onTransferProgress;
        int calls = 0;
        window_->canal().onTransferProgress = [&](std::int64_t done, std::int64_t size) {
            ++calls;
            original(done, size);
            if (calls == 50) {
                sandbox_->ui().queueAnswer(true);
                clickCloseBox(window_.get());
            }
        };
        click(ui::Botao::Concluir);

        QTRY_VERIFY_WITH_TIMEOUT(!window_->isVisible(), 20000);
        QCOMPARE(sandbox_->messageTexts(), QStringList{app::MsgCancelarEnvio});
        QCOMPARE(sandbox_->ui().messages()[0].kind, platform::MessageKind::Question);
        QVERIFY2(calls <= 51, qPrintable(QString::number(calls)));
        QVERIFY(!window_->canal().socCliente().connected());
        QVERIFY(window_->canal().ChaveServidor == nullptr);
        QVERIFY(window_->canal().ChaveSimetrica.empty());
        QCOMPARE(filesIn(sandbox_->tmp()), tmpBefore);
        QVERIFY(records().empty());
        QVERIFY(newUploads().empty());
        QVERIFY(!platform::cancelRequested());
    }

    void closeBoxAnsweredNoLetsTheUploadGoOn()
    {
        prepareUpload(400'000);
        auto original = window_->canal().onTransferProgress;
        int calls = 0;
        window_->canal().onTransferProgress = [&](std::int64_t done, std::int64_t size) {
            ++calls;
            original(done, size);
            if (calls == 50) {
                sandbox_->ui().queueAnswer(false);
                clickCloseBox(window_.get());
            }
        };
        click(ui::Botao::Concluir);
        QCOMPARE(sandbox_->messageTexts(), QStringList{app::MsgCancelarEnvio});
        QCOMPARE(subPage(), QString("ImprimirRecibo"));
        QCOMPARE(newUploads().size(), std::size_t(1));
        QCOMPARE(records().size(), std::size_t(1));
        // A close posted by mistake would run with the posted events.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(window_->isVisible());
    }

    // Started with a parameter file: the run ends without a response file
    // and with the exit code the transmission's failure left.
    void closeBoxDuringAnUnattendedUploadEndsTheRunWithoutAResponse()
    {
        const fs::path file = sandbox_->base() / "arquivos" / "folha.xml";
        fs::create_directories(file.parent_path());
        test::writeFile(file, noise(1'500'000));
        app::ParametrosEnvio p;
        p.formato = "1";
        p.registro = "123456";
        p.senha = "demo";
        p.arquivo = file.string();
        p.arquivoResposta = "resposta.xml";
        p.aplicacao = "Folha";
        p.versao = "3.2";
        const fs::path par = sandbox_->tmp() / "envio.par";
        test::writeFile(par, app::cifrarParametros(p));
        window_ = std::make_unique<ui::TfrmPrincipal>(std::vector<std::string>{par.string()});
        auto original = window_->canal().onTransferProgress;
        int calls = 0;
        window_->canal().onTransferProgress = [&](std::int64_t done, std::int64_t size) {
            ++calls;
            original(done, size);
            if (calls == 50) {
                sandbox_->ui().queueAnswer(true);
                clickCloseBox(window_.get());
            }
        };
        window_->show();
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        guard.start(60000);
        const int code = QCoreApplication::exec();
        QCOMPARE(code, 4);
        QCOMPARE(sandbox_->messageTexts(), QStringList{app::MsgCancelarEnvio});
        QVERIFY(!fs::exists(sandbox_->base() / "Protocolos" / "resposta.xml"));
        QVERIFY(newUploads().empty());
    }

    // The question as the operator sees it.
    void cancelQuestionScreenshot()
    {
        prepareUpload(400'000);
        auto original = window_->canal().onTransferProgress;
        int calls = 0;
        bool saved = false;
        window_->canal().onTransferProgress = [&](std::int64_t done, std::int64_t size) {
            ++calls;
            original(done, size);
            if (calls != 50) {
                return;
            }
            ui::QtUiServices real;
            platform::ScopedUi scoped(real);
            test::onNextModal([](QWidget* m) { return qobject_cast<QMessageBox*>(m) != nullptr; },
                              [&](QWidget* m) {
                                  QPixmap shot = window_->grab();
                                  const QPixmap box = m->grab();
                                  QPainter p(&shot);
                                  p.drawPixmap(
                                      (shot.width() - box.width()) / 2, (shot.height() - box.height()) / 2, box);
                                  p.end();
                                  saved = shot.save(test::screenshotPath("31-cancelar-envio.png"));
                                  QCOMPARE(qobject_cast<QMessageBox*>(m)->text(), QString(app::MsgCancelarEnvio));
                                  qobject_cast<QMessageBox*>(m)->button(QMessageBox::No)->click();
                              });
            clickCloseBox(window_.get());
        };
        click(ui::Botao::Concluir);
        QVERIFY(saved);
        QCOMPARE(subPage(), QString("ImprimirRecibo"));
    }

    // The same for a download: nothing of it stays in temp/, no save dialog.
    void closeBoxDuringADownloadAbandonsItWhenConfirmed()
    {
        publish("Arquivo grande de retorno", 600'000);
        openFileList();
        selectRow("Arquivo grande de retorno");
        auto original = window_->canal().onTransferProgress;
        int calls = 0;
        window_->canal().onTransferProgress = [&](std::int64_t done, std::int64_t size) {
            ++calls;
            original(done, size);
            if (calls == 1) {
                sandbox_->ui().queueAnswer(true);
                clickCloseBox(window_.get());
            }
        };
        click(ui::Botao::Concluir);

        QTRY_VERIFY_WITH_TIMEOUT(!window_->isVisible(), 20000);
        QCOMPARE(sandbox_->messageTexts(), QStringList{app::MsgCancelarDownload});
        QVERIFY2(calls <= 2, qPrintable(QString::number(calls)));
        QVERIFY(ui::FileDialog::instance().filtersSeen().isEmpty());
        // Closing removed the list file too, as it always does.
        QCOMPARE(filesIn(temp()), std::vector<fs::path>{});
        QVERIFY(!platform::cancelRequested());
    }

    // Beside the gauge: what came of the listed size and the speed.
    void downloadShowsReceivedOfTotalAndSpeed()
    {
        publish("Arquivo grande de retorno", 600'000);
        openFileList();
        selectRow("Arquivo grande de retorno");
        Clock::time_point now{};
        window_->paginaArquivos()->estimativa().setClock([&now] { return now; });
        auto* label = child<QLabel>(window_.get(), "lblEstimativaDownload");
        auto original = window_->canal().onTransferProgress;
        QStringList shown;
        std::int64_t listed = 0;
        std::int64_t received = 0;
        window_->canal().onTransferProgress = [&](std::int64_t done, std::int64_t size) {
            now += 100ms;
            listed = size;
            received = done;
            original(done, size);
            if (label->isVisible() && (shown.isEmpty() || shown.last() != label->text())) {
                shown << label->text();
            }
        };
        const fs::path target = sandbox_->base() / "salvos" / "grande.xml";
        fs::create_directories(target.parent_path());
        ui::FileDialog::instance().setTestAnswers({q(target)});
        click(ui::Botao::Concluir);
        QCOMPARE(downloadStatus()->text(), QString("Arquivo LIBERADO."));
        QVERIFY(fs::exists(target));
        QVERIFY2(shown.size() >= 2, qPrintable(shown.join('\n')));
        // The listed size is rounded in its unit: a file may outgrow it, and
        // then only what arrived and the speed can be told.
        const bool sized = listed > 0 && received <= listed;
        const QRegularExpression running(
            sized ? "^Recebidos [0-9.]+,[0-9] KB de [0-9.]+,[0-9] KB\\n[0-9.]+,[0-9] KB/s · faltam [0-9]+ s$"
                  : "^Recebidos [0-9.]+,[0-9] KB\\n[0-9.]+,[0-9] KB/s$");
        bool sawSpeed = false;
        for (const QString& t : shown) {
            sawSpeed = sawSpeed || running.match(t).hasMatch();
        }
        QVERIFY2(sawSpeed, qPrintable(shown.join("\n--\n")));
    }

    // A refused connection says so in Portuguese inside the design's text.
    void refusedConnectionIsToldInPortuguese()
    {
        prepareUpload(1000);
        quint16 closed = 0;
        {
            platform::TcpListener l;
            l.listen("127.0.0.1", 0);
            closed = l.localPort();
        }
        test::pointClientAt(sandbox_->base(), closed);
        const test::RecordingSleeper pauses;  // the 200 ms pauses between attempts
        click(ui::Botao::Concluir);
        const QString text = child<QLabel>(window_.get(), "pnlInfEnvio")->text().trimmed();
        QCOMPARE(text,
                 "Erro ao conectar-se com o servidor da ZEB: \"Não foi possível conectar a 127.0.0.1:" +
                     QString::number(closed) +
                     ": conexão recusada (nenhum serviço atende nesse endereço e porta)\". Código de erro do Windows: "
                     "111");
        QVERIFY(test::textsThatDoNotFit(window_.get()).isEmpty());
        QVERIFY(window_->grab().save(test::screenshotPath("32-conexao-recusada.png")));
    }

    // The local data port is taken: the design's text, and the port named.
    void busyDataPortIsNamed()
    {
        platform::TcpListener busy;
        busy.listen("127.0.0.1", 0);
        openFileList([&] {
            std::ofstream out(sandbox_->base() / "vek.INI", std::ios::binary | std::ios::trunc);
            out << "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" << zebd_->port()
                << "\r\nPortaFTP=" << zebd_->ftpPort() << "\r\nPortaDados=" << busy.localPort() << "\r\n";
        });
        selectRow("Retorno do processamento de abril/2024");
        click(ui::Botao::Concluir);
        QCOMPARE(downloadStatus()->text().trimmed(),
                 "Houve um erro ao efetuar download do arquivo. Código de erro do Windows: 98 (porta " +
                     QString::number(busy.localPort()) + " já está em uso)");
    }

    // A save the operator cancels keeps nothing, and says so instead of
    // "Arquivo LIBERADO.".
    void cancelledSaveSaysTheFileWasNotSaved()
    {
        openFileList();
        selectRow("Retorno do processamento de abril/2024");
        ui::FileDialog::instance().setTestAnswers({QString()});
        click(ui::Botao::Concluir);
        QCOMPARE(downloadStatus()->text(),
                 QString("O arquivo não foi salvo. Clique em \"Baixar\" para baixá-lo novamente."));
        QVERIFY(sameImage(child<QLabel>(window_.get(), "imgArqCopiar"), ui::Icone::Vazio));
        QCOMPARE(child<QProgressBar>(window_.get(), "gagArqCopiar")->value(), 0);
        QVERIFY(!fs::exists(temp() / "retorno-042024.xml"));
        QCOMPARE(test::visibleButtons(*window_), QString("inicio,anterior,concluir,sair"));
    }

    // A double click on a file downloads it, as "&Baixar" does.
    void doubleClickOnAFileDownloadsIt()
    {
        openFileList();
        selectRow("Retorno do processamento de abril/2024");
        const int row = grid()->currentIndex().row();
        const fs::path target = sandbox_->base() / "salvos" / "abril.xml";
        fs::create_directories(target.parent_path());
        ui::FileDialog::instance().setTestAnswers({q(target)});
        grid()->scrollTo(grid()->model()->index(row, 1));
        const QRect cell = grid()->visualRect(grid()->model()->index(row, 1));
        // As the window system delivers it: a click, then the second press as a double click.
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY2(fs::exists(target), qPrintable(downloadStatus()->text()));
        QCOMPARE(downloadStatus()->text(), QString("Arquivo LIBERADO."));
    }

    // The wait panels stay once the query is over, as designed; their icon
    // no longer says that something is being waited for.
    void waitPanelIconTellsTheQueryEnded()
    {
        openFileList();
        auto* icon = child<QLabel>(window_.get(), "pnlListaArqReceberIcone");
        click(ui::Botao::Anterior);
        QCOMPARE(window_->paginaAtual(), ui::pgReceber);
        auto* types = child<QComboBox>(window_.get(), "cbxTpoArqReceber");
        types->setCurrentIndex(types->findText("RET - ", Qt::MatchStartsWith));
        QTest::keyClicks(child<QLineEdit>(window_.get(), "txtMesAnoComp"), "011990");
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgReceber);  // an empty list
        QCOMPARE(sandbox_->ui().messages().size(), std::size_t(1));
        QVERIFY(child<QWidget>(window_.get(), "pnlListaArqReceber")->isVisible());
        QVERIFY(sameImage(icon, ui::Icone::Feito));

        child<QLineEdit>(window_.get(), "txtMesAnoComp")->clear();
        window_->estado().senha = "errada";
        click(ui::Botao::Proximo);
        QCOMPARE(window_->paginaAtual(), ui::pgReceber);  // refused
        QVERIFY(sameImage(icon, ui::Icone::Erro));
    }
};

VEK_UI_TEST(LongTransfersTest);

#include "LongTransfersTest.moc"
