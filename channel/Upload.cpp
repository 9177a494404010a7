#include "channel/Exchange.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TRsaQv.h"
#include "crypto/UploadPreparation.h"
#include "platform/BaseDir.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/MessageCodes.h"
#include "wire/UserMessage.h"

#include <algorithm>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <string.h>

namespace vek::channel {
namespace {

using namespace wire;

constexpr const char* MsgOperadoraNaoInformada = "Registro ZEB da Operadora não foi informado.";
constexpr const char* MsgSenhaNaoInformada =
    "A senha de transmissão deve ser informada, obrigatoriamente, e não pode ser nula (vazia)";
constexpr const char* MsgErroEnvioResultado = "Erro ao enviar dados para a ZEB.";
constexpr const char* MsgErroEnvioGenerico =
    "Erro ao transmitir o arquivo para a ZEB.\n\rCertifique-se de estar conectado à Internet, e que as "
    "configurações\n\rde sua rede mantem abertas as portas necessárias para conexão com o servidor da ZEB";
constexpr const char* MsgErroChaves = "Erro de comunicação na leitura das chaves...";

// The largest server key taken: twice the largest RSA modulus in common use
// (4096 bits), so an agency key of any ordinary size passes while the wrap
// stays a fraction of a second; the exponent may not be longer than the
// modulus. (An empty modulus fails later, as any unusable key.)
constexpr std::size_t MaxServerKeyBits = 8192;

// Bits of an unsigned big-endian number, leading zeros not counted.
std::size_t significantBits(const std::vector<std::uint8_t>& bytes)
{
    const auto first = std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; });
    if (first == bytes.end()) {
        return 0;
    }
    return static_cast<std::size_t>(bytes.end() - first - 1) * 8 + static_cast<std::size_t>(std::bit_width(*first));
}

std::string shortString(const std::string& text)
{
    return platform::utf8Left(text, ShortStringLimit);
}

// "12.50" or "12,50": two decimals with the user's decimal separator.
std::string percentText(double value)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", value);
    std::string text = buf;
    const char* sep = std::localeconv()->decimal_point;
    if (const auto dot = text.find('.'); dot != std::string::npos && sep != nullptr && *sep != '\0') {
        text.replace(dot, 1, sep);
    }
    return text;
}

// Blocks 1 to 79 report, then a window of 100 reporting blocks every 300;
// blocks 9,970 to 10,069 always report.
bool reportaBloco(std::int64_t i)
{
    const std::int64_t j = i - 1;
    return ((j + 21) / 100) % 3 == 0 || (j + 31) / 100 == 100;
}

