#include "ui/TqrpRecibo.h"

#include "platform/UiServices.h"
#include "report/Recibo.h"
#include "ui/FileDialog.h"
#include "ui/PastasLembradas.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>
#include <QToolBar>

#include <algorithm>

namespace vek::ui {

namespace {

// Between the main window and the preview.
constexpr int Espaco = 8;
// The preview's toolbar and a page that can be read.
const QSize TamanhoPrevia(960, 720);

void informarOndeFoiSalvo(const QString& caminho)
{
    platform::ui().showMessage("O recibo foi salvo em \"" + QFileInfo(caminho).absoluteFilePath().toStdString() + "\".",
                               platform::MessageKind::Information);
}

}  // namespace

QRect geometriaAoLado(const QRect& janela, const QRect& area, const QSize& tamanho, int larguraMinima)
{
    const int direita = area.right() - janela.right() - Espaco;
    const int esquerda = janela.left() - area.left() - Espaco;
    const bool aDireita = direita >= tamanho.width() || direita >= esquerda;
    const int espaco = aDireita ? direita : esquerda;
    const int largura = std::min({tamanho.width(), std::max(espaco, larguraMinima), area.width()});
    const int altura = std::min(tamanho.height(), area.height());
    int x = aDireita ? janela.right() + 1 + Espaco : janela.left() - Espaco - largura;
    x = std::clamp(x, area.left(), area.right() + 1 - largura);
    const int y = std::clamp(janela.top(), area.top(), area.bottom() + 1 - altura);
    return {x, y, largura, altura};
}

TqrpRecibo::TqrpRecibo(QWidget* dono)
    : QObject(dono)
    , dono_(dono)
{}

void TqrpRecibo::definirValores(const Valores& valores)
{
    valores_ = valores;
    valores_.arquivo = QFileInfo(valores.arquivo).fileName();
}

void TqrpRecibo::preencher(const QString& protocolo,
                           const QString& operadora,
                           const QString& arquivo,
                           const QString& dataRecebimento,
                           const QString& informacoes,
                           const QString& enderecoIP,
                           const QString& autenticacao)
{
    definirValores({protocolo, operadora, arquivo, dataRecebimento, informacoes, enderecoIP, autenticacao});
    visualizar();
}

TqrpRecibo::Valores TqrpRecibo::valoresDe(const app::ValoresRecibo& v)
{
    const auto q = [](const std::string& s) { return QString::fromStdString(s); };
    return {q(v.protocolo),
            q(v.operadora),
            q(v.arquivo),
            q(v.dataRecebimento),
            q(v.informacoes),
            q(v.enderecoIP),
            q(v.autenticacao)};
}

app::ValoresRecibo TqrpRecibo::valoresDoRecibo() const
{
    return {valores_.protocolo.toStdString(),
            valores_.operadora.toStdString(),
            valores_.arquivo.toStdString(),
            valores_.dataRecebimento.toStdString(),
            valores_.informacoes.toStdString(),
            valores_.enderecoIP.toStdString(),
            valores_.autenticacao.toStdString()};
}

void TqrpRecibo::desenhar(QPainter& p, qreal dpi) const
{
    report::desenharRecibo(p, dpi, valoresDoRecibo());
}

bool TqrpRecibo::salvarPdf(const QString& caminho) const
{
    return report::salvarReciboPdf(caminho, valoresDoRecibo());
}

void TqrpRecibo::visualizar()
{
    QPrinter impressora(QPrinter::HighResolution);
    QPageLayout layout = impressora.pageLayout();
    report::configurarPagina(layout);
    impressora.setPageLayout(layout);
    impressora.setCopyCount(1);
    impressora.setDocName("Recibo de transmissão VEK");

    QPrintPreviewDialog previa(&impressora, dono_);
    previa.setObjectName("previaRecibo");
    previa.setWindowTitle("Recibo de transmissão");
    previa.resize(TamanhoPrevia);
    if (dono_ != nullptr) {
        // Beside the main window, not over it. The preview's frame is taken
        // to be as thick as the main window's.
        const QWidget* janela = dono_->window();
        const QRect moldura = janela->frameGeometry();
        const QRect cliente = janela->geometry();
        const QMargins bordas(cliente.left() - moldura.left(),
                              cliente.top() - moldura.top(),
                              moldura.right() - cliente.right(),
                              moldura.bottom() - cliente.bottom());
        const QScreen* tela = janela->screen() != nullptr ? janela->screen() : QGuiApplication::primaryScreen();
        const QRect area = areaDaTela_ ? *areaDaTela_ : tela != nullptr ? tela->availableGeometry() : moldura;
        const QSize tamanhoMoldura = TamanhoPrevia.grownBy(bordas);
        previa.setGeometry(geometriaAoLado(moldura, area, tamanhoMoldura, LarguraMinimaPrevia).marginsRemoved(bordas));
    }
    // However narrow it had to be, the whole page is in sight.
    previa.setMinimumSize(1, 1);
    if (auto* inteira = previa.findChild<QAction*>("fitPageAction")) {
        inteira->trigger();
    } else if (auto* folha = previa.findChild<QPrintPreviewWidget*>()) {
        folha->fitInView();
    }
    connect(&previa, &QPrintPreviewDialog::paintRequested, &previa, [this](QPrinter* destino) {
        QPainter painter(destino);
        if (!painter.isActive()) {
            return;  // a file that cannot be written: said once the dialog closes
        }
        desenhar(painter, destino->resolution());
    });
    if (auto* barra = previa.findChild<QToolBar*>()) {
        // Printing and saving first in the bar, so that a narrow preview
        // (beside the main window on a small screen) never hides them.
        auto* salvar = new QAction("Salvar como PDF", barra);
        QAction* primeira = barra->actions().isEmpty() ? nullptr : barra->actions().first();
        const QString textoImprimir = QCoreApplication::translate("QPrintPreviewDialog", "Print");
        for (QAction* acao : barra->actions()) {
            if (acao->text() == textoImprimir) {
                acao->setObjectName("imprimirAction");
                barra->insertAction(primeira, acao);
                break;
            }
        }
        barra->insertAction(primeira, salvar);
        barra->insertSeparator(primeira);
        salvar->setObjectName("salvarPdfAction");
        connect(salvar, &QAction::triggered, &previa, [this, &previa] {
            const QString nome =
                QString::fromStdString(app::nomeArquivoRecibo(valores_.protocolo.section(' ', 0, 0).toStdString()));
            QString caminho = FileDialog::instance().getSaveFileName(
                &previa,
                "Salvar como PDF",
                QDir(pastaLembrada(pastas::SalvarReciboPdf, QDir::homePath())).filePath(nome),
                "PDF (*.pdf)");
            if (caminho.isEmpty()) {
                return;
            }
            if (!caminho.endsWith(".pdf", Qt::CaseInsensitive)) {
                caminho += ".pdf";
            }
            if (!salvarPdf(caminho)) {
                platform::ui().showMessage("Não foi possível gravar o arquivo \"" + caminho.toStdString() + "\".",
                                           platform::MessageKind::Error);
                return;
            }
            lembrarPasta(pastas::SalvarReciboPdf, caminho);
            informarOndeFoiSalvo(caminho);
        });
    }
    // Printed to a file ("Imprimir em arquivo (PDF)" in the print dialog):
    // said as a saved PDF is, since no paper tells where it went.
    if (previa.exec() == QDialog::Accepted) {
        informarSeImpressoEmArquivo(impressora);
    }
}

void TqrpRecibo::informarSeImpressoEmArquivo(const QPrinter& impressora)
{
    const QString arquivo = impressora.outputFileName();
    if (arquivo.isEmpty()) {
        return;
    }
    if (!QFileInfo(arquivo).isFile()) {
        platform::ui().showMessage("Não foi possível gravar o arquivo \"" + arquivo.toStdString() + "\".",
                                   platform::MessageKind::Error);
        return;
    }
    informarOndeFoiSalvo(arquivo);
}

}  // namespace vek::ui
