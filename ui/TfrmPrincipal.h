#pragma once

#include "app/AppState.h"
#include "channel/TCanalZEBCliente.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/UiServices.h"

#include <QPushButton>
#include <QWidget>

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QStackedWidget;

namespace vek::ui {

class AccessPage;
class FileListPage;
class ReceivePage;
class HistoryPage;
class HistoryPeriodPage;
class SendPage;
class WizardPage;

// The wizard's pages, in wizard order.
enum Pagina
{
    pgAcesso = 0,
    pgEnviar,
    pgReceber,
    pgCopiarArq,
    pgPeriodoConsultaHist,
    pgHistoricoTransmissoes,
    pgAlteraSenha,
};
inline constexpr int NumeroPaginas = 7;

// The long transfers that closing the window may abandon.
enum class Transferencia
{
    Envio,
    Download,
};

enum class Botao
{
    Inicio,
    Anterior,
    Proximo,
    Concluir,
    Sair,
};

// The main window: a fixed 691 x 493 wizard with a button bar, the state
// values of the run and the one channel through which every function runs.
class TfrmPrincipal : public QWidget
{
    Q_OBJECT

public:
    // `args` are the command-line arguments without the program name.
    explicit TfrmPrincipal(const std::vector<std::string>& args, QWidget* parent = nullptr);
    ~TfrmPrincipal() override;

    // Set when the window must not run: the process ends with this code.
    [[nodiscard]] std::optional<int> codigoSaidaImediato() const { return codigoSaidaImediato_; }
    // Ends the run at once with `codigo`: no closing question, no clean-up.
    void encerrarImediatamente(int codigo);

    app::AppState& estado() { return estado_; }
    // The password that the server accepted in a change: the run's password,
    // the channel's and the access page's, so that the next operation, with
    // or without a new Next on the access page, sends it.
    void adotarSenha(const std::string& senha);
    channel::TCanalZEBCliente& canal() { return canal_; }
    // The channel with the operator's credentials and the application of
    // the run, as every operation sends them; returns it.
    channel::TCanalZEBCliente& canalDaOperadora();

    [[nodiscard]] Pagina paginaAtual() const;
    WizardPage* pagina(Pagina p) const { return paginas_[p]; }
    AccessPage* paginaAcesso() const;
    SendPage* paginaEnviar() const;
    ReceivePage* paginaReceber() const;
    FileListPage* paginaArquivos() const;
    HistoryPeriodPage* paginaPeriodoHistorico() const;
    HistoryPage* paginaHistorico() const;

    // The tables of the last list and history queries.
    dataset::HistoryTable& tabelaHistorico() { return tabelaHistorico_; }
    dataset::ListTable& tabelaLista() { return tabelaLista_; }
    // Loads a history file into the history table (which keeps what it held
    // when the file is refused) and shows it in the grid.
    void carregarHistorico(const std::string& caminho);
    // The same for a list file, the list table and the file list grid.
    void carregarLista(const std::string& caminho);

    // Page moves: enters the page (runs its enter handler).
    void irPara(Pagina p);
    void mostrarBotoes(const std::vector<Botao>& botoes);
    // Caption of the finish button; without a width it keeps its width.
    void definirConcluir(const QString& legenda, std::optional<int> largura = std::nullopt);
    QPushButton* botao(Botao b) const { return botoes_[static_cast<int>(b)]; }
    // The whole wizard (pages and buttons) reacts or not. The pages keep
    // their look while disabled, so that gauges and texts stay readable.
    void setAssistenteHabilitado(bool habilitado);
    [[nodiscard]] bool assistenteHabilitado() const { return assistenteHabilitado_; }
    // True while an upload or a download runs.
    [[nodiscard]] bool operacaoEmAndamento() const { return operacaoEmAndamento_; }
    void setOperacaoEmAndamento(bool emAndamento) { operacaoEmAndamento_ = emAndamento; }
    // The transfer that runs, which closing the window offers to abandon;
    // none while another operation (a query) runs, which closing waits for.
    void setTransferencia(std::optional<Transferencia> transferencia) { transferencia_ = transferencia; }
    // An operation ended: closes the window when the user chose to abandon it.
    void operacaoTerminada();

    // The items of the receive page's type list, from the last query.
    void definirTiposReceber(std::vector<std::string> itens);
    [[nodiscard]] const std::vector<std::string>& tiposReceber() const { return tiposReceber_; }

    // The standard error box for errors that no page handles.
    static void mostrarErro(const std::exception& e);

    // Centres the window on its screen.
    void centralizar();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void criarBarraDeBotoes();
    void posicionarBotoes();
    void executarBotao(Botao b);
    void proximo();
    void anterior();
    void concluir();
    void abrirAjuda();
    // Unattended mode: the checks once the parameter file is known, and the
    // upload posted to run once the window shows.
    void iniciarModoParametros(const std::string& arquivoParametros);
    void executarEnvioParametros();
    // An installed program with no server configured anywhere says so at
    // once, and where the key goes.
    void avisarSeNaoConfigurado();
    // The bytes of the running transfer, for the page that shows it.
    void aoTransferir(std::int64_t feitos, std::int64_t total);
    // The close that the user confirmed by abandoning a transfer.
    void fecharAposCancelamento();

    app::AppState estado_;
    channel::TCanalZEBCliente canal_;
    dataset::HistoryTable tabelaHistorico_;
    dataset::ListTable tabelaLista_;
    std::optional<int> codigoSaidaImediato_;
    std::vector<std::string> tiposReceber_;
    bool operacaoEmAndamento_ = false;
    bool assistenteHabilitado_ = true;
    std::optional<Transferencia> transferencia_;
    // The user abandoned a transfer to close: the window closes once it has unwound.
    bool fecharAoTerminar_ = false;
    // The close was confirmed already: no second question.
    bool fechamentoConfirmado_ = false;

    QStackedWidget* assistente_ = nullptr;
    QWidget* barra_ = nullptr;
    std::array<WizardPage*, NumeroPaginas> paginas_{};
    std::array<QPushButton*, 5> botoes_{};
    QPushButton* btnAjuda_ = nullptr;
};

// While a channel operation runs on the window's thread it lets window
// events run; for its duration the wizard takes no input and the window does
// not close, so that no second operation starts on the one channel. A
// transfer (an upload, a download) is the exception: closing the window asks
// whether to abandon it, and a yes ends it at its next event pump.
class OperacaoEmCurso
{
public:
    explicit OperacaoEmCurso(TfrmPrincipal& janela, std::optional<Transferencia> transferencia = std::nullopt)
        : janela_(janela)
    {
        janela_.setAssistenteHabilitado(false);
        janela_.setOperacaoEmAndamento(true);
        janela_.setTransferencia(transferencia);
        if (transferencia) {
            cancelavel_.emplace();
        }
    }
    ~OperacaoEmCurso()
    {
        cancelavel_.reset();
        janela_.setTransferencia(std::nullopt);
        janela_.setOperacaoEmAndamento(false);
        janela_.setAssistenteHabilitado(true);
        janela_.operacaoTerminada();
    }
    OperacaoEmCurso(const OperacaoEmCurso&) = delete;
    OperacaoEmCurso& operator=(const OperacaoEmCurso&) = delete;

private:
    TfrmPrincipal& janela_;
    std::optional<platform::CancellableOperation> cancelavel_;
};

// Records the executable's path in the machine-wide setting "Path"
// (organisation "ZEB", application "VEK"); a failed write is ignored.
void registrarCaminhoDoPrograma();

}  // namespace vek::ui
