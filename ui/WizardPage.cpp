#include "ui/WizardPage.h"

#include "ui/Appearance.h"
#include "ui/TfrmPrincipal.h"

#include <QLabel>

namespace vek::ui {

WizardPage::WizardPage(TfrmPrincipal& janela, const char* nome, int numero, const QString& titulo)
    : janela_(janela)
{
    setObjectName(nome);
    setFixedSize(691, 451);

    auto* marca = new QLabel(this);
    marca->setObjectName(QString("imgMarcaDagua%1").arg(numero));
    marca->setGeometry(0, 0, 170, 451);
    marca->setAutoFillBackground(true);
    QPalette pal = marca->palette();
    pal.setColor(QPalette::Window, cor::Coluna);
    marca->setPalette(pal);
    marca->setPixmap(pixmapMarcaDagua());
    marca->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* imgTitulo = new QLabel(this);
    imgTitulo->setObjectName(QString("imgTitulo%1").arg(numero));
    imgTitulo->setGeometry(169, 0, 522, 72);
    imgTitulo->setPixmap(pixmapTitulo());

    // Right-aligned, ending at x 514, over the title picture.
    auto* versao = new QLabel("Versão " + QString::fromStdString(janela.canal().VersaoTransmissor()), this);
    versao->setObjectName(QString("lblVersao%1").arg(numero));
    versao->setFont(fontePx("Tahoma", 11));
    definirCorTexto(versao, cor::Faixa);
    versao->setAlignment(Qt::AlignRight | Qt::AlignTop);
    versao->setGeometry(314, 56, 200, 14);

    criarPainel(this, QRect(176, 88, 508, 27), cor::Faixa);
    QWidget* painelTitulo = criarPainel(this, QRect(176, 80, 508, 31), cor::Titulo);
    titulo_ = new QLabel(titulo, painelTitulo);
    titulo_->setObjectName(QString("lblTitulo%1").arg(numero));
    titulo_->setFont(fontePx("Verdana", 15, true));
    definirCorTexto(titulo_, Qt::white);
    titulo_->setGeometry(10, 0, 488, 31);
    titulo_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto* linha = new QLabel(this);
    linha->setObjectName(QString("imgLinha%1").arg(numero));
    linha->setGeometry(169, 450, 522, 2);
    linha->setPixmap(pixmapLinha());
}

QString WizardPage::titulo() const
{
    return titulo_->text();
}

void WizardPage::aoEntrar() {}

void WizardPage::aoProximo(bool&) {}

void WizardPage::aoAnterior(bool&) {}

void WizardPage::aoConcluir(bool&) {}

}  // namespace vek::ui
