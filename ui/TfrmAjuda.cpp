#include "ui/TfrmAjuda.h"

#include "ui/Appearance.h"
#include "ui/PreviousReceiptsDialog.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVariantAnimation>

#include <cmath>
#include <utility>

namespace vek::ui {

namespace {

constexpr int AlturaCabecalho = 48;
constexpr int AlturaDiagrama = 150;
constexpr int DuracaoAnimacaoMs = 3200;

const QColor Claro(0xE6, 0xEF, 0xD9);

struct Pagina
{
    const char* nome;
    const char* titulo;
};

constexpr Pagina Paginas[] = {
    {"inicio", "Ajuda do VEK"},
    {"envio", "Enviar arquivos"},
    {"recebimento", "Receber arquivos"},
    {"perguntas", "Perguntas frequentes"},
};

const char* tituloDa(const QString& nome)
{
    for (const Pagina& p : Paginas) {
        if (nome == p.nome) {
            return p.titulo;
        }
    }
    return nullptr;
}

const QString Estilo = "h2 { color: #00646E; font-size: 17px; margin-bottom: 6px; }"
                       "h3 { color: #00646E; font-size: 13px; margin-top: 10px; margin-bottom: 2px; }"
                       "a { color: #00646E; font-weight: bold; }"
                       "td.cartao { background-color: #E6EFD9; padding: 8px; }"
                       "p.rodape { color: #666666; }";

// The operator's computer: a monitor on its stand.
void desenharComputador(QPainter& p, const QPointF& centro)
{
    p.save();
    p.translate(centro);
    p.setPen(QPen(cor::Titulo, 2));
    p.setBrush(cor::Coluna);
    p.drawRoundedRect(QRectF(-24, -22, 48, 32), 3, 3);
    p.setBrush(cor::Titulo);
    p.drawRect(QRectF(-4, 10, 8, 7));
    p.drawRoundedRect(QRectF(-15, 17, 30, 4), 2, 2);
    p.restore();
}

// The operator's router or firewall: a short brick wall.
void desenharFirewall(QPainter& p, const QPointF& centro)
{
    p.save();
    p.translate(centro);
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(cor::Faixa);
    for (int linha = 0; linha < 4; ++linha) {
        const qreal y = -20 + linha * 10;
        const qreal desloc = (linha % 2) * 8;
        for (qreal x = -22 + desloc - 8; x < 22; x += 16) {
            const QRectF tijolo = QRectF(x, y, 16, 10).intersected(QRectF(-22, -20, 44, 40));
            if (!tijolo.isEmpty()) {
                p.drawRect(tijolo);
            }
        }
    }
    p.restore();
}

void desenharNuvem(QPainter& p, const QPointF& centro)
{
    p.save();
    p.translate(centro);
    QPainterPath nuvem;
    nuvem.addEllipse(QRectF(-42, -8, 40, 28));
    nuvem.addEllipse(QRectF(-22, -24, 44, 40));
    nuvem.addEllipse(QRectF(4, -14, 38, 32));
    nuvem.addRoundedRect(QRectF(-36, 2, 72, 18), 9, 9);
    p.setPen(QPen(cor::Titulo.lighter(160), 1.5));
    p.setBrush(Qt::white);
    p.drawPath(nuvem.simplified());
    p.restore();
}

// The agency's server: a tower with drive bays and the program's colours.
void desenharServidor(QPainter& p, const QPointF& centro)
{
    p.save();
    p.translate(centro);
    p.setPen(Qt::NoPen);
    p.setBrush(cor::Titulo);
    p.drawRoundedRect(QRectF(-18, -26, 36, 52), 4, 4);
    p.setBrush(cor::Coluna);
    for (int i = 0; i < 3; ++i) {
        p.drawRoundedRect(QRectF(-12, -20 + i * 11, 24, 6), 2, 2);
    }
    p.setBrush(cor::Faixa);
    p.drawEllipse(QPointF(0, 18), 3, 3);
    p.restore();
}

// A packet on its way: a small sheet with the program's arrow.
void desenharPacote(QPainter& p, const QPointF& centro, bool paraDireita)
{
    p.save();
    p.translate(centro);
    p.setPen(QPen(cor::Titulo, 1.2));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(-9, -11, 18, 22), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(cor::Faixa);
    QPainterPath seta;
    const qreal s = paraDireita ? 1 : -1;
    seta.moveTo(6 * s, 0);
    seta.lineTo(0, -5);
    seta.lineTo(0, -2);
    seta.lineTo(-5 * s, -2);
    seta.lineTo(-5 * s, 2);
    seta.lineTo(0, 2);
    seta.lineTo(0, 5);
    seta.closeSubpath();
    p.drawPath(seta);
    p.restore();
}

// A connection from `de` to `para` with its caption above it; the arrow head
// marks the side that opens it.
void desenharConexao(QPainter& p, const QPointF& de, const QPointF& para, const QString& legenda)
{
    p.save();
    p.setPen(QPen(cor::Titulo, 2, Qt::DashLine));
    p.drawLine(de, para);
    const qreal s = para.x() > de.x() ? 1 : -1;
    QPainterPath ponta;
    ponta.moveTo(para);
    ponta.lineTo(para + QPointF(-9 * s, -5));
    ponta.lineTo(para + QPointF(-9 * s, 5));
    ponta.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(cor::Titulo);
    p.drawPath(ponta);
    p.setPen(cor::Titulo);
    p.setFont(fontePx("Verdana", 11, true));
    const QRectF caixa(std::min(de.x(), para.x()), de.y() - 20, std::abs(para.x() - de.x()), 16);
    p.drawText(caixa, Qt::AlignCenter, legenda);
    p.restore();
}

}  // namespace

DiagramaConexao::DiagramaConexao(QWidget* parent, const EnderecoServidor& endereco)
    : QWidget(parent)
    , endereco_(endereco)
{
    setObjectName("diagramaConexao");
    animacao_ = new QVariantAnimation(this);
    animacao_->setStartValue(0.0);
    animacao_->setEndValue(1.0);
    animacao_->setDuration(DuracaoAnimacaoMs);
    connect(animacao_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        progresso_ = v.toReal();
        update();
    });
}

