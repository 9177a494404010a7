#include "app/Receipt.h"
#include "dataset/TransmissionRecord.h"
#include "tests/fixtures/Process.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/FileDialog.h"
#include "ui/PreviousReceiptsDialog.h"
#include "ui/TfrmAjuda.h"
#include "ui/TfrmPrincipal.h"
#include "ui/TqrpRecibo.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include <chrono>
#include <functional>

using namespace vek;
using vek::test::child;

namespace {

namespace fs = std::filesystem;

QString pdfText(const fs::path& pdf)
{
    const auto r = test::runProcess({"/usr/bin/env", "pdftotext", "-enc", "UTF-8", pdf.string(), "-"});
    if (r.exitCode != 0) {
        qWarning() << "pdftotext" << QString::fromStdString(r.err);
        return {};
    }
    return QString::fromStdString(r.out);
}

bool isPreview(QWidget* w)
{
    return qobject_cast<QPrintPreviewDialog*>(w) != nullptr;
}

bool isDialog(QWidget* w)
{
    return qobject_cast<ui::PreviousReceiptsDialog*>(w) != nullptr;
}

dataset::RegistroTransmissao record(const std::string& protocolo, const std::string& arquivo)
{
    return {.operadora = "123456",
            .tipo_Arquivo = "xml",
            .arquivo = "/home/op/" + arquivo,
            .dataTransmissao = protocolo.empty() ? "" : "09/12/2026 14:05:09",
            .protocoloTX = protocolo,
            .aplicativo = "VEK-4.0.8",
            .informacoesArquivo = "",
            .clienteTransmissao = "VEK-4.0.8",
            .enderecoIP = protocolo.empty() ? "" : "10.0.0.7",
            .autenticacao = protocolo.empty() ? "" : "FEDC",
            .modoParametros = false};
}

}  // namespace

class PreviousReceiptsTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    // A record in Protocolos/, written `minutesAgo` minutes ago.
    fs::path writeRecord(const std::string& name, const dataset::RegistroTransmissao& r, int minutesAgo)
    {
        const fs::path path = sandbox_->base() / "Protocolos" / name;
        if (!dataset::gravarRegistroTransmissao(r, sandbox_->base(), name)) {
            qFatal("record not written");
        }
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(minutesAgo));
        return path;
    }

    // Runs `inPreview` on the preview the dialog's "Visualizar recibo" opens,
    // then closes it; false when no preview opened.
    static bool viewSelected(ui::PreviousReceiptsDialog& dialog, const std::function<void(QWidget*)>& inPreview)
    {
        bool opened = false;
        test::onNextModal(isPreview, [&](QWidget* w) {
            opened = true;
            inPreview(w);
            w->close();
        });
        QTest::mouseClick(child<QPushButton>(&dialog, "visualizarButton"), Qt::LeftButton);
        return opened;
    }

