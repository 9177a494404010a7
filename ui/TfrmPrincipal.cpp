#include "ui/TfrmPrincipal.h"

#include "app/AppState.h"
#include "app/DownloadRow.h"
#include "app/UploadFlow.h"
#include "channel/ConfigurationCheck.h"
#include "platform/BaseDir.h"
#include "platform/UiServices.h"
#include "ui/AccessPage.h"
#include "ui/Accessibility.h"
#include "ui/Appearance.h"
#include "ui/FileListPage.h"
#include "ui/HistoryPage.h"
#include "ui/HistoryPeriodPage.h"
#include "ui/PasswordPage.h"
#include "ui/ReceivePage.h"
#include "ui/SendPage.h"
#include "ui/TfrmAjuda.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>

#include <filesystem>

namespace vek::ui {

namespace {

constexpr const char* LegendaAnterior = "< &Anterior";

}  // namespace

void registrarCaminhoDoPrograma()
{
    QSettings settings(QSettings::NativeFormat, QSettings::SystemScope, "ZEB", "VEK");
    settings.setValue("Path", QString::fromStdString(platform::executablePath().string()));
    settings.sync();  // a status other than NoError is ignored: nothing reads the value back
}

TfrmPrincipal::TfrmPrincipal(const std::vector<std::string>& args, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName("TfrmPrincipal");
    setWindowTitle("VEK");
    setFixedSize(691, 493);

    registrarCaminhoDoPrograma();

    canal_.PrimeiroArgumento = args.empty() ? std::string() : args.front();
    canal_.AoEnviarArquivo = [this](channel::TCanalZEBCliente&, const channel::TStatusUpload& status) {
        paginaEnviar()->aoProgressoEnvio(status);
    };
    canal_.AoConsultarListaDownload =
        [this](channel::TCanalZEBCliente&, channel::TTipoStatusEtapa, std::int32_t percent, const std::string& texto) {
            paginaReceber()->aoProgressoConsulta(percent, texto);
        };
    canal_.AoReceberArquivo = [this](channel::TCanalZEBCliente&, const channel::TStatusDownload& status) {
        paginaArquivos()->aoProgressoDownload(status);
    };
    canal_.onTransferProgress = [this](std::int64_t feitos, std::int64_t total) { aoTransferir(feitos, total); };
    canal_.AoConsultaHistoricoTx =
        [this](channel::TCanalZEBCliente&, channel::TTipoStatusEtapa, std::int32_t percent, const std::string& texto) {
            paginaPeriodoHistorico()->aoProgressoConsulta(percent, texto);
        };

    assistente_ = new QStackedWidget(this);
    assistente_->setObjectName("assistente");
    assistente_->setGeometry(0, 0, 691, 451);

    paginas_[pgAcesso] = new AccessPage(*this);
    paginas_[pgEnviar] = new SendPage(*this);
    paginas_[pgReceber] = new ReceivePage(*this);
    paginas_[pgCopiarArq] = new FileListPage(*this);
    paginas_[pgPeriodoConsultaHist] = new HistoryPeriodPage(*this);
    paginas_[pgHistoricoTransmissoes] = new HistoryPage(*this);
    paginas_[pgAlteraSenha] = new PasswordPage(*this);
    for (WizardPage* p : paginas_) {
        assistente_->addWidget(p);
    }

    criarBarraDeBotoes();

    estado_.modoParametros = app::modoArquivoParametros(args);
    if (estado_.modoParametros) {
        iniciarModoParametros(args.front());
    } else {
        irPara(pgAcesso);
        paginaAcesso()->focarRegistro();
        // Said once the window shows, before the operator types anything.
        QMetaObject::invokeMethod(this, &TfrmPrincipal::avisarSeNaoConfigurado, Qt::QueuedConnection);
    }
}

void TfrmPrincipal::avisarSeNaoConfigurado()
{
    if (const auto aviso = channel::unconfiguredMessage()) {
        platform::ui().showMessage(*aviso, platform::MessageKind::Warning);
    }
}

void TfrmPrincipal::iniciarModoParametros(const std::string& arquivoParametros)
{
    if (const auto codigo = app::startUnattendedRun(arquivoParametros, estado_)) {
        codigoSaidaImediato_ = codigo;
        return;
    }
    assistente_->setCurrentIndex(pgEnviar);
    paginaEnviar()->prepararModoParametros();
    mostrarBotoes({Botao::Sair});
    setAssistenteHabilitado(false);
    // The upload starts once the event loop runs and the window shows.
    QMetaObject::invokeMethod(this, &TfrmPrincipal::executarEnvioParametros, Qt::QueuedConnection);
}

void TfrmPrincipal::executarEnvioParametros()
{
    repaint();
    // From the checksum on (which lets window events run) the window does not
    // close: a close meanwhile would end the run with code 0 while the upload
    // still goes ahead. The wizard takes input again however the run ends,
    // also when an error goes to the standard error box.
    const OperacaoEmCurso operacao(*this, Transferencia::Envio);
    // The file to send cannot be read for its checksum: no upload outcome,
    // but an error for the standard error box.
    try {
        paginaEnviar()->enviarModoParametros();
    } catch (const std::exception& e) {
        mostrarErro(e);
    }
}

void TfrmPrincipal::adotarSenha(const std::string& senha)
{
    estado_.senha = senha;
    canal_.Senha = senha;
    paginaAcesso()->definirSenha(QString::fromStdString(senha));
}

channel::TCanalZEBCliente& TfrmPrincipal::canalDaOperadora()
{
    app::applyOperator(estado_, canal_);
    return canal_;
}

void TfrmPrincipal::encerrarImediatamente(int codigo)
{
    codigoSaidaImediato_ = codigo;
    QCoreApplication::exit(codigo);
}

TfrmPrincipal::~TfrmPrincipal()
{
    qApp->removeEventFilter(this);
}

AccessPage* TfrmPrincipal::paginaAcesso() const
{
    return static_cast<AccessPage*>(paginas_[pgAcesso]);
}

SendPage* TfrmPrincipal::paginaEnviar() const
{
    return static_cast<SendPage*>(paginas_[pgEnviar]);
}

ReceivePage* TfrmPrincipal::paginaReceber() const
{
    return static_cast<ReceivePage*>(paginas_[pgReceber]);
}

FileListPage* TfrmPrincipal::paginaArquivos() const
{
    return static_cast<FileListPage*>(paginas_[pgCopiarArq]);
}

void TfrmPrincipal::definirTiposReceber(std::vector<std::string> itens)
{
    tiposReceber_ = std::move(itens);
    paginaReceber()->preencherTipos(tiposReceber_);
}

void TfrmPrincipal::carregarLista(const std::string& caminho)
{
    // The grid follows the table also when the file is refused (then empty).
    try {
        tabelaLista_.load(std::filesystem::u8path(caminho));
    } catch (...) {
        paginaArquivos()->recarregar();
        throw;
    }
    paginaArquivos()->recarregar();
}

HistoryPeriodPage* TfrmPrincipal::paginaPeriodoHistorico() const
{
    return static_cast<HistoryPeriodPage*>(paginas_[pgPeriodoConsultaHist]);
}

HistoryPage* TfrmPrincipal::paginaHistorico() const
{
    return static_cast<HistoryPage*>(paginas_[pgHistoricoTransmissoes]);
}

void TfrmPrincipal::carregarHistorico(const std::string& caminho)
{
    try {
        tabelaHistorico_.load(std::filesystem::u8path(caminho));
    } catch (...) {
        paginaHistorico()->recarregar();
        throw;
    }
    paginaHistorico()->recarregar();
}

Pagina TfrmPrincipal::paginaAtual() const
{
    return static_cast<Pagina>(assistente_->currentIndex());
}

void TfrmPrincipal::criarBarraDeBotoes()
{
    barra_ = new QWidget(this);
    barra_->setObjectName("barraBotoes");
    barra_->setGeometry(0, 451, 691, 42);
    auto* separador = new QFrame(barra_);
    separador->setFrameShape(QFrame::HLine);
    separador->setFrameShadow(QFrame::Sunken);
    separador->setGeometry(0, 0, 691, 2);

    // Buttons use a narrower face than the pages, as dialog buttons do, so
    // that the longest caption ("Enviar &Outro Arquivo") fits its 120 pixels.
    // Created from left to right, so that Tab follows the bar after the page's fields.
    btnAjuda_ = new QPushButton("A&juda", barra_);
    btnAjuda_->setObjectName("ajudaButton");
    btnAjuda_->setGeometry(88, 10, 75, 25);
    btnAjuda_->setAutoDefault(false);
    btnAjuda_->setFont(fontePx("Arial", 12));
    connect(btnAjuda_, &QPushButton::clicked, this, [this] { abrirAjuda(); });

    const char* nomes[] = {"inicioButton", "anteriorButton", "proximoButton", "concluirButton", "sairButton"};
    const char* legendas[] = {"&Início", LegendaAnterior, "&Próximo >", "&Concluir", "&Sair"};
    for (int i = 0; i < 5; ++i) {
        auto* b = new QPushButton(legendas[i], barra_);
        b->setObjectName(nomes[i]);
        b->resize(75, 25);
        b->setFont(fontePx("Arial", 12));
        b->setAutoDefault(false);
        botoes_[i] = b;
        connect(b, &QPushButton::clicked, this, [this, i] { executarBotao(static_cast<Botao>(i)); });
    }
}

// Visible buttons sit right-aligned in the bar, "&Sair" last and a little apart.
void TfrmPrincipal::posicionarBotoes()
{
    int x = 691 - 8;
    for (int i = 4; i >= 0; --i) {
        QPushButton* b = botoes_[i];
        if (b->isHidden()) {
            continue;
        }
        x -= b->width();
        b->move(x, 10);
        x -= i == 4 ? 10 : 4;
    }
    // On the first page there is nothing to go back to.
    const bool primeira = paginaAtual() == pgAcesso;
    botao(Botao::Inicio)->setEnabled(!primeira);
    botao(Botao::Anterior)->setEnabled(!primeira);
}

void TfrmPrincipal::mostrarBotoes(const std::vector<Botao>& mostrar)
{
    for (int i = 0; i < 5; ++i) {
        bool visivel = false;
        for (const Botao b : mostrar) {
            visivel = visivel || static_cast<int>(b) == i;
        }
        botoes_[i]->setHidden(!visivel);
    }
    posicionarBotoes();
}

void TfrmPrincipal::definirConcluir(const QString& legenda, std::optional<int> largura)
{
    QPushButton* b = botao(Botao::Concluir);
    b->setText(legenda);
    if (largura) {
        b->resize(*largura, 25);
    }
    posicionarBotoes();
}

void TfrmPrincipal::irPara(Pagina p)
{
    botao(Botao::Anterior)->setText(LegendaAnterior);
    assistente_->setCurrentIndex(p);
    paginas_[p]->aoEntrar();
    posicionarBotoes();
    acessibilidade::focarPagina(paginas_[p]);
}

void TfrmPrincipal::setAssistenteHabilitado(bool habilitado)
{
    if (habilitado == assistenteHabilitado_) {
        return;
    }
    assistenteHabilitado_ = habilitado;
    barra_->setEnabled(habilitado);
    // The pages would grey out as disabled widgets; their input is dropped instead.
    if (habilitado) {
        qApp->removeEventFilter(this);
    } else {
        qApp->installEventFilter(this);
    }
}

bool TfrmPrincipal::eventFilter(QObject* watched, QEvent* event)
{
    if (!assistenteHabilitado_ && watched->isWidgetType()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu: {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget == assistente_ || assistente_->isAncestorOf(widget)) {
                return true;
            }
            break;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmPrincipal::mostrarErro(const std::exception& e)
{
    platform::ui().showMessage(e.what(), platform::MessageKind::Error);
}

void TfrmPrincipal::executarBotao(Botao b)
{
    // An error that the page does not handle ends the click in the standard
    // error box; no page move follows.
    try {
        switch (b) {
        case Botao::Inicio:
            irPara(pgAcesso);
            break;
        case Botao::Anterior:
            anterior();
            break;
        case Botao::Proximo:
            proximo();
            break;
        case Botao::Concluir:
            concluir();
            break;
        case Botao::Sair:
            close();
            break;
        }
    } catch (const std::exception& e) {
        mostrarErro(e);
    }
    acessibilidade::focarAposBotao(paginas_[paginaAtual()], b == Botao::Concluir);
}

void TfrmPrincipal::proximo()
{
    const Pagina atual = paginaAtual();
    bool parar = false;
    paginas_[atual]->aoProximo(parar);
    if (!parar && atual + 1 < NumeroPaginas) {
        irPara(static_cast<Pagina>(atual + 1));
    }
}

void TfrmPrincipal::anterior()
{
    const Pagina atual = paginaAtual();
    bool parar = false;
    paginas_[atual]->aoAnterior(parar);
    if (!parar && atual > 0) {
        irPara(static_cast<Pagina>(atual - 1));
    }
}

void TfrmPrincipal::concluir()
{
    bool parar = false;
    paginas_[paginaAtual()]->aoConcluir(parar);
}

void TfrmPrincipal::abrirAjuda()
{
    // The help names the server as the configuration file does now.
    try {
        canal_.LerConfiguracao();
    } catch (const std::exception&) {
        // The channel keeps its defaults; the help still opens.
    }
    TfrmAjuda ajuda(this,
                    {QString::fromStdString(canal_.host()), canal_.porta(), canal_.portaFTP(), canal_.portaDados()});
    ajuda.exec();
}

void TfrmPrincipal::centralizar()
{
    if (QScreen* tela = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QRect area = tela->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TfrmPrincipal::aoTransferir(std::int64_t feitos, std::int64_t total)
{
    if (transferencia_ == Transferencia::Envio) {
        paginaEnviar()->aoTransferir(feitos, total);
    } else if (transferencia_ == Transferencia::Download) {
        paginaArquivos()->aoTransferir(feitos, total);
    }
}

void TfrmPrincipal::operacaoTerminada()
{
    if (fecharAoTerminar_) {
        fecharAoTerminar_ = false;
        // Once the handler that ran the transfer has returned.
        QMetaObject::invokeMethod(this, &TfrmPrincipal::fecharAposCancelamento, Qt::QueuedConnection);
    }
}

void TfrmPrincipal::fecharAposCancelamento()
{
    platform::clearCancel();
    fechamentoConfirmado_ = true;
    close();
}

void TfrmPrincipal::closeEvent(QCloseEvent* event)
{
    // While an operation runs the window stays: closing it would pull the run
    // out from under the blocking call. A transfer may be abandoned instead,
    // when the operator asks through the window's close box: it unwinds as
    // on an error (connection closed, keys released, work files removed, no
    // record), and the window then closes as confirmed here.
    if (operacaoEmAndamento_) {
        if (event->spontaneous() && transferencia_ && !platform::cancelRequested() &&
            platform::ui().showMessage(transferencia_ == Transferencia::Envio ? app::MsgCancelarEnvio
                                                                              : app::MsgCancelarDownload,
                                       platform::MessageKind::Question)) {
            platform::requestCancel();
            fecharAoTerminar_ = true;
        }
        event->ignore();
        return;
    }
    if (!fechamentoConfirmado_ && !platform::ui().showMessage(app::MsgDesejaSair, platform::MessageKind::Question)) {
        event->ignore();
        return;
    }
    fechamentoConfirmado_ = false;
    app::limparArquivosTemporarios(platform::baseDir() / "temp", platform::tempDir());
    app::apagarDownloadsNaoGuardados();
    event->accept();
    if (estado_.modoParametros) {
        QCoreApplication::exit(estado_.codigoSaida);
    }
}

}  // namespace vek::ui