void DiagramaConexao::mostrar(Tipo tipo)
{
    tipo_ = tipo;
    repetir();
}

void DiagramaConexao::repetir()
{
    animacao_->stop();
    progresso_ = 0;
    animacao_->start();
    update();
}

void DiagramaConexao::setProgresso(qreal progresso)
{
    animacao_->stop();
    progresso_ = std::clamp<qreal>(progresso, 0, 1);
    update();
}

bool DiagramaConexao::animando() const
{
    return animacao_->state() == QAbstractAnimation::Running;
}

void DiagramaConexao::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Claro);

    const QPointF computador(64, 100);
    const QPointF firewall(190, 100);
    const QPointF nuvem(370, 100);
    const QPointF servidor(612, 96);

    // The operator's network around its computer and its router.
    p.setPen(QPen(cor::Faixa, 1.5, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(12, 22, 232, 124), 10, 10);
    p.setPen(cor::Faixa.darker(130));
    p.setFont(fontePx("Verdana", 11, true));
    p.drawText(QRectF(12, 6, 232, 16), Qt::AlignCenter, "Rede da operadora");

    desenharComputador(p, computador);
    desenharFirewall(p, firewall);
    desenharNuvem(p, nuvem);
    desenharServidor(p, servidor);

    p.setPen(QColor(0x33, 0x33, 0x33));
    p.setFont(fontePx("Verdana", 11));
    p.drawText(QRectF(computador.x() - 50, 126, 100, 16), Qt::AlignCenter, "Computador");
    p.drawText(QRectF(firewall.x() - 60, 126, 120, 16), Qt::AlignCenter, "Roteador/firewall");
    p.drawText(QRectF(nuvem.x() - 50, 126, 100, 16), Qt::AlignCenter, "Internet");
    p.drawText(QRectF(servidor.x() - 75, 122, 150, 14), Qt::AlignCenter, "Servidor da ZEB");
    p.drawText(QRectF(servidor.x() - 75, 135, 150, 14), Qt::AlignCenter, endereco_.servidor);

    const qreal inicio = computador.x() + 30;
    const qreal fim = servidor.x() - 26;
    auto ao = [](qreal a, qreal b, qreal t) { return a + (b - a) * t; };
    if (tipo_ == Tipo::Envio) {
        const qreal y = 58;
        desenharConexao(
            p, QPointF(inicio, y), QPointF(fim, y), QString("saída TCP para a porta %1").arg(endereco_.porta));
        if (progresso_ < 1) {
            desenharPacote(p, QPointF(ao(inicio, fim, progresso_), y), true);
        }
        return;
    }
    // Receiving: the request goes out to the FTP port, then the server
    // connects back to the data port with the file.
    const qreal ySaida = 44;
    const qreal yEntrada = 72;
    desenharConexao(p,
                    QPointF(inicio, ySaida),
                    QPointF(fim, ySaida),
                    QString("saída TCP para a porta %1 (FTP)").arg(endereco_.portaFtp));
    desenharConexao(p,
                    QPointF(fim, yEntrada),
                    QPointF(inicio, yEntrada),
                    QString("entrada TCP na porta %1 (dados)").arg(endereco_.portaDados));
    if (progresso_ < 0.5) {
        desenharPacote(p, QPointF(ao(inicio, fim, progresso_ * 2), ySaida), true);
    } else if (progresso_ < 1) {
        desenharPacote(p, QPointF(ao(fim, inicio, progresso_ * 2 - 1), yEntrada), false);
    }
}

void TfrmAjuda::showEvent(QShowEvent* event)
{
    // The window system would centre the dialog on its own guess of the
    // frames, which leaves the main window's button bar showing below it.
    if (parentWidget() != nullptr) {
        const QWidget* janela = parentWidget()->window();
        setGeometry(QRect(janela->mapToGlobal(QPoint(0, 0)), size()));
    }
    QDialog::showEvent(event);
}

