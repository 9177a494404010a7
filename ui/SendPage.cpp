#include "ui/SendPage.h"

#include "app/ParameterFile.h"
#include "app/Receipt.h"
#include "app/SendRules.h"
#include "app/Text.h"
#include "app/UploadFlow.h"
#include "platform/UiServices.h"
#include "ui/Appearance.h"
#include "ui/FileDialog.h"
#include "ui/PastasLembradas.h"
#include "ui/PreviousReceiptsDialog.h"
#include "ui/TfrmPrincipal.h"
#include "ui/TqrpRecibo.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>

#include <filesystem>

namespace vek::ui {

namespace {

constexpr int AlturaInformacao = 17;
// A long error may take the room of the two notices, which are hidden then.
constexpr int AlturaInformacaoMaxima = 70;

class CtrlInsertFilter : public QObject
{
public:
    CtrlInsertFilter(QObject* parent, SendPage* pagina)
        : QObject(parent)
        , pagina_(pagina)
    {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Insert && key->modifiers() == Qt::ControlModifier) {
                pagina_->procurarArquivo();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    SendPage* pagina_;
};

QLabel* criarIcone(QWidget* parent, int y)
{
    auto* icone = new QLabel(parent);
    icone->setGeometry(6, y, 14, 14);
    icone->setPixmap(pixmapIcone(Icone::Vazio));
    return icone;
}

}  // namespace

SendPage::SendPage(TfrmPrincipal& janela)
    : WizardPage(janela, "pgEnviar", 2, "Enviar Arquivo")
    , filtro_(QString::fromStdString(app::filtroDoItem({})))
{
    QWidget* entrada = criarPainel(this, QRect(176, 114, 508, 132), cor::Entrada);
    entrada->setObjectName("pnlEntradaEnviar");
    auto* lblTipo = criarRotulo(entrada, "Tipo de arquivo", QPoint(8, 16));
    cbxTpoArqEnviar_ = new QComboBox(entrada);
    cbxTpoArqEnviar_->setObjectName("cbxTpoArqEnviar");
    cbxTpoArqEnviar_->setGeometry(8, 32, 488, 22);
    cbxTpoArqEnviar_->setEditable(false);
    lblTipo->setBuddy(cbxTpoArqEnviar_);
    connect(cbxTpoArqEnviar_, &QComboBox::currentIndexChanged, this, [this] {
        filtro_ = QString::fromStdString(app::filtroDoItem(cbxTpoArqEnviar_->currentText().toStdString()));
    });

    auto* lblArquivo = criarRotulo(entrada, "Arquivo a ser enviado", QPoint(8, 64));
    txtArqEnviado_ = new QLineEdit(entrada);
    txtArqEnviado_->setObjectName("txtArqEnviado");
    txtArqEnviado_->setGeometry(8, 80, 488, 22);
    lblArquivo->setBuddy(txtArqEnviado_);
    QAction* procurar =
        txtArqEnviado_->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
    procurar->setObjectName("procurarArquivoAction");
    procurar->setToolTip("Procurar o arquivo (Ctrl+Insert)");
    connect(procurar, &QAction::triggered, this, [this] { procurarArquivo(); });
    txtArqEnviado_->installEventFilter(new CtrlInsertFilter(txtArqEnviado_, this));
    // The browse button takes the focus with Tab after the field, and Space
    // opens the dialog as a click does.
    for (auto* botao : txtArqEnviado_->findChildren<QToolButton*>()) {
        if (botao->defaultAction() == procurar || botao->actions().contains(procurar)) {
            botao->setObjectName("procurarArquivoButton");
            botao->setFocusPolicy(Qt::TabFocus);
            botao->setAccessibleName("Procurar o arquivo");
            setTabOrder(txtArqEnviado_, botao);
        }
    }

    ntbEnviar_ = new QStackedWidget(this);
    ntbEnviar_->setObjectName("ntbEnviar");
    ntbEnviar_->setGeometry(176, 258, 509, 117);

    listaArquivos_ = new QWidget;
    listaArquivos_->setObjectName("ListaArquivos");
    ntbEnviar_->addWidget(listaArquivos_);

    status_ = new QWidget;
    status_->setObjectName("Status");
    const char* etapas[] = {"Preparação dos dados", "Conectando com o servidor", "Transmissão de dados"};
    const char* nomesIcones[] = {"imgPreparacao", "imgConexao", "imgTransmissao"};
    const char* nomesMedidores[] = {"gagPreparacao", "gagConexao", "gagTransmissao"};
    for (int i = 0; i < 3; ++i) {
        const int y = 12 + i * 28;
        icones_[i] = criarIcone(status_, y);
        icones_[i]->setObjectName(nomesIcones[i]);
        auto* rotulo = criarRotulo(status_, etapas[i], QPoint(24, y), fontePx("Verdana", 11));
        definirCorTexto(rotulo, cor::TextoOpcao);
        auto* medidor = new QProgressBar(status_);
        medidor->setObjectName(nomesMedidores[i]);
        medidor->setGeometry(191, y, 298, 16);
        medidor->setRange(0, 100);
        medidor->setValue(0);
        medidor->setTextVisible(false);
        medidor->setStyleSheet("QProgressBar { border: 1px solid #A0A0A0; background: white; }"
                               "QProgressBar::chunk { background: #CCCCCC; }");
        medidores_[i] = medidor;
    }
    // What went of the total, the speed and the time left, under the steps.
    lblEstimativa_ = new QLabel(status_);
    lblEstimativa_->setObjectName("lblEstimativaEnvio");
    lblEstimativa_->setGeometry(24, 92, 465, 16);
    lblEstimativa_->setFont(fontePx("Verdana", 11));
    lblEstimativa_->setTextFormat(Qt::PlainText);
    definirCorTexto(lblEstimativa_, cor::TextoOpcao);
    lblEstimativa_->hide();
    ntbEnviar_->addWidget(status_);

    imprimirRecibo_ = new QWidget;
    imprimirRecibo_->setObjectName("ImprimirRecibo");
    lblArqEnviado_ = new QLabel(imprimirRecibo_);
    lblArqEnviado_->setObjectName("lblArqEnviado");
    lblArqEnviado_->setGeometry(16, 16, 313, 30);
    lblArqEnviado_->setWordWrap(true);
    lblArqEnviado_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblArqEnviado_->setTextFormat(Qt::PlainText);
    lblProtocoloEnvio_ = new QLabel(imprimirRecibo_);
    lblProtocoloEnvio_->setObjectName("lblProtocoloEnvio");
    lblProtocoloEnvio_->setGeometry(16, 48, 480, 16);
    lblProtocoloEnvio_->setTextFormat(Qt::PlainText);
    btnImprimirRecibo_ = new QPushButton("Imprimir &Recibo", imprimirRecibo_);
    btnImprimirRecibo_->setObjectName("btnImprimirRecibo");
    btnImprimirRecibo_->setGeometry(16, 76, 100, 25);
    btnImprimirRecibo_->setFont(fontePx("Arial", 12));
    btnImprimirRecibo_->hide();
    connect(btnImprimirRecibo_, &QPushButton::clicked, this, [this] {
        try {
            imprimirRecibo();
        } catch (const std::exception& e) {
            TfrmPrincipal::mostrarErro(e);
        }
    });
    // Earlier uploads' receipts, beside this one's.
    auto* recibosAnteriores = new QPushButton("Recibos a&nteriores...", imprimirRecibo_);
    recibosAnteriores->setObjectName("btnRecibosAnteriores");
    recibosAnteriores->setGeometry(124, 76, 140, 25);
    recibosAnteriores->setFont(fontePx("Arial", 12));
    connect(recibosAnteriores, &QPushButton::clicked, this, [this] {
        PreviousReceiptsDialog dialogo(&janela_);
        dialogo.exec();
    });
    ntbEnviar_->addWidget(imprimirRecibo_);

    pnlInfEnvio_ = criarPainelInformacao(this, "pnlInfEnvio", QRect(176, 380, 509, AlturaInformacao));
    pnlInfEnvio_->setFont(fontePx("Tahoma", 11, true));
    pnlInfEnvio2_ = criarPainelInformacao(this, "pnlInfEnvio2", QRect(176, 396, 509, 37));
    pnlInfEnvio2_->setFont(fontePx("Verdana", 10));
    pnlInfEnvio3_ = criarPainelInformacao(this, "pnlInfEnvio3", QRect(176, 432, 509, 18));
    pnlInfEnvio3_->setFont(fontePx("Verdana", 11));
}

void SendPage::preencherTipos(const std::string& lista)
{
    cbxTpoArqEnviar_->clear();
    for (const std::string& item : app::itensListaTipos(lista)) {
        cbxTpoArqEnviar_->addItem(QString::fromStdString(item));
    }
    cbxTpoArqEnviar_->setCurrentIndex(-1);
}

void SendPage::aoEntrar()
{
    if (janela_.estado().modoParametros) {
        return;
    }
    reiniciar();
}

void SendPage::reiniciar()
{
    ntbEnviar_->setCurrentWidget(listaArquivos_);
    janela_.mostrarBotoes({Botao::Inicio, Botao::Anterior, Botao::Concluir, Botao::Sair});
    janela_.definirConcluir("&Enviar", 75);
    cbxTpoArqEnviar_->setEnabled(true);
    txtArqEnviado_->setEnabled(true);
    txtArqEnviado_->clear();
    for (QLabel* painel : {pnlInfEnvio_, pnlInfEnvio2_, pnlInfEnvio3_}) {
        painel->clear();
        painel->hide();
    }
    btnImprimirRecibo_->hide();
}

void SendPage::procurarArquivo()
{
    if (!txtArqEnviado_->isEnabled()) {
        return;
    }
    QString pasta = txtArqEnviado_->text().isEmpty() ? pastaLembrada(pastas::AbrirArquivoEnvio, QDir::homePath())
                                                     : QFileInfo(txtArqEnviado_->text()).absolutePath();
    for (;;) {
        const QString escolhido = FileDialog::instance().getOpenFileName(window(), "Abrir", pasta, filtroQt(filtro_));
        if (escolhido.isEmpty()) {
            return;
        }
        if (app::extensaoConfere(escolhido.toStdString(), cbxTpoArqEnviar_->currentText().toStdString())) {
            txtArqEnviado_->setText(escolhido);
            lembrarPasta(pastas::AbrirArquivoEnvio, escolhido);
            return;
        }
        platform::ui().showMessage(app::MsgMesmoTipo, platform::MessageKind::Warning);
        // The dialog opens again where the user was.
        pasta = QFileInfo(escolhido).absolutePath();
    }
}

void SendPage::aoConcluir(bool&)
{
    app::AppState& estado = janela_.estado();
    const std::string caminho = txtArqEnviado_->text().toStdString();
    estado.tipoArquivo = app::tipoDaExtensao(caminho);
    estado.arquivo = caminho;

    QWidget* visivel = ntbEnviar_->currentWidget();
    if (visivel == imprimirRecibo_) {
        reiniciar();
        return;
    }
    if (visivel == listaArquivos_ &&
        (app::trimmed(cbxTpoArqEnviar_->currentText().toStdString()).empty() || app::trimmed(caminho).empty())) {
        platform::ui().showMessage(app::MsgTipoEArquivo, platform::MessageKind::Warning);
        return;
    }
    if (executarEnvio()) {
        janela_.definirConcluir("Enviar &Outro Arquivo", 120);
        janela_.mostrarBotoes({Botao::Inicio, Botao::Concluir, Botao::Sair});
    }
}

void SendPage::definirInformacao(const QString& texto, const QColor& cor)
{
    definirCorTexto(pnlInfEnvio_, cor);
    pnlInfEnvio_->setText(texto);
    const int necessaria = pnlInfEnvio_->heightForWidth(pnlInfEnvio_->width());
    pnlInfEnvio_->resize(pnlInfEnvio_->width(), std::clamp(necessaria, AlturaInformacao, AlturaInformacaoMaxima));
    pnlInfEnvio_->raise();
    pnlInfEnvio_->show();
}

void SendPage::prepararModoParametros()
{
    cbxTpoArqEnviar_->clear();
    cbxTpoArqEnviar_->addItem(QString::fromStdString(app::itemTipoParametros(janela_.canal())));
    cbxTpoArqEnviar_->setCurrentIndex(0);
    txtArqEnviado_->setText(QString::fromStdString(janela_.estado().arquivo));
    ntbEnviar_->setCurrentWidget(status_);
}

bool SendPage::enviarModoParametros()
{
    return executarEnvio();
}

bool SendPage::executarEnvio()
{
    const bool modoParametros = janela_.estado().modoParametros;
    window()->repaint();
    cbxTpoArqEnviar_->setEnabled(false);
    txtArqEnviado_->setEnabled(false);
    ntbEnviar_->setCurrentWidget(status_);
    if (modoParametros) {
        janela_.mostrarBotoes({Botao::Sair});
    } else {
        janela_.mostrarBotoes({Botao::Inicio, Botao::Sair});
    }
    definirInformacao(pnlInfEnvio_->text(), Qt::black);
    for (QLabel* icone : icones_) {
        icone->setPixmap(pixmapIcone(Icone::Vazio));
    }
    estimativa_.reset();
    lblEstimativa_->clear();
    lblEstimativa_->hide();
    window()->repaint();

    app::UploadOutcome fim;
    {
        OperacaoEmCurso operacao(janela_, Transferencia::Envio);
        fim = modoParametros ? app::runUnattendedUpload(janela_.estado(), janela_.canal())
                             : app::runInteractiveUpload(janela_.estado(), janela_.canal());
    }
    switch (fim.end) {
    case app::UploadEnd::ChecksumDiffers:
        janela_.encerrarImediatamente(app::CodigoSaidaChecksumDiferente);
        return false;
    case app::UploadEnd::Failed:
        mostrarFalha(fim.error);
        return false;
    case app::UploadEnd::Cancelled:
        // The window closes.
        return false;
    case app::UploadEnd::Sent:
        mostrarRecibo();
        return true;
    }
    return false;
}

void SendPage::mostrarRecibo()
{
    const app::AppState& estado = janela_.estado();
    if (estado.modoParametros) {
        janela_.mostrarBotoes({Botao::Sair});
    } else {
        janela_.mostrarBotoes({Botao::Concluir, Botao::Sair});
    }
    ntbEnviar_->setCurrentWidget(imprimirRecibo_);
    btnImprimirRecibo_->show();
    lblArqEnviado_->setText(QString::fromStdString(
        app::textoArquivoRecebido(txtArqEnviado_->text().toStdString(), estado.dataRecebimento)));
    lblProtocoloEnvio_->setText(QString::fromStdString(app::textoProtocolo(estado.protocolo)));
    definirInformacao(app::MsgEnviadoComSucesso, Qt::black);
    pnlInfEnvio2_->setText(app::MsgAtencaoProcessados);
    pnlInfEnvio2_->show();
    pnlInfEnvio3_->setText(app::MsgAcompanharStatus);
    pnlInfEnvio3_->show();
}

void SendPage::mostrarFalha(const std::string& mensagem)
{
    pnlInfEnvio2_->hide();
    pnlInfEnvio3_->hide();
    definirInformacao(textoDaTela(mensagem), cor::Erro);
    janela_.definirConcluir("&Tentar Novamente", 120);
    if (!janela_.estado().modoParametros) {
        janela_.mostrarBotoes({Botao::Inicio, Botao::Concluir, Botao::Sair});
    }
}

void SendPage::aoProgressoEnvio(const channel::TStatusUpload& status)
{
    const std::array<std::pair<channel::TTipoStatusEtapa, int>, 3> etapas{{
        {status.StatusPreparacao, status.PercentPreparacao},
        {status.StatusConexao, status.PercentConexao},
        {status.StatusTransmissao, status.PercentTransmissao},
    }};
    for (std::size_t i = 0; i < etapas.size(); ++i) {
        medidores_[i]->setValue(etapas[i].second);
        switch (etapas[i].first) {
        case channel::tseExecutando:
            icones_[i]->setPixmap(pixmapIcone(Icone::Processando));
            break;
        case channel::tseFinalizada:
            icones_[i]->setPixmap(pixmapIcone(Icone::Feito));
            break;
        case channel::tseErro:
            icones_[i]->setPixmap(pixmapIcone(Icone::Erro));
            break;
        case channel::tseNada:
            break;
        }
    }
    definirInformacao(textoDaTela(status.Mensagem), pnlInfEnvio_->palette().color(QPalette::WindowText));
    platform::ui().processEvents();
}

void SendPage::aoTransferir(std::int64_t feitos, std::int64_t total)
{
    if (estimativa_.update(feitos, total)) {
        lblEstimativa_->setText(QString::fromStdString(estimativa_.text()));
        lblEstimativa_->show();
    }
    // Between the step reports, too, the window repaints and the close box answers.
    platform::ui().processEvents();
}

void SendPage::imprimirRecibo()
{
    TqrpRecibo recibo(&janela_);
    const TqrpRecibo::Valores v = TqrpRecibo::valoresDe(app::reciboDoEnvio(janela_.estado(), janela_.canal()));
    recibo.preencher(
        v.protocolo, v.operadora, v.arquivo, v.dataRecebimento, v.informacoes, v.enderecoIP, v.autenticacao);
}

}  // namespace vek::ui
