#include "ui/Appearance.h"

#include "app/Text.h"
#include "report/Recibo.h"
#include "ui/Accessibility.h"
#include "ui/QtTranslations.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QStyleFactory>
#include <QTranslator>

// Resources of a static library are registered by name, outside any namespace.
static void initVekResources()
{
    Q_INIT_RESOURCE(vek);
}

namespace vek::ui {

void configurarAplicacao(QApplication& app)
{
    initVekResources();
    report::instalarSubstituicoesDeFontes();
    // Only once per application, however often this runs.
    if (app.findChildren<QTranslator*>().isEmpty()) {
        instalarTraducoesQt(&app);
    }
    QApplication::setApplicationName("VEK");
    QApplication::setOrganizationName("ZEB");
    if (QStyle* style = QStyleFactory::create("Fusion")) {
        QApplication::setStyle(style);
    }
    app.setFont(fontePx("Verdana", 12));
    QApplication::setWindowIcon(QIcon(pixmapIconePrograma()));
    acessibilidade::instalar(app);
}

QFont fontePx(const QString& familia, int pixels, bool negrito)
{
    QFont f(familia);
    f.setPixelSize(pixels);
    f.setBold(negrito);
    return f;
}

QPixmap pixmapIcone(Icone icone)
{
    switch (icone) {
    case Icone::Vazio:
        return QPixmap(":/vek/status-vazio.png");
    case Icone::Processando:
        return QPixmap(":/vek/status-processando.png");
    case Icone::Feito:
        return QPixmap(":/vek/status-feito.png");
    case Icone::Erro:
        return QPixmap(":/vek/status-erro.png");
    }
    return {};
}

QPixmap pixmapTitulo()
{
    return QPixmap(":/vek/titulo.png");
}

QPixmap pixmapLinha()
{
    return QPixmap(":/vek/linha.png");
}

QPixmap pixmapMarcaDagua()
{
    return QPixmap(":/vek/marca-dagua.png");
}

QPixmap pixmapIconePrograma()
{
    return QPixmap(":/vek/icone.png");
}

QWidget* criarPainel(QWidget* parent, const QRect& geometria, const QColor& fundo)
{
    auto* painel = new QWidget(parent);
    painel->setGeometry(geometria);
    painel->setAutoFillBackground(true);
    QPalette pal = painel->palette();
    pal.setColor(QPalette::Window, fundo);
    painel->setPalette(pal);
    return painel;
}

QLabel* criarRotulo(QWidget* parent, const QString& texto, const QPoint& posicao, const QFont& fonte)
{
    auto* rotulo = new QLabel(texto, parent);
    if (fonte != QFont()) {
        rotulo->setFont(fonte);
    }
    rotulo->adjustSize();
    rotulo->move(posicao);
    return rotulo;
}

QLabel* criarPainelInformacao(QWidget* parent, const char* nome, const QRect& geometria)
{
    auto* painel = new QLabel(parent);
    painel->setObjectName(nome);
    painel->setGeometry(geometria);
    painel->setAutoFillBackground(true);
    QPalette pal = painel->palette();
    pal.setColor(QPalette::Window, cor::Informacao);
    pal.setColor(QPalette::WindowText, Qt::black);
    painel->setPalette(pal);
    painel->setWordWrap(true);
    painel->setAlignment(Qt::AlignCenter);
    painel->setTextFormat(Qt::PlainText);
    painel->hide();
    return painel;
}

void definirCorTexto(QWidget* widget, const QColor& cor)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, cor);
    pal.setColor(QPalette::Text, cor);
    widget->setPalette(pal);
}

QString textoDaTela(const std::string& texto)
{
    return QString::fromStdString(app::screenText(texto));
}

}  // namespace vek::ui
