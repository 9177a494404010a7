#include "app/UploadFlow.h"

#include "app/ParameterFile.h"
#include "app/SendRules.h"
#include "app/Text.h"
#include "app/UploadRecord.h"
#include "platform/BaseDir.h"
#include "platform/Clock.h"
#include "platform/UiServices.h"

#include <exception>
#include <utility>

namespace vek::app {

namespace {

constexpr const char* MsgNaoEnviado = "O arquivo não foi enviado.";

// Keeps the state's exit code from every progress event while the upload
// runs, passing each event on to the presenter's handler, which the channel
// gets back however the call ends.
class ExitCodeListener
{
public:
    ExitCodeListener(channel::TCanalZEBCliente& canal, int& codigoSaida)
        : canal_(canal)
        , presenter_(canal.AoEnviarArquivo)
    {
        canal_.AoEnviarArquivo = [this, &codigoSaida](channel::TCanalZEBCliente& sender,
                                                      const channel::TStatusUpload& status) {
            codigoSaida = codigoSaidaAposProgresso(status, codigoSaida);
            if (presenter_) {
                presenter_(sender, status);
            }
        };
    }
    ~ExitCodeListener() { canal_.AoEnviarArquivo = std::move(presenter_); }
    ExitCodeListener(const ExitCodeListener&) = delete;
    ExitCodeListener& operator=(const ExitCodeListener&) = delete;

private:
    channel::TCanalZEBCliente& canal_;
    channel::TSendFileEvent presenter_;
};

// Everything the upload sends, from the state.
void configure(const AppState& estado, channel::TCanalZEBCliente& canal)
{
    applyOperator(estado, canal);
    canal.Arquivo = estado.arquivo;
    canal.SetTipo_Arquivo(upperAZ(estado.tipoArquivo));
    canal.StrValidacaoLivre = estado.validacaoLivre;
    canal.HashArquivo = estado.hashInformado;
    canal.janelaEnvio = estado.janelaEnvio;
}

// EnviarArquivo from exit code 0; a sent file's receipt goes into the state.
UploadOutcome send(AppState& estado, channel::TCanalZEBCliente& canal)
{
    UploadOutcome outcome;
    estado.codigoSaida = 0;
    bool failed = true;
    try {
        const ExitCodeListener listener(canal, estado.codigoSaida);
        canal.EnviarArquivo(outcome.resultado);
        // A call that returns without success is a failure too, never a receipt.
        failed = !outcome.resultado.Sucesso;
        if (failed) {
            outcome.error = outcome.resultado.MensagemErro.empty() ? MsgNaoEnviado : outcome.resultado.MensagemErro;
        }
    } catch (const std::exception& e) {
        outcome.error = e.what();
    } catch (...) {
        // Not the channel's own error type, but still the upload's failure.
        outcome.error = MsgNaoEnviado;
    }
    if (failed) {
        // Abandoned by the user: no outcome to show or record. An upload the
        // server confirmed before the request was noticed still counts as sent.
        outcome.end = platform::cancelRequested() ? UploadEnd::Cancelled : UploadEnd::Failed;
        return outcome;
    }
    outcome.end = UploadEnd::Sent;
    estado.dataRecebimento = outcome.resultado.DataHora;
    estado.protocolo = outcome.resultado.Protocolo;
    estado.enderecoIP = outcome.resultado.EnderecoIP;
    estado.autenticacao = outcome.resultado.Autenticacao;
    estado.codigoSaida = CodigoSaidaSucesso;
    return outcome;
}

// The send page's record name for this moment; a later tick when a record of
// that name exists already (a file of the same name sent within the same
// millisecond), so that no record replaces another.
std::string freeRecordName(const std::string& arquivo)
{
    const auto dir = platform::baseDir() / "Protocolos";
    std::uint32_t ticks = platform::tickCount();
    std::error_code ec;
    for (;;) {
        std::string name = nomeArquivoRegistro(arquivo, ticks);
        if (!std::filesystem::exists(dir / name, ec)) {
            return name;
        }
        ++ticks;
    }
}

}  // namespace

UploadOutcome runInteractiveUpload(AppState& estado, channel::TCanalZEBCliente& canal)
{
    configure(estado, canal);
    UploadOutcome outcome = send(estado, canal);
    if (outcome.sent()) {
        estado.nomeArquivoRegistro = freeRecordName(estado.arquivo);
        outcome.record =
            gravarRegistroEnvio(dadosRegistro(estado), outcome.resultado, canal, estado.nomeArquivoRegistro);
    }
    return outcome;
}

UploadOutcome runRecordedUpload(AppState& estado,
                                channel::TCanalZEBCliente& canal,
                                const std::function<void(const UploadOutcome&)>& aoReceberRecibo)
{
    configure(estado, canal);
    UploadOutcome outcome = send(estado, canal);
    if (outcome.end == UploadEnd::Cancelled) {
        return outcome;
    }
    estado.nomeArquivoRegistro = freeRecordName(estado.arquivo);
    if (outcome.sent() && aoReceberRecibo) {
        aoReceberRecibo(outcome);
    }
    outcome.record = gravarRegistroEnvio(dadosRegistro(estado), outcome.resultado, canal, estado.nomeArquivoRegistro);
    return outcome;
}

UploadOutcome runUnattendedUpload(AppState& estado, channel::TCanalZEBCliente& canal)
{
    configure(estado, canal);
    // The window keeps repainting while a large file's CRC is worked out.
    if (auto diferenca = verificarChecksum(estado, canal, [] { platform::ui().processEvents(); })) {
        platform::ui().showMessage(*diferenca, platform::MessageKind::Error);
        estado.codigoSaida = CodigoSaidaChecksumDiferente;
        UploadOutcome outcome;
        outcome.end = UploadEnd::ChecksumDiffers;
        outcome.error = std::move(*diferenca);
        return outcome;
    }
    UploadOutcome outcome = send(estado, canal);
    if (outcome.end == UploadEnd::Cancelled) {
        return outcome;
    }
    outcome.record = gravarRegistroEnvio(dadosRegistro(estado), outcome.resultado, canal, estado.nomeArquivoRegistro);
    return outcome;
}

std::optional<int> startUnattendedRun(const std::string& parameterFile, AppState& estado)
{
    const auto fail = [](int codigo, const std::string& mensagem) {
        platform::ui().showMessage(mensagem, platform::MessageKind::Error);
        return codigo;
    };
    std::error_code ec;
    if (parameterFile.empty() || !std::filesystem::is_regular_file(parameterFile, ec)) {
        return fail(CodigoSaidaSemArquivoParametros, MsgArquivoParametrosNaoEncontrado);
    }
    ParametrosEnvio parametros;
    if (const auto falha = verificarInicioParametros(parameterFile, parametros)) {
        return fail(falha->codigo, falha->mensagem);
    }
    aplicarParametros(parametros, estado);
    return std::nullopt;
}

}  // namespace vek::app