private slots:
    void init() { setUp(WithZebd::No); }
    void cleanup() { tearDown(); }

    // The window's receipt right after an upload, the same upload's receipt
    // from its record through "Recibos anteriores" on the send page, and
    // vek-cli's from that record: one text, holding every value.
    void anEarlierReceiptReadsAsTheOneRightAfterTheUpload()
    {
        tearDown();
        setUp(WithZebd::Yes);
        test::pointClientAt(sandbox_->base(), zebd_->port());
        openWindow();
        logIn("demo");
        QCOMPARE(window_->paginaAtual(), ui::pgEnviar);
        auto* types = child<QComboBox>(window_.get(), "cbxTpoArqEnviar");
        types->setCurrentIndex(types->findText("XML", Qt::MatchStartsWith));
        const fs::path file = sandbox_->base() / "arquivos" / "Relação de março.xml";
        fs::create_directories(file.parent_path());
        test::writeFile(file, "<folha>março</folha>");
        child<QLineEdit>(window_.get(), "txtArqEnviado")->setText(QString::fromStdString(file.string()));
        QTest::mouseClick(window_->botao(ui::Botao::Concluir), Qt::LeftButton);
        const app::AppState& state = window_->estado();
        QVERIFY2(!state.protocolo.empty(), qPrintable(sandbox_->messageTexts().join('\n')));

        const fs::path rightAfter = sandbox_->base() / "logo.pdf";
        test::onNextModal(isPreview, [&](QWidget* w) {
            QVERIFY(window_->findChild<ui::TqrpRecibo*>()->salvarPdf(QString::fromStdString(rightAfter.string())));
            w->close();
        });
        QTest::mouseClick(child<QPushButton>(window_.get(), "btnImprimirRecibo"), Qt::LeftButton);

        const fs::path fromDialog = sandbox_->base() / "depois.pdf";
        int rows = 0;
        QString protocolShown;
        bool previewed = false;
        test::onNextModal(isDialog, [&](QWidget* w) {
            auto& dialog = *static_cast<ui::PreviousReceiptsDialog*>(w);
            rows = dialog.lista()->topLevelItemCount();
            protocolShown = dialog.lista()->currentItem()->text(1);
            previewed = viewSelected(dialog, [&](QWidget*) {
                QVERIFY(dialog.findChild<ui::TqrpRecibo*>()->salvarPdf(QString::fromStdString(fromDialog.string())));
            });
            QTest::mouseClick(child<QPushButton>(&dialog, "fecharButton"), Qt::LeftButton);
        });
        QTest::mouseClick(child<QPushButton>(window_.get(), "btnRecibosAnteriores"), Qt::LeftButton);
        QCOMPARE(rows, 1);
        QCOMPARE(protocolShown, QString::fromStdString(state.protocolo));
        QVERIFY(previewed);

        const fs::path fromCli = sandbox_->base() / "cli.pdf";
        const fs::path registro = sandbox_->base() / "Protocolos" / state.nomeArquivoRegistro;
        const auto cli =
            test::runProcess({test::binPath("vek-cli"), "recibo", registro.string(), "-o", fromCli.string()},
                             {{"VEK_DIR", sandbox_->base().string()}});
        QVERIFY2(cli.exitCode == 0, cli.err.c_str());

        const QString text = pdfText(rightAfter);
        QCOMPARE(pdfText(fromDialog), text);
        QCOMPARE(pdfText(fromCli), text);
        const QString flat = QString(text).replace(QRegularExpression("\\s+"), " ");
        for (const std::string& piece : {
                 "Protocolo de Transmissão: " + state.protocolo + " - VEK-4.0.8",
                 std::string("Registro da Operadora: 123456"),
                 std::string("Arquivo Enviado: Relação de março.xml"),
                 "Data de Recebimento ZEB: " + state.dataRecebimento,
                 "Endereço IP: " + state.enderecoIP,
                 state.autenticacao,
             }) {
            QVERIFY2(flat.contains(QString::fromStdString(piece)),
                     qPrintable(QString::fromStdString(piece) + "\n" + flat));
        }
    }

    // Newest first; a failed upload's record and one that cannot be read are
    // listed and say why they have no receipt.
    void listsTheRecordsAndSaysWhichHaveNoReceipt()
    {
        writeRecord("VEK-antigo.xml-1.xml", record("2026000001", "antigo.xml"), 60);
        writeRecord("resposta.xml", record("", "recusado.xml"), 30);
        writeRecord("VEK-novo.xml-2.xml", record("2026000002", "novo.xml"), 1);
        test::writeFile(sandbox_->base() / "Protocolos" / "estragado.xml", "<VEK><operadora>");
        fs::last_write_time(sandbox_->base() / "Protocolos" / "estragado.xml",
                            fs::file_time_type::clock::now() - std::chrono::minutes(90));
        test::writeFile(sandbox_->base() / "Protocolos" / "leia-me.txt", "outro arquivo");

        ui::PreviousReceiptsDialog dialog;
        QTreeWidget* list = dialog.lista();
        QCOMPARE(list->topLevelItemCount(), 4);
        const QStringList protocols{
            "2026000002", "sem recibo (envio não concluído)", "2026000001", "registro ilegível"};
        const QStringList files{"novo.xml", "recusado.xml", "antigo.xml", ""};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(list->topLevelItem(i)->text(1), protocols[i]);
            QCOMPARE(list->topLevelItem(i)->text(2), files[i]);
        }
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        auto* situation = child<QLabel>(&dialog, "situacaoLabel");
        QVERIFY(situation->text().isEmpty());

        // A listed receipt opens with its record's values.
        ui::TqrpRecibo::Valores shown;
        QVERIFY(viewSelected(dialog, [&](QWidget*) { shown = dialog.findChild<ui::TqrpRecibo*>()->valores(); }));
        QCOMPARE(shown.protocolo, QString("2026000002 - VEK-4.0.8"));
        QCOMPARE(shown.arquivo, QString("novo.xml"));
        QCOMPARE(shown.enderecoIP, QString("10.0.0.7"));
        QCOMPARE(shown.autenticacao, QString("FEDC"));
        QVERIFY(sandbox_->ui().messages().empty());

        // The failed upload: said on selection and when asked for, no preview.
        list->setCurrentItem(list->topLevelItem(1));
        QCOMPARE(situation->text(), QString(app::MsgRegistroSemRecibo));
        QTest::mouseClick(child<QPushButton>(&dialog, "visualizarButton"), Qt::LeftButton);
        list->setCurrentItem(list->topLevelItem(3));
        QVERIFY2(situation->text().contains("não é um registro de transmissão do VEK ou está danificado"),
                 qPrintable(situation->text()));
        QTest::mouseClick(child<QPushButton>(&dialog, "visualizarButton"), Qt::LeftButton);
        const auto messages = sandbox_->ui().messages();
        QCOMPARE(messages.size(), std::size_t{2});
        QCOMPARE(messages[0].text, std::string(app::MsgRegistroSemRecibo));
        QCOMPARE(messages[0].kind, platform::MessageKind::Warning);
        QVERIFY(messages[1].text.find("estragado.xml") != std::string::npos);
        QCOMPARE(messages[1].kind, platform::MessageKind::Error);
        QVERIFY(dialog.findChild<ui::TqrpRecibo*>() == nullptr);
    }

    // A record kept elsewhere (moved out of Protocolos/) opens through "Outro registro...".
    void opensARecordFromElsewhere()
    {
        const fs::path elsewhere = sandbox_->base() / "enviados" / "r.xml";
        fs::create_directories(elsewhere.parent_path());
        test::writeFile(elsewhere, dataset::registroXml(record("2026000009", "guardado.xml")));
        ui::PreviousReceiptsDialog dialog;
        QCOMPARE(dialog.lista()->topLevelItemCount(), 0);
        QVERIFY(!child<QPushButton>(&dialog, "visualizarButton")->isEnabled());
        ui::FileDialog::instance().setTestAnswers({QString::fromStdString(elsewhere.string())});
        ui::TqrpRecibo::Valores shown;
        test::onNextModal(isPreview, [&](QWidget* w) {
            shown = dialog.findChild<ui::TqrpRecibo*>()->valores();
            w->close();
        });
        QTest::mouseClick(child<QPushButton>(&dialog, "outroRegistroButton"), Qt::LeftButton);
        QCOMPARE(shown.protocolo, QString("2026000009 - VEK-4.0.8"));
        QCOMPARE(ui::FileDialog::instance().filtersSeen(), QStringList{"Registros de transmissão (*.xml)"});
    }

    // The help's home page leads to the dialog.
    void helpLeadsToTheDialog()
    {
        ui::TfrmAjuda help;
        help.show();
        QVERIFY(help.navegador()->toHtml().contains("href=\"comando:recibos\""));
        bool opened = false;
        test::onNextModal(isDialog, [&](QWidget* w) {
            opened = true;
            w->close();
        });
        emit help.navegador()->anchorClicked(QUrl("comando:recibos"));
        QVERIFY(opened);
        QVERIFY(help.isVisible());
    }
};

VEK_UI_TEST(PreviousReceiptsTest);

#include "PreviousReceiptsTest.moc"
