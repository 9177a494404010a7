// The window at a larger scale (run with QT_SCALE_FACTOR 1.5 and 2): every
// page, state and dialog keeps each text whole, and a screenshot of each
// goes to the build's screenshots folder.
#include "server/Store.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/UiTests.h"
#include "ui/PreviousReceiptsDialog.h"
#include "ui/TfrmAjuda.h"
#include "ui/TfrmPrincipal.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>

using namespace vek;
using vek::test::child;

class LargeTextTest : public test::WindowTestCase
{
    Q_OBJECT

private:
    QString prefixo_;

    void save(QWidget* w, const QString& nome)
    {
        const QStringList cortados = test::textsThatDoNotFit(w);
        QVERIFY2(cortados.isEmpty(), qPrintable(nome + ":\n" + cortados.join('\n')));
        const QPixmap imagem = w->grab();
        // Drawn at the scale, not enlarged afterwards.
        QCOMPARE(imagem.width(), qRound(w->width() * qApp->devicePixelRatio()));
        const QString caminho = test::screenshotPath(prefixo_ + nome + ".png");
        QVERIFY2(imagem.save(caminho), qPrintable(caminho));
    }

private slots:
    void init()
    {
        setUp(WithZebd::Yes);
        zebd_->server().store().setTiposEnvio("XYZ#Arquivo de Teste|ABC#Outro tipo");
        test::pointClientAt(sandbox_->base(), zebd_->port(), zebd_->ftpPort());
        prefixo_ = QString("escala-%1x-").arg(qApp->devicePixelRatio()).replace('.', ',');
    }

    void cleanup() { tearDown(); }

    void everyPageKeepsItsTextsWhole()
    {
        const qreal escala = qApp->devicePixelRatio();
        QVERIFY2(escala > 1, "run with QT_SCALE_FACTOR above 1");
        openWindow();
        save(window_.get(), "01-acesso");
        logIn("demo");
        QCOMPARE(window_->paginaAtual(), ui::pgEnviar);
        auto* tipos = child<QComboBox>(window_.get(), "cbxTpoArqEnviar");
        tipos->setCurrentIndex(0);
        const auto arquivo = sandbox_->base() / "arquivos" / "lote.xyz";
        std::filesystem::create_directories(arquivo.parent_path());
        test::writeFile(arquivo, "primeiro lote");
        child<QLineEdit>(window_.get(), "txtArqEnviado")->setText(QString::fromStdString(arquivo.string()));
        save(window_.get(), "02-enviar-escolhendo");
        QTest::mouseClick(window_->botao(ui::Botao::Concluir), Qt::LeftButton);
        QVERIFY2(sandbox_->ui().messages().empty(), qPrintable(sandbox_->messageTexts().join('\n')));
        save(window_.get(), "03-enviar-enviado");

        window_->irPara(ui::pgReceber);
        save(window_.get(), "04-receber");
        window_->carregarLista(test::testData("dataset/lista.xml").string());
        window_->irPara(ui::pgCopiarArq);
        save(window_.get(), "05-lista-arquivos");
        window_->irPara(ui::pgPeriodoConsultaHist);
        save(window_.get(), "06-periodo-historico");
        window_->carregarHistorico(test::testData("dataset/historico.xml").string());
        window_->irPara(ui::pgHistoricoTransmissoes);
        save(window_.get(), "07-historico");
        window_->irPara(ui::pgAlteraSenha);
        save(window_.get(), "08-alterar-senha");

        ui::TfrmAjuda ajuda(window_.get(), {"zeb.example", 80, 21, 20001});
        ajuda.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ajuda));
        for (const char* pagina : {"inicio", "envio", "recebimento", "perguntas"}) {
            ajuda.mostrarPagina(pagina);
            ajuda.diagrama()->setProgresso(1);
            save(&ajuda, QString("09-ajuda-%1").arg(pagina));
        }
        ajuda.close();

        ui::PreviousReceiptsDialog recibos(window_.get());
        recibos.show();
        QVERIFY(QTest::qWaitForWindowExposed(&recibos));
        save(&recibos, "10-recibos-anteriores");
    }
};

VEK_UI_TEST(LargeTextTest);

#include "LargeTextTest.moc"
