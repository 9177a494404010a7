#include "ui/ReceivePage.h"

#include "app/InputChecks.h"
#include "app/SendRules.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/HistoryPeriodPage.h"
#include "ui/TfrmPrincipal.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include <filesystem>

namespace vek::ui {

namespace {

constexpr const char* TextoAguardeLista =
    "Aguarde: conectando com o servidor da ZEB para trazer a lista de arquivos \r\ndisponíveis.";

// A month field with the mask "MM/AAAA": optional digits around a fixed
// "/", blanks where nothing was typed, so that the empty field reads
// "  /    " as the channel expects for no filter.
QLineEdit* criarCampoMes(QWidget* parent, const char* nome, const QRect& geometria)
{
    auto* campo = new QLineEdit(parent);
    campo->setObjectName(nome);
    campo->setGeometry(geometria);
    campo->setInputMask("99/9999; ");
    campo->setMaxLength(7);
    campo->setToolTip("Formato MM/AAAA");
    return campo;
}

}  // namespace

ReceivePage::ReceivePage(TfrmPrincipal& janela)
    : WizardPage(janela, "pgReceber", 3, "Receber Arquivo")
{
    QWidget* entrada = criarPainel(this, QRect(176, 114, 508, 132), cor::Entrada);
    entrada->setObjectName("pnlEntradaReceber");
    auto* lblTipo = criarRotulo(entrada, "Tipo de arquivo", QPoint(8, 16));
    cbxTpoArqReceber_ = new QComboBox(entrada);
    cbxTpoArqReceber_->setObjectName("cbxTpoArqReceber");
    cbxTpoArqReceber_->setGeometry(8, 32, 488, 22);
    cbxTpoArqReceber_->setEditable(false);
    lblTipo->setBuddy(cbxTpoArqReceber_);

    criarRotulo(entrada, "Os filtros abaixo são opcionais", QPoint(8, 64));
    auto* lblComp = criarRotulo(entrada, "Mês/ano de competência", QPoint(8, 88));
    txtMesAnoComp_ = criarCampoMes(entrada, "txtMesAnoComp", QRect(8, 104, 229, 22));
    lblComp->setBuddy(txtMesAnoComp_);
    auto* ou = criarRotulo(entrada, "ou", QPoint(241, 107));
    ou->setAlignment(Qt::AlignCenter);
    auto* lblDisp = criarRotulo(entrada, "Mês/ano da disponibilização", QPoint(260, 88));
    txtMesAnoDisp_ = criarCampoMes(entrada, "txtMesAnoDisp", QRect(260, 104, 229, 22));
    lblDisp->setBuddy(txtMesAnoDisp_);

    pnlListaArqReceber_ = criarPainelAguarde(this,
                                             "pnlListaArqReceber",
                                             QRect(176, 248, 513, 105),
                                             TextoAguardeLista,
                                             "gagListaArqReceber",
                                             gagListaArqReceber_);
    pnlInfRecebto_ = criarPainelInformacao(this, "pnlInfRecebto", QRect(176, 384, 509, 61));
}

void ReceivePage::preencherTipos(const std::vector<std::string>& itens)
{
    cbxTpoArqReceber_->clear();
    for (const std::string& item : itens) {
        cbxTpoArqReceber_->addItem(QString::fromStdString(item));
    }
    cbxTpoArqReceber_->setCurrentIndex(-1);
}

void ReceivePage::aoEntrar()
{
    pnlListaArqReceber_->hide();
    pnlInfRecebto_->hide();
    pnlInfRecebto_->clear();
    txtMesAnoComp_->clear();
    txtMesAnoDisp_->clear();
    janela_.mostrarBotoes({Botao::Inicio, Botao::Anterior, Botao::Proximo, Botao::Sair});
    cbxTpoArqReceber_->setFocus();
}

void ReceivePage::aoAnterior(bool& parar)
{
    parar = true;
    janela_.irPara(pgAcesso);
}

void ReceivePage::aoProximo(bool& parar)
{
    parar = true;
    const std::string competencia = txtMesAnoComp_->displayText().toStdString();
    const std::string disponibilizacao = txtMesAnoDisp_->displayText().toStdString();
    const app::InputCheck check = app::checkMonthFilters(competencia, disponibilizacao);
    if (!check.ok()) {
        (check.focus == app::InputField::txtMesAnoDisp ? txtMesAnoDisp_ : txtMesAnoComp_)->setFocus();
        throw Error(check.text);
    }

    channel::TCanalZEBCliente& canal = janela_.canalDaOperadora();
    gagListaArqReceber_->setValue(0);
    pnlListaArqReceber_->show();
    // The query's progress text shows below, as the history query's does.
    pnlInfRecebto_->clear();
    pnlInfRecebto_->show();
    window()->repaint();

    std::string caminho;
    consultarComPainel(pnlListaArqReceber_, [&] {
        OperacaoEmCurso operacao(janela_);
        canal.ConsultarListaDownload(
            app::codigoDoItem(cbxTpoArqReceber_->currentText().toStdString()), competencia, disponibilizacao, caminho);
    });
    if (caminho.empty() || !std::filesystem::is_regular_file(std::filesystem::u8path(caminho))) {
        return;
    }
    janela_.carregarLista(caminho);
    parar = false;
}

void ReceivePage::aoProgressoConsulta(std::int32_t percent, const std::string& texto)
{
    gagListaArqReceber_->setValue(std::clamp(percent, 0, 100));
    pnlInfRecebto_->setText(textoDaTela(texto));
    platform::ui().processEvents();
}

}  // namespace vek::ui
