#include "report/Recibo.h"

#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextOption>

// Resources of a static library are registered by name, outside any namespace.
static void initReportResources()
{
    Q_INIT_RESOURCE(report);
}

namespace vek::report {

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

const QImage& logo()
{
    static const QImage imagem = [] {
        initReportResources();
        return QImage(":/vek/logo-recibo.png");
    }();
    return imagem;
}

char NomePrograma[] = "vek";
char OpcaoPlataforma[] = "-platform";
char Offscreen[] = "offscreen";

QtMessageHandler handlerAnterior = nullptr;

// Qt's own notes (a missing runtime directory, a font looked up) are no
// output of a program without a window; only its critical errors go on.
void soErrosGraves(QtMsgType tipo, const QMessageLogContext& contexto, const QString& texto)
{
    if ((tipo == QtCriticalMsg || tipo == QtFatalMsg) && handlerAnterior != nullptr) {
        handlerAnterior(tipo, contexto, texto);
    }
}

}  // namespace

void instalarSubstituicoesDeFontes()
{
    QFont::insertSubstitution("Verdana", "DejaVu Sans");
    QFont::insertSubstitution("Tahoma", "DejaVu Sans");
    QFont::insertSubstitution("Arial", "Liberation Sans");
    QFont::insertSubstitution("Times New Roman", "Liberation Serif");
    QFont::insertSubstitution("Courier New", "Liberation Mono");
}

void configurarPagina(QPageLayout& layout)
{
    layout.setPageSize(QPageSize(QPageSize::A4));
    layout.setOrientation(QPageLayout::Portrait);
    layout.setUnits(QPageLayout::Millimeter);
    layout.setMargins(QMarginsF(MargemMm, MargemMm, MargemMm, MargemMm));
}

void desenharRecibo(QPainter& p, qreal dpi, const app::ValoresRecibo& valores)
{
    instalarSubstituicoesDeFontes();
    const auto mm = [dpi](qreal v) { return v * dpi / 25.4; };
    const auto retangulo = [&mm](qreal x, qreal y, qreal w, qreal h) { return QRectF(mm(x), mm(y), mm(w), mm(h)); };
    const auto texto = [](const std::string& s) { return QString::fromStdString(s); };

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    p.drawImage(retangulo(4.2, 4.2, 69.3, 16.9), logo(), QRectF(logo().rect()));

    p.setPen(Marinho);
    p.setFont(fontePt("Verdana", 14, true));
    p.drawText(retangulo(0.0, 31.8, 190.8, 7.0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip, TextoTitulo);

    const QPen traco(Qt::black, mm(0.3));
    p.setPen(traco);
    p.drawLine(QPointF(mm(1.1), mm(39.2)), QPointF(mm(1.1 + 189.7), mm(39.2)));

    // Values grow to the right up to the band's edge and wrap there.
    QTextOption quebra(Qt::AlignLeft | Qt::AlignTop);
    quebra.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const auto linha = [&](qreal y, qreal xValor, const char* legenda, const std::string& valor, const QFont& fonte) {
        p.setFont(fonte);
        p.drawText(retangulo(4.2, y, xValor - 4.2, 6.0), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, legenda);
        p.drawText(retangulo(xValor, y, LarguraFaixaMm - xValor, 9.0), texto(valor), quebra);
    };

    p.setPen(Marinho);
    linha(47.6, 50.8, "Protocolo de Transmissão:", valores.protocolo, fontePt("Arial", 10, true));
    p.setPen(Qt::black);
    const QFont arial = fontePt("Arial", 10);
    linha(57.2, 42.3, "Registro da Operadora:", valores.operadora, arial);
    linha(67.2, 31.8, "Arquivo Enviado:", valores.arquivo, arial);
    linha(76.7, 49.7, "Data de Recebimento ZEB:", valores.dataRecebimento, arial);
    linha(86.3, 26.5, "Endereço IP:", valores.enderecoIP, arial);
    linha(94.7, 43.4, "Informações Adicionais:", valores.informacoes, arial);

    QTextOption aviso(Qt::AlignLeft | Qt::AlignTop);
    aviso.setWrapMode(QTextOption::WordWrap);
    p.setFont(fontePt("Times New Roman", 9, false, true));
    p.drawText(retangulo(1.1, 106.9, 186.5, 10.8), TextoAtencao, aviso);

    p.setPen(traco);
    p.drawLine(QPointF(0.0, mm(116.4)), QPointF(mm(189.7), mm(116.4)));

    p.setPen(Qt::black);
    p.setFont(fontePt("Courier New", 8));
    p.drawText(retangulo(0.0, 120.7, 188.6, 5.0),
               Qt::AlignRight | Qt::AlignTop | Qt::TextDontClip,
               texto(valores.autenticacao));
    p.restore();
}

bool salvarReciboPdf(const QString& caminho, const app::ValoresRecibo& valores)
{
    // The whole document first, then the file in one step: a failure leaves
    // no half-written PDF, and an existing file stays as it was.
    QBuffer documento;
    if (!documento.open(QIODevice::WriteOnly)) {
        return false;
    }
    {
        QPdfWriter pdf(&documento);
        QPageLayout layout = pdf.pageLayout();
        configurarPagina(layout);
        pdf.setPageLayout(layout);
        pdf.setTitle("Recibo de transmissão VEK");
        pdf.setCreator("VEK");
        QPainter painter;
        if (!painter.begin(&pdf)) {
            return false;
        }
        desenharRecibo(painter, pdf.resolution(), valores);
        if (!painter.end()) {
            return false;
        }
    }
    QSaveFile arquivo(caminho);
    return !documento.data().isEmpty() && arquivo.open(QIODevice::WriteOnly) &&
           arquivo.write(documento.data()) == documento.data().size() && arquivo.commit();
}

AplicacaoSemJanela::AplicacaoSemJanela()
{
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    argv_[0] = NomePrograma;
    argv_[1] = OpcaoPlataforma;
    argv_[2] = Offscreen;
    handlerAnterior = qInstallMessageHandler(soErrosGraves);
    app_ = std::make_unique<QGuiApplication>(argc_, argv_);
}

AplicacaoSemJanela::~AplicacaoSemJanela()
{
    if (app_) {
        app_.reset();
        qInstallMessageHandler(handlerAnterior);
    }
}

}  // namespace vek::report