TfrmAjuda::TfrmAjuda(QWidget* parent, EnderecoServidor endereco)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowCloseButtonHint)
    , endereco_(std::move(endereco))
{
    setObjectName("TfrmAjuda");
    setWindowTitle("Ajuda");
    setFixedSize(691, 493);
    setModal(true);

    QWidget* cabecalho = criarPainel(this, QRect(0, 0, 691, AlturaCabecalho), cor::Titulo);
    cabecalho->setObjectName("cabecalhoAjuda");
    auto* marca = new QLabel(cabecalho);
    marca->setGeometry(10, 8, 32, 32);
    marca->setPixmap(pixmapIconePrograma().scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    titulo_ = new QLabel(cabecalho);
    titulo_->setObjectName("lblTituloAjuda");
    titulo_->setGeometry(52, 0, 300, AlturaCabecalho);
    titulo_->setFont(fontePx("Verdana", 15, true));
    definirCorTexto(titulo_, Qt::white);
    criarPainel(this, QRect(0, AlturaCabecalho, 691, 4), cor::Faixa);

    struct Botao
    {
        const char* nome;
        const char* legenda;
        void (TfrmAjuda::*acao)();
    };
    const Botao botoes[] = {
        {"inicioAjudaButton", "&Início", nullptr},
        {"voltarAjudaButton", "&Voltar", &TfrmAjuda::voltar},
        {"repetirAjudaButton", "&Repetir", &TfrmAjuda::repetir},
        {"sairAjudaButton", "&Sair", nullptr},
    };
    int x = 691 - 8 - 4 * 75 - 3 * 4;
    for (const Botao& b : botoes) {
        auto* botao = new QPushButton(b.legenda, cabecalho);
        botao->setObjectName(b.nome);
        botao->setGeometry(x, 12, 75, 25);
        botao->setFont(fontePx("Arial", 12));
        botao->setAutoDefault(false);
        x += 75 + 4;
        if (b.acao != nullptr) {
            connect(botao, &QPushButton::clicked, this, b.acao);
        }
    }
    connect(
        findChild<QPushButton*>("inicioAjudaButton"), &QPushButton::clicked, this, [this] { mostrarPagina("inicio"); });
    connect(
        findChild<QPushButton*>("sairAjudaButton"), &QPushButton::clicked, this, [this] { executarComando("sair"); });

    diagrama_ = new DiagramaConexao(this, endereco_);
    diagrama_->setGeometry(0, AlturaCabecalho + 4, 691, AlturaDiagrama);
    diagrama_->hide();

    navegador_ = new QTextBrowser(this);
    navegador_->setObjectName("ajudaBrowser");
    navegador_->setOpenLinks(false);
    navegador_->setFrameShape(QFrame::NoFrame);
    navegador_->document()->setDefaultStyleSheet(Estilo);
    navegador_->document()->setDocumentMargin(14);
    navegador_->setFont(fontePx("Verdana", 12));
    connect(navegador_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) { abrirLink(url); });

    exibir("inicio");
}

void TfrmAjuda::abrirLink(const QUrl& url)
{
    if (url.scheme() == "comando") {
        executarComando(url.path());
    } else if (url.scheme() == "pagina") {
        mostrarPagina(url.path());
    }
}

void TfrmAjuda::executarComando(const QString& comando, const QString&)
{
    if (comando == "sair") {
        accept();
    } else if (comando == "recibos") {
        PreviousReceiptsDialog dialogo(this);
        dialogo.exec();
    }
}

void TfrmAjuda::mostrarPagina(const QString& nome)
{
    if (tituloDa(nome) == nullptr || nome == pagina_) {
        return;
    }
    anteriores_.append(pagina_);
    exibir(nome);
}

void TfrmAjuda::voltar()
{
    if (!anteriores_.isEmpty()) {
        exibir(anteriores_.takeLast());
    }
}

void TfrmAjuda::repetir()
{
    exibir(pagina_);
}

void TfrmAjuda::exibir(const QString& nome)
{
    pagina_ = nome;
    titulo_->setText(tituloDa(nome));

    QFile arquivo(":/vek/ajuda/" + nome + ".html");
    QString html = arquivo.open(QIODevice::ReadOnly) ? QString::fromUtf8(arquivo.readAll()) : QString();
    html.replace("{servidor}", endereco_.servidor.toHtmlEscaped())
        .replace("{portaFtp}", QString::number(endereco_.portaFtp))
        .replace("{portaDados}", QString::number(endereco_.portaDados))
        .replace("{porta}", QString::number(endereco_.porta));
    navegador_->setHtml(html);

    const bool comDiagrama = nome == "envio" || nome == "recebimento";
    const int topo = AlturaCabecalho + 4 + (comDiagrama ? AlturaDiagrama : 0);
    navegador_->setGeometry(0, topo, 691, 493 - topo);
    diagrama_->setVisible(comDiagrama);
    if (comDiagrama) {
        diagrama_->mostrar(nome == "envio" ? DiagramaConexao::Tipo::Envio : DiagramaConexao::Tipo::Recebimento);
    }
}

}  // namespace vek::ui
