#include "ui/TqrpRecibo.h"

#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/FileDialog.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScreen>
#include <QTextOption>
#include <QToolBar>

#include <algorithm>

namespace vek::ui {

namespace {

constexpr qreal MargemMm = 10.0;
constexpr qreal LarguraFaixaMm = 190.0;
const QColor Marinho(0x00, 0x00, 0x80);

constexpr const char* TextoTitulo = "Sistema de Envio Eletrônico de Arquivos";
constexpr const char* TextoAtencao =
    "ATENÇÃO: Em caso de arquivo com informações a serem incorporadas na base da ZEB, somente arquivos "
    "PROCESSADOS com sucesso serão considerados para cumprimento útil da obrigação de envio. Após o envio, é "
    "necessário acompanhar o status do processamento através do site.";

QFont fontePt(const QString& familia, qreal pontos, bool negrito = false, bool italico = false)
{
    QFont f(familia);
    f.setPointSizeF(pontos);
    f.setBold(negrito);
    f.setItalic(italico);
    return f;
}

void configurarPagina(QPageLayout& layout)
{
    layout.setPageSize(QPageSize(QPageSize::A4));
    layout.setOrientation(QPageLayout::Portrait);
    layout.setUnits(QPageLayout::Millimeter);
    layout.setMargins(QMarginsF(MargemMm, MargemMm, MargemMm, MargemMm));
}

// Between the main window and the preview.
constexpr int Espaco = 8;
// The preview's toolbar and a page that can be read.
const QSize TamanhoPrevia(960, 720);
constexpr int LarguraMinimaPrevia = 480;

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

void TqrpRecibo::desenhar(QPainter& p, qreal dpi) const
{
    const auto mm = [dpi](qreal v) { return v * dpi / 25.4; };
    const auto retangulo = [&mm](qreal x, qreal y, qreal w, qreal h) { return QRectF(mm(x), mm(y), mm(w), mm(h)); };

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    p.drawPixmap(retangulo(4.2, 4.2, 69.3, 16.9), pixmapLogoRecibo(), QRectF(pixmapLogoRecibo().rect()));

    p.setPen(Marinho);
    p.setFont(fontePt("Verdana", 14, true));
    p.drawText(retangulo(0.0, 31.8, 190.8, 7.0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip, TextoTitulo);

    const QPen traco(Qt::black, mm(0.3));
    p.setPen(traco);
    p.drawLine(QPointF(mm(1.1), mm(39.2)), QPointF(mm(1.1 + 189.7), mm(39.2)));

    // Values grow to the right up to the band's edge and wrap there.
    QTextOption quebra(Qt::AlignLeft | Qt::AlignTop);
    quebra.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const auto linha = [&](qreal y, qreal xValor, const char* legenda, const QString& valor, const QFont& fonte) {
        p.setFont(fonte);
        p.drawText(retangulo(4.2, y, xValor - 4.2, 6.0), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, legenda);
        p.drawText(retangulo(xValor, y, LarguraFaixaMm - xValor, 9.0), valor, quebra);
    };

    p.setPen(Marinho);
    linha(47.6, 50.8, "Protocolo de Transmissão:", valores_.protocolo, fontePt("Arial", 10, true));
    p.setPen(Qt::black);
    const QFont arial = fontePt("Arial", 10);
    linha(57.2, 42.3, "Registro da Operadora:", valores_.operadora, arial);
    linha(67.2, 31.8, "Arquivo Enviado:", valores_.arquivo, arial);
    linha(76.7, 49.7, "Data de Recebimento ZEB:", valores_.dataRecebimento, arial);
    linha(86.3, 26.5, "Endereço IP:", valores_.enderecoIP, arial);
    linha(94.7, 43.4, "Informações Adicionais:", valores_.informacoes, arial);

    QTextOption aviso(Qt::AlignLeft | Qt::AlignTop);
    aviso.setWrapMode(QTextOption::WordWrap);
    p.setFont(fontePt("Times New Roman", 9, false, true));
    p.drawText(retangulo(1.1, 106.9, 186.5, 10.8), TextoAtencao, aviso);

    p.setPen(traco);
    p.drawLine(QPointF(0.0, mm(116.4)), QPointF(mm(189.7), mm(116.4)));

    p.setPen(Qt::black);
    p.setFont(fontePt("Courier New", 8));
    p.drawText(
        retangulo(0.0, 120.7, 188.6, 5.0), Qt::AlignRight | Qt::AlignTop | Qt::TextDontClip, valores_.autenticacao);
    p.restore();
}

bool TqrpRecibo::salvarPdf(const QString& caminho) const
{
    QPdfWriter pdf(caminho);
    QPageLayout layout = pdf.pageLayout();
    configurarPagina(layout);
    pdf.setPageLayout(layout);
    pdf.setTitle("Recibo de transmissão VEK");
    pdf.setCreator("VEK");
    QPainter painter;
    if (!painter.begin(&pdf)) {
        return false;
    }
    desenhar(painter, pdf.resolution());
    return painter.end() && QFileInfo(caminho).size() > 0;
}

void TqrpRecibo::visualizar()
{
    QPrinter impressora(QPrinter::HighResolution);
    QPageLayout layout = impressora.pageLayout();
    configurarPagina(layout);
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
        const QRect area = tela != nullptr ? tela->availableGeometry() : moldura;
        const QSize tamanhoMoldura = TamanhoPrevia.grownBy(bordas);
        previa.setGeometry(geometriaAoLado(moldura, area, tamanhoMoldura, LarguraMinimaPrevia).marginsRemoved(bordas));
    }
    connect(&previa, &QPrintPreviewDialog::paintRequested, &previa, [this](QPrinter* destino) {
        QPainter painter(destino);
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
            QString caminho = FileDialog::instance().getSaveFileName(
                &previa, "Salvar como PDF", "Recibo-" + valores_.protocolo.section(' ', 0, 0) + ".pdf", "PDF (*.pdf)");
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
            platform::ui().showMessage("O recibo foi salvo em \"" +
                                           QFileInfo(caminho).absoluteFilePath().toStdString() + "\".",
                                       platform::MessageKind::Information);
        });
    }
    previa.exec();
}

}  // namespace vek::ui