// The hourglass for the duration of the three steps, however they end.
class BusyPointer
{
public:
    BusyPointer() { platform::ui().setBusy(true); }
    ~BusyPointer() { platform::ui().setBusy(false); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

// A path given between double quotes is used without them.
std::string withoutQuotes(const std::string& arquivo)
{
    if (arquivo.size() >= 2 && arquivo.front() == '"' && arquivo.back() == '"') {
        return arquivo.substr(1, arquivo.size() - 2);
    }
    return arquivo == "\"" ? std::string() : arquivo;
}

}  // namespace

std::string ExtrairCampo(std::string& texto)
{
    const auto bar = texto.find('|');
    if (bar == std::string::npos) {
        std::string all = std::move(texto);
        texto.clear();
        return all;
    }
    std::string field = texto.substr(0, bar);
    texto.erase(0, bar + 1);
    return field;
}

// Preparation, authorization and transmission on one connection. A failure
// leaves with the user-message rule; the result record tells the same, with
// the generic failure in its short form.
void TCanalZEBCliente::EnviarArquivo(TResultadoEnvio& resultado)
{
    if (CD_Operadora.empty()) {
        throw Error(MsgOperadoraNaoInformada);
    }
    if (Senha.empty()) {
        throw Error(MsgSenhaNaoInformada);
    }
    Exchange exchange(*this, [](int code) { return Error(MsgErroEnvioGenerico, code); });
    try {
        exchange.run([&] {
            LerConfiguracao();
            tamanhoBloco_ = crypto::UploadBlockSize;
            Arquivo = withoutQuotes(Arquivo);
            const BusyPointer busy;
            PrepararArquivo();
            SolicitarAutorizacao(exchange);
            TransmitirArquivo(exchange);
        });
    } catch (const Error& e) {
        resultado.Sucesso = false;
        if (!protUltimoEnvio_.empty()) {
            resultado.Protocolo = shortString(protUltimoEnvio_);
            resultado.DataHora = shortString(dtUltimoEnvio_);
        }
        const std::string message = e.what();
        resultado.MensagemErro = message == MsgErroEnvioGenerico ? MsgErroEnvioResultado : shortString(message);
        throw;
    }
    resultado.Sucesso = true;
    resultado.Protocolo = shortString(protUltimoEnvio_);
    resultado.DataHora = shortString(dtUltimoEnvio_);
    resultado.EnderecoIP = shortString(IP_Ultimo_Envio);
    resultado.Autenticacao = shortString(Autenticacao_Ultimo_Envio);
    resultado.MensagemErro.clear();
}

void TCanalZEBCliente::PrepararArquivo()
{
    crypto::PreparationCallbacks callbacks;
    callbacks.report = [this](crypto::PreparationStatus status, int percent, const std::string& text) {
        ReportarEnvio(static_cast<TTipoStatusEtapa>(status), percent, tseNada, 0, tseNada, 0, text);
    };
    callbacks.trace = [this](const std::string& line) { GravarTrace(line); };
    ChaveSimetrica.clear();
    BlocosDados = crypto::BlockFile();
    TamanhoCifrado = 0;
    crypto::PreparedUploadFile prepared =
        crypto::prepareUploadFile(Arquivo, platform::tempDir(), tamanhoBloco_, callbacks);
    ChaveSimetrica.assign(prepared.key.begin(), prepared.key.end());
    explicit_bzero(prepared.key.data(), prepared.key.size());
    BlocosDados = std::move(prepared.blocks);
    TamanhoCifrado = BlocosDados.total();
    tamanhoBloco_ = BlocosDados.blockSize();
}

void TCanalZEBCliente::reportConnectionStep(TTipoStatusEtapa status, int percent, const std::string& texto)
{
    ReportarEnvio(tseFinalizada, 100, status, percent, tseNada, 0, texto);
}

void TCanalZEBCliente::reportTransmissionStep(TTipoStatusEtapa status, int percent, const std::string& texto)
{
    ReportarEnvio(tseFinalizada, 100, tseFinalizada, 100, status, percent, texto);
}

void TCanalZEBCliente::sendTracingFailure(const std::vector<std::uint8_t>& frame, const char* failureLabel)
{
    try {
        enviarMensagem(frame);
    } catch (const Error& e) {
        GravarTrace(std::string(e.what()) + failureLabel + std::to_string(e.code()));
        throw;
    }
}

// [18 →] 1 →, ← 3, ← 4, ← 5. Leaves the connection open and the server's key
// in ChaveServidor.
void TCanalZEBCliente::SolicitarAutorizacao(Exchange& exchange)
{
    const std::string endereco = host_ + ":" + std::to_string(porta_);
    reportConnectionStep(tseExecutando, 0, "Tentando efetuar conexão TCP com a ZEB no endereço " + endereco + " ...");
    try {
        GravarTrace("Tentando conectar em " + endereco);
        reportConnectionStep(tseExecutando, 50, "Solicitando autorização para transmissão...");
        exchange.connect();
        if (!StrValidacaoLivre.empty()) {
            GravarTrace("mensagem exclusiva de pré-validação do arquivo: " + StrValidacaoLivre);
            sendTracingFailure(frameOf(CMD_PRE_VALIDACAO, platform::toWin1252(StrValidacaoLivre)), " S.O.: ");
            GravarTrace("Enviada a mensagem com string adicional de validação exclusiva do aplicativo...");
        }
        requestAuthorization(uploadRequestText());
    } catch (const std::exception& e) {
        // The connection gauge stays where the last report left it (full once
        // the request was built, since the step's closing report fills it).
        reportConnectionStep(tseErro, StatusEnvio.PercentConexao, "Erro: " + std::string(e.what()));
        throw;
    }
}

std::string TCanalZEBCliente::uploadRequestText() const
{
    const std::string campos = VersaoTransmissor() + "|" + ID_Aplicacao_no_Servidor() + "|" + CD_Operadora + "|" +
                               Tipo_Arquivo() + "|" + NomeSistemaOperacional() + "|" +
                               std::filesystem::path(Arquivo).filename().string() + "|";
    return platform::toWin1252(campos) + crypto::EncryptProtocolText(platform::toWin1252(Senha));
}

// Once the request is built the step ends with both gauges full, whatever
// the server answers.
void TCanalZEBCliente::requestAuthorization(const std::string& pedido)
{
    try {
        GravarTrace("Operadora: " + CD_Operadora + " Arquivo: " + Arquivo);
        GravarTrace("CRCHex do Arquivo: " + HashArquivo);
        GravarTrace("Enviando mensagem de solicitação de autorização de transmissão");
        sendTracingFailure(frameOf(CMD_PEDIDO_ENVIO, pedido), " S.O.: ");
        reportConnectionStep(tseExecutando, 75, "Aguardando resposta de autorização...");
        GravarTrace("Lendo resposta do servidor.");
        const Message resposta = LerMensagem();
        if (resposta.code == CMD_ACEITO) {
            receiveServerKey();
        } else if (resposta.code == CMD_NEGADO) {
            refuseUpload(platform::fromWin1252(resposta.text()));
        } else {
            // Without the key the transmission cannot start: stop here with a clear text.
            GravarTrace("Resposta inesperada à solicitação de autorização: " + debugName(resposta.code));
            throw Error(userMessage("O servidor da ZEB respondeu à solicitação de autorização com uma mensagem "
                                    "inesperada (código " +
                                    std::to_string(resposta.code) + "). Transmissão não efetuada."));
        }
    } catch (const std::exception&) {
        reportConnectionStep(tseFinalizada, 100, "");
        throw;
    }
    reportConnectionStep(tseFinalizada, 100, "");
}

void TCanalZEBCliente::receiveServerKey()
{
    GravarTrace("Recebida mensagem de autorização de transmissão.");
    reportConnectionStep(tseExecutando, 100, "O Servidor da ZEB autorizou transmissão...");
    const Message modulo = LerMensagem();
    if (modulo.code != CMD_CHAVE_MODULO) {
        throw Error(userMessage(MsgErroChaves));
    }
    const Message expoente = LerMensagem();
    if (expoente.code != CMD_CHAVE_EXPOENTE) {
        throw Error(userMessage(MsgErroChaves));
    }
    // The key wrap raises the symmetric key to the exponent modulo the
    // modulus on this thread: a key far larger than any real one would hold
    // the program for minutes or hours, so it is refused before any
    // arithmetic.
    const std::size_t bitsModulo = significantBits(modulo.payload);
    const std::size_t bitsExpoente = significantBits(expoente.payload);
    if (bitsModulo > MaxServerKeyBits || (bitsModulo > 0 && bitsExpoente > bitsModulo)) {
        GravarTrace("Chave pública do servidor recusada: módulo de " + std::to_string(bitsModulo) +
                    " bits, expoente de " + std::to_string(bitsExpoente) + " bits.");
        throw Error(userMessage("O servidor da ZEB enviou uma chave pública de tamanho inválido (módulo de " +
                                std::to_string(bitsModulo) + " bits, expoente de " + std::to_string(bitsExpoente) +
                                " bits; o limite é de " + std::to_string(MaxServerKeyBits) +
                                " bits). Transmissão não efetuada."));
    }
    crypto::TRsaParams params{crypto::NumberFromBytes(modulo.payload),
                              crypto::NumberFromBytes(expoente.payload),
                              crypto::NumberFromDecimal("0")};
    ChaveServidor = std::make_shared<crypto::TRsaQv>(params);
}

void TCanalZEBCliente::refuseUpload(const std::string& motivo)
{
    GravarTrace("Recebida mensagem de conexão negada -> " + motivo);
    // Blank means nothing but spaces and control characters.
    const bool temTexto =
        std::any_of(motivo.begin(), motivo.end(), [](char c) { return static_cast<unsigned char>(c) > ' '; });
    if (temTexto) {
        platform::ui().showMessage(motivo, platform::MessageKind::Information);
    }
    reportConnectionStep(tseErro, 100, "A transmissão do arquivo foi rejeitada, verificar normas em vigor.");
    throw Error(userMessage("O servidor reportou que esta transmissão foi rejeitada. Mensagem: " + motivo));
}

// 6 →, 43 →, ← any, 7 →, ← any, then 9 → and ← 39 per block, 10 →, ← 12, 39 →.
// However the step ends, the connection closes and the keys go; on a failure
// before the failure is reported, so no report handler runs with the
// connection still open.
void TCanalZEBCliente::TransmitirArquivo(Exchange& exchange)
{
    reportTransmissionStep(tseExecutando, 0, "Iniciando a transmissão do arquivo ...");
    GravarTrace("Iniciando fase de transmissão do arquivo.");
    platform::ui().processEvents();
    platform::ui().processEvents();
    try {
        sendSymmetricKey();
        reportTransmissionStep(tseExecutando, 20, "Enviando dados do arquivo ...");
        GravarTrace("Enviando mensagem com o hash do arquivo: " + HashArquivo);
        enviarMensagem(frameOf(CMD_HASH_ARQUIVO, platform::toWin1252(HashArquivo)));
        readAnyReply();
        GravarTrace("Enviando mensagem com tamanho do arquivo");
        const auto tamanho = encodeInt32(TamanhoCifrado);
        enviarMensagem(MontarMensagem(CMD_TAMANHO, static_cast<std::int32_t>(tamanho.size()), tamanho));
        readAnyReply();
        sendBlocks();
        GravarTrace("Enviando mensagem de fim de dados");
        sendTracingFailure(MontarMensagem(CMD_FIM_DADOS, 0), " / Windows Error: ");
        reportTransmissionStep(tseExecutando, 100, "Aguardando confirmação de recebimento do servidor...");
        GravarTrace("Lendo Protocolo");
        receiveReceipt(LerMensagem());
    } catch (const std::exception& e) {
        exchange.close();
        reportTransmissionStep(tseErro, 100, e.what());
        throw;
    }
    exchange.close();
}

void TCanalZEBCliente::sendSymmetricKey()
{
    if (!ChaveServidor) {
        throw Error(userMessage("A chave do servidor da ZEB não foi recebida. Transmissão não efetuada."));
    }
    GravarTrace("Encriptando e enviando chave simétrica");
    const auto chave = ChaveServidor->Encrypt(ChaveSimetrica, false);
    try {
        enviarMensagem(MontarMensagem(CMD_CHAVE_SIMETRICA, static_cast<std::int32_t>(chave.size()), chave));
    } catch (const Error& e) {
        // The server will refuse what follows; the step goes on to find out.
        GravarTrace(std::string(e.what()) + " / Windows Error: " + std::to_string(e.code()));
    }
}

// The replies to the hash and size messages are read whatever their code.
void TCanalZEBCliente::readAnyReply()
{
    GravarTrace("Esperando ACK");
    LerMensagem();
    GravarTrace("Recebido ACK");
}

void TCanalZEBCliente::sendBlocks()
{
    if (!janelaEnvio && !janelaInvalida_.empty()) {
        GravarTrace(std::string("JanelaEnvio inválida no ") + NomeArquivoConfiguracao + ": \"" + janelaInvalida_ +
                    "\" (esperado um número inteiro de 1 a " + std::to_string(MaxJanelaEnvio) +
                    "); cada bloco espera a sua confirmação");
    }
    if (const int janela = janelaEfetiva(); janela > 1) {
        sendBlocksWindowed(janela);
        return;
    }
    const auto n = static_cast<std::int64_t>(BlocosDados.size());
    // One frame buffer for every block; trace texts only when tracing is on.
    std::vector<std::uint8_t> frame;
    frame.reserve(HeaderSize + static_cast<std::size_t>(tamanhoBloco_));
    const bool tracing = traceLigado();
    for (std::int64_t i = 1; i <= n; ++i) {
        frame.resize(HeaderSize + static_cast<std::size_t>(tamanhoBloco_));
        const auto len = static_cast<std::int32_t>(
            BlocosDados.read(static_cast<std::size_t>(i - 1), std::span(frame).subspan(HeaderSize)));
        frame.resize(HeaderSize + static_cast<std::size_t>(len));
        if (tracing) {
            GravarTrace("Enviando bloco de dados " + std::to_string(i) + " tamanho: " + std::to_string(len));
        }
        const auto header = encodeHeader({CMD_BLOCO, len});
        std::copy(header.begin(), header.end(), frame.begin());
        enviarMensagem(frame);
        if (tracing) {
            GravarTrace("Esperando ACK");
        }
        blockReplied(i, n, LerMensagem().code, frame.size(), tracing);
    }
}

// Up to `janela` blocks are written before their replies are read. Writes
// never wait while a reply could be read: a server that stops reading until
// its replies are taken would otherwise hold both ends for ever. Frames go
// out several at a time (up to 64 KiB per write), so a wide window costs a
// system call per batch rather than per block. Replies are taken in block
// order as they come, each with the trace lines and progress of
// stop-and-wait; the last one is read before the end of data goes out.
void TCanalZEBCliente::sendBlocksWindowed(int janela)
{
    constexpr std::size_t BatchBytes = 64 * 1024;
    const auto n = static_cast<std::int64_t>(BlocosDados.size());
    const bool tracing = traceLigado();
    std::vector<std::uint8_t> out;  // frames not yet wholly on the socket
    out.reserve(BatchBytes + HeaderSize + static_cast<std::size_t>(tamanhoBloco_));
    std::size_t written = 0;       // bytes of `out` already on the socket
    std::deque<std::size_t> ends;  // where each frame in `out` ends
    std::int64_t started = 0;      // blocks whose frame went into `out`
    std::int64_t replied = 0;      // blocks whose reply was read
    const auto readReply = [&] {
        ++replied;
        blockReplied(replied, n, LerMensagem().code, HeaderSize + BlocosDados.blockLength(replied - 1), tracing);
    };
    const auto addFrame = [&] {
        ++started;
        const std::size_t at = out.size();
        out.resize(at + HeaderSize + static_cast<std::size_t>(tamanhoBloco_));
        const auto len = static_cast<std::int32_t>(
            BlocosDados.read(static_cast<std::size_t>(started - 1), std::span(out).subspan(at + HeaderSize)));
        out.resize(at + HeaderSize + static_cast<std::size_t>(len));
        const auto header = encodeHeader({CMD_BLOCO, len});
        std::copy(header.begin(), header.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
        ends.push_back(out.size());
        if (tracing) {
            GravarTrace("Enviando bloco de dados " + std::to_string(started) + " tamanho: " + std::to_string(len));
            GravarTrace("Esperando ACK");
        }
    };
    while (replied < n) {
        while (!ends.empty() && ends.front() <= written) {
            ends.pop_front();
        }
        if (ends.empty()) {
            out.clear();
            written = 0;
        } else if (written >= BatchBytes) {
            // Keep the buffer from growing: drop what is on the socket.
            out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(written));
            for (auto& end : ends) {
                end -= written;
            }
            written = 0;
        }
        // Blocks wholly on the socket and not yet answered.
        const std::int64_t awaiting = started - static_cast<std::int64_t>(ends.size()) - replied;
        while (started < n && started - replied < janela && out.size() - written < BatchBytes) {
            addFrame();
        }
        if (ends.empty()) {
            readReply();
            continue;
        }
        if (awaiting > 0 && (reader_.buffered() > 0 || socket_.readableNow())) {
            readReply();
            continue;
        }
        if (awaiting == 0) {
            // No reply is due: the write may wait as in stop-and-wait.
            socket_.writeAll(std::span(out).subspan(written), timeouts.streamTimeout);
            written = out.size();
            continue;
        }
        written += socket_.writeSome(std::span(out).subspan(written));
        if (written == out.size()) {
            continue;
        }
        const auto ready = socket_.waitReadableOrWritable(timeouts.streamTimeout);
        if (!ready.readable && !ready.writable) {
            throw Error("Tempo esgotado ao escrever no socket", ETIMEDOUT);
        }
        if (ready.readable) {
            readReply();
        }
    }
}

void TCanalZEBCliente::blockReplied(
    std::int64_t i, std::int64_t n, std::uint8_t code, std::size_t frameLength, bool tracing)
{
    if (code == CMD_ACK) {
        if (tracing) {
            GravarTrace("Recebido ACK (" + std::to_string(frameLength) + " bytes enviados)");
        }
    } else {
        GravarTrace("Servidor não respondeu com ACK!");
    }
    if (onTransferProgress) {
        const std::int64_t total = TamanhoCifrado;
        onTransferProgress(std::min(total, i * static_cast<std::int64_t>(tamanhoBloco_)), total);
    }
    if (reportaBloco(i)) {
        const double done = 100.0 * static_cast<double>(i) / static_cast<double>(n);
        const int pct = std::min(100, 20 + static_cast<int>(std::nearbyint(done)));
        reportTransmissionStep(tseExecutando, pct, "Enviando dados do arquivo: " + percentText(done) + "% concluído.");
    }
}

void TCanalZEBCliente::receiveReceipt(const Message& recibo)
{
    const std::string texto = platform::fromWin1252(recibo.text());
    if (recibo.code != CMD_PROTOCOLO) {
        GravarTrace("Erro no recebimento. Comando do servidor: " + std::to_string(recibo.code) + " mensagem: " + texto);
        reportTransmissionStep(tseErro, 100, "Erro ao receber o protocolo de confirmação da transmissão do arquivo!");
        if (!recibo.payload.empty()) {
            throw Error(userMessage("Erro ao confirmar transmissão: " + texto));
        }
        throw Error(userMessage("Erro ao receber o protocolo de confirmação da transmissão do arquivo. "
                                "Transmissão não efetuada."));
    }
    reportTransmissionStep(tseExecutando, 100, "Confirmação OK.");
    std::string resto = texto;
    protUltimoEnvio_ = ExtrairCampo(resto);
    dtUltimoEnvio_ = ExtrairCampo(resto);
    IP_Ultimo_Envio = ExtrairCampo(resto);
    Autenticacao_Ultimo_Envio = resto;
    GravarTrace("Dados corretos. Protocolo: " + protUltimoEnvio_ + " Autenticação: " + Autenticacao_Ultimo_Envio);
    EnviarAck();
    GravarTrace("VEK enviou a confirmação de recebimento do protocolo.");
    reportTransmissionStep(tseFinalizada, 100, "Arquivo enviado com sucesso...");
}

}  // namespace vek::channel
