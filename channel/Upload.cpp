#include "channel/MessageCodes.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TRsaQv.h"
#include "crypto/UploadPreparation.h"
#include "platform/BaseDir.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/UserMessage.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace vek::channel {
namespace {

constexpr const char* MsgOperadoraNaoInformada = "Registro ZEB da Operadora não foi informado.";
constexpr const char* MsgSenhaNaoInformada =
    "A senha de transmissão deve ser informada, obrigatoriamente, e não pode ser nula (vazia)";
constexpr const char* MsgErroEnvioResultado = "Erro ao enviar dados para a ZEB.";
constexpr const char* MsgErroEnvioGenerico =
    "Erro ao transmitir o arquivo para a ZEB.\n\rCertifique-se de estar conectado à Internet, e que as "
    "configurações\n\rde sua rede mantem abertas as portas necessárias para conexão com o servidor da ZEB";
constexpr const char* MsgErroChaves = "<<CANAL_ZEB>> Erro de comunicação na leitura das chaves...";

std::string shortString(const std::string& text)
{
    return platform::utf8Left(text, 255);
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

void TCanalZEBCliente::EnviarArquivo(TResultadoEnvio& resultado)
{
    if (CD_Operadora.empty()) {
        throw Error(MsgOperadoraNaoInformada);
    }
    if (Senha.empty()) {
        throw Error(MsgSenhaNaoInformada);
    }
    struct SocketCloser
    {
        TCanalZEBCliente& canal;
        ~SocketCloser() { canal.fecharSocket(); }
    } closer{*this};
    try {
        LerConfiguracao();
        tamanhoBloco_ = crypto::UploadBlockSize;
        if (!Arquivo.empty() && Arquivo.size() >= 2 && Arquivo.front() == '"' && Arquivo.back() == '"') {
            Arquivo = Arquivo.substr(1, Arquivo.size() - 2);
        } else if (Arquivo == "\"") {
            Arquivo.clear();
        }
        platform::ui().setBusy(true);
        try {
            PrepararArquivo();
            SolicitarAutorizacao();
            TransmitirArquivo();
        } catch (...) {
            platform::ui().setBusy(false);
            throw;
        }
        platform::ui().setBusy(false);
        resultado.Sucesso = true;
        resultado.Protocolo = shortString(protUltimoEnvio_);
        resultado.DataHora = shortString(dtUltimoEnvio_);
        resultado.EnderecoIP = shortString(IP_Ultimo_Envio);
        resultado.Autenticacao = shortString(Autenticacao_Ultimo_Envio);
        resultado.MensagemErro.clear();
    } catch (const std::exception& e) {
        resultado.Sucesso = false;
        if (!protUltimoEnvio_.empty()) {
            resultado.Protocolo = shortString(protUltimoEnvio_);
            resultado.DataHora = shortString(dtUltimoEnvio_);
        }
        const std::string message = e.what();
        const int code = [&] {
            const auto* err = dynamic_cast<const Error*>(&e);
            return err != nullptr ? err->code() : 0;
        }();
        if (wire::hasUserMessagePrefix(message)) {
            resultado.MensagemErro = shortString(wire::withoutUserMessagePrefix(message));
            throw Error(wire::withoutUserMessagePrefix(message), code);
        }
        resultado.MensagemErro = MsgErroEnvioResultado;
        throw Error(MsgErroEnvioGenerico, code);
    }
}

void TCanalZEBCliente::PrepararArquivo()
{
    crypto::PreparationCallbacks callbacks;
    callbacks.report = [this](crypto::PreparationStatus status, int percent, const std::string& text) {
        ReportarEnvio(static_cast<TTipoStatusEtapa>(status), percent, tseNada, 0, tseNada, 0, text);
    };
    callbacks.trace = [this](const std::string& line) { GravarTrace(line); };
    ChaveSimetrica.clear();
    BlocosDados.clear();
    TamanhoCifrado = 0;
    crypto::PreparedUpload prepared = crypto::prepareUpload(Arquivo, platform::tempDir(), tamanhoBloco_, callbacks);
    ChaveSimetrica.assign(prepared.key.begin(), prepared.key.end());
    BlocosDados = std::move(prepared.blocks);
    TamanhoCifrado = prepared.tamanhoCifrado;
    tamanhoBloco_ = prepared.blockSize;
}

void TCanalZEBCliente::SolicitarAutorizacao()
{
    bool requestBuilt = false;
    const std::string endereco = host_ + ":" + std::to_string(porta_);
    ReportarEnvio(tseFinalizada,
                  100,
                  tseExecutando,
                  0,
                  tseNada,
                  0,
                  "Tentando efetuar conexão TCP com a ZEB no endereço " + endereco + " ...");
    try {
        try {
            GravarTrace("Tentando conectar em " + endereco);
            ReportarEnvio(
                tseFinalizada, 100, tseExecutando, 50, tseNada, 0, "Solicitando autorização para transmissão...");
            Conectar();

            const auto writeOrFail = [this](const std::vector<std::uint8_t>& frame) {
                try {
                    enviarMensagem(frame);
                } catch (const Error& e) {
                    GravarTrace(std::string(e.what()) + " S.O.: " + std::to_string(e.code()));
                    throw;
                }
            };
            if (!StrValidacaoLivre.empty()) {
                GravarTrace("mensagem exclusiva de pré-validação do arquivo: " + StrValidacaoLivre);
                writeOrFail(frameOf(CMD_PRE_VALIDACAO, platform::toWin1252(StrValidacaoLivre)));
                GravarTrace("Enviada a mensagem com string adicional de validação exclusiva do aplicativo...");
            }

            const std::string pedido = VersaoTransmissor() + "|" + ID_Aplicacao_no_Servidor() + "|" + CD_Operadora +
                                       "|" + Tipo_Arquivo() + "|" + NomeSistemaOperacional() + "|" +
                                       std::filesystem::path(Arquivo).filename().string() + "|";
            const std::string pedidoWire =
                platform::toWin1252(pedido) + crypto::EncryptProtocolText(platform::toWin1252(Senha));
            requestBuilt = true;

            GravarTrace("Operadora: " + CD_Operadora + " Arquivo: " + Arquivo);
            GravarTrace("CRCHex do Arquivo: " + HashArquivo);
            GravarTrace("Enviando mensagem de solicitação de autorização de transmissão");
            writeOrFail(frameOf(CMD_PEDIDO_ENVIO, pedidoWire));

            ReportarEnvio(tseFinalizada, 100, tseExecutando, 75, tseNada, 0, "Aguardando resposta de autorização...");
            GravarTrace("Lendo resposta do servidor.");
            const Message resposta = LerMensagem();
            if (resposta.code == CMD_ACEITO) {
                GravarTrace("Recebida mensagem de autorização de transmissão.");
                ReportarEnvio(
                    tseFinalizada, 100, tseExecutando, 100, tseNada, 0, "O Servidor da ZEB autorizou transmissão...");
                const Message modulo = LerMensagem();
                if (modulo.code != CMD_CHAVE_MODULO) {
                    throw Error(MsgErroChaves);
                }
                const Message expoente = LerMensagem();
                if (expoente.code != CMD_CHAVE_EXPOENTE) {
                    throw Error(MsgErroChaves);
                }
                crypto::TRsaParams params{crypto::NumberFromBytes(modulo.payload),
                                          crypto::NumberFromBytes(expoente.payload),
                                          crypto::NumberFromDecimal("0")};
                ChaveServidor = std::make_shared<crypto::TRsaQv>(params);
            } else if (resposta.code == CMD_NEGADO) {
                const std::string motivo = platform::fromWin1252(resposta.text());
                GravarTrace("Recebida mensagem de conexão negada -> " + motivo);
                // Blank means nothing but spaces and control characters.
                const bool temTexto = std::any_of(
                    motivo.begin(), motivo.end(), [](char c) { return static_cast<unsigned char>(c) > ' '; });
                if (temTexto) {
                    platform::ui().showMessage(motivo, platform::MessageKind::Information);
                }
                ReportarEnvio(tseFinalizada,
                              100,
                              tseErro,
                              100,
                              tseNada,
                              0,
                              "A transmissão do arquivo foi rejeitada, verificar normas em vigor.");
                throw Error("<<CANAL_ZEB>> O servidor reportou que esta transmissão foi rejeitada. Mensagem: " +
                            motivo);
            } else {
                // Without the key the transmission cannot start: stop here with a clear text.
                GravarTrace("Resposta inesperada à solicitação de autorização: " + debugName(resposta.code));
                throw Error("<<CANAL_ZEB>> O servidor da ZEB respondeu à solicitação de autorização com uma mensagem "
                            "inesperada (código " +
                            std::to_string(resposta.code) + "). Transmissão não efetuada.");
            }
        } catch (...) {
            if (requestBuilt) {
                ReportarEnvio(tseFinalizada, 100, tseFinalizada, 100, tseNada, 0, "");
            }
            throw;
        }
        ReportarEnvio(tseFinalizada, 100, tseFinalizada, 100, tseNada, 0, "");
    } catch (const std::exception& e) {
        // The connection gauge stays where the last report left it (full once
        // the request was built, since the closing report above fills it).
        ReportarEnvio(
            tseFinalizada, 100, tseErro, StatusEnvio.PercentConexao, tseNada, 0, "Erro: " + std::string(e.what()));
        throw;
    }
}

void TCanalZEBCliente::TransmitirArquivo()
{
    // However the step ends, the key goes and the socket closes; on a failure
    // before the failure is reported, so no report handler runs with the
    // connection still open.
    const auto liberar = [this]() noexcept {
        ChaveServidor.reset();
        fecharSocket();
    };
    struct Release
    {
        const decltype(liberar)& fn;
        ~Release() { fn(); }
    } release{liberar};

    ReportarEnvio(tseFinalizada, 100, tseFinalizada, 100, tseExecutando, 0, "Iniciando a transmissão do arquivo ...");
    GravarTrace("Iniciando fase de transmissão do arquivo.");
    platform::ui().processEvents();
    platform::ui().processEvents();
    try {
        if (!ChaveServidor) {
            throw Error("<<CANAL_ZEB>> A chave do servidor da ZEB não foi recebida. Transmissão não efetuada.");
        }
        GravarTrace("Encriptando e enviando chave simétrica");
        const auto chave = ChaveServidor->Encrypt(ChaveSimetrica, false);
        try {
            enviarMensagem(MontarMensagem(CMD_CHAVE_SIMETRICA, static_cast<std::int32_t>(chave.size()), chave));
        } catch (const Error& e) {
            // The server will refuse what follows; the step goes on to find out.
            GravarTrace(std::string(e.what()) + " / Windows Error: " + std::to_string(e.code()));
        }

        ReportarEnvio(tseFinalizada, 100, tseFinalizada, 100, tseExecutando, 20, "Enviando dados do arquivo ...");
        GravarTrace("Enviando mensagem com o hash do arquivo: " + HashArquivo);
        enviarMensagem(frameOf(CMD_HASH_ARQUIVO, platform::toWin1252(HashArquivo)));
        GravarTrace("Esperando ACK");
        LerMensagem();
        GravarTrace("Recebido ACK");

        GravarTrace("Enviando mensagem com tamanho do arquivo");
        const auto sizeBytes = wire::encodeInt32(TamanhoCifrado);
        enviarMensagem(MontarMensagem(CMD_TAMANHO, static_cast<std::int32_t>(sizeBytes.size()), sizeBytes));
        GravarTrace("Esperando ACK");
        LerMensagem();
        GravarTrace("Recebido ACK");

        const auto n = static_cast<std::int64_t>(BlocosDados.size());
        // One frame buffer for every block; trace texts only when tracing is on.
        std::vector<std::uint8_t> frame;
        frame.reserve(HeaderSize + static_cast<std::size_t>(tamanhoBloco_));
        const bool tracing = traceLigado();
        for (std::int64_t i = 1; i <= n; ++i) {
            const auto& bloco = BlocosDados[static_cast<std::size_t>(i - 1)];
            const auto len = static_cast<std::int32_t>(bloco.size());
            if (tracing) {
                GravarTrace("Enviando bloco de dados " + std::to_string(i) + " tamanho: " + std::to_string(len));
            }
            const auto header = wire::encodeHeader({CMD_BLOCO, len});
            frame.assign(header.begin(), header.end());
            frame.insert(frame.end(), bloco.begin(), bloco.end());
            enviarMensagem(frame);
            if (tracing) {
                GravarTrace("Esperando ACK");
            }
            if (LerMensagem().code == CMD_ACK) {
                if (tracing) {
                    GravarTrace("Recebido ACK (" + std::to_string(wire::HeaderSize + bloco.size()) +
                                " bytes enviados)");
                }
            } else {
                GravarTrace("Servidor não respondeu com ACK!");
            }
            if (reportaBloco(i)) {
                const double done = 100.0 * static_cast<double>(i) / static_cast<double>(n);
                const int pct = std::min(100, 20 + static_cast<int>(std::nearbyint(done)));
                ReportarEnvio(tseFinalizada,
                              100,
                              tseFinalizada,
                              100,
                              tseExecutando,
                              pct,
                              "Enviando dados do arquivo: " + percentText(done) + "% concluído.");
            }
        }

        GravarTrace("Enviando mensagem de fim de dados");
        try {
            enviarMensagem(MontarMensagem(CMD_FIM_DADOS, 0));
        } catch (const Error& e) {
            GravarTrace(std::string(e.what()) + " / Windows Error: " + std::to_string(e.code()));
            throw;
        }
        ReportarEnvio(tseFinalizada,
                      100,
                      tseFinalizada,
                      100,
                      tseExecutando,
                      100,
                      "Aguardando confirmação de recebimento do servidor...");
        GravarTrace("Lendo Protocolo");
        const Message recibo = LerMensagem();
        if (recibo.code == CMD_PROTOCOLO) {
            ReportarEnvio(tseFinalizada, 100, tseFinalizada, 100, tseExecutando, 100, "Confirmação OK.");
            std::string resto = platform::fromWin1252(recibo.text());
            protUltimoEnvio_ = ExtrairCampo(resto);
            dtUltimoEnvio_ = ExtrairCampo(resto);
            IP_Ultimo_Envio = ExtrairCampo(resto);
            Autenticacao_Ultimo_Envio = resto;
            GravarTrace("Dados corretos. Protocolo: " + protUltimoEnvio_ +
                        " Autenticação: " + Autenticacao_Ultimo_Envio);
            EnviarAck();
            GravarTrace("VEK enviou a confirmação de recebimento do protocolo.");
            ReportarEnvio(tseFinalizada, 100, tseFinalizada, 100, tseFinalizada, 100, "Arquivo enviado com sucesso...");
        } else {
            const std::string texto = platform::fromWin1252(recibo.text());
            GravarTrace("Erro no recebimento. Comando do servidor: " + std::to_string(recibo.code) +
                        " mensagem: " + texto);
            ReportarEnvio(tseFinalizada,
                          100,
                          tseFinalizada,
                          100,
                          tseErro,
                          100,
                          "Erro ao receber o protocolo de confirmação da transmissão do arquivo!");
            if (!recibo.payload.empty()) {
                throw Error("<<CANAL_ZEB>> Erro ao confirmar transmissão: " + texto);
            }
            throw Error("<<CANAL_ZEB>> Erro ao receber o protocolo de confirmação da transmissão do arquivo. "
                        "Transmissão não efetuada.");
        }
    } catch (const std::exception& e) {
        liberar();
        ReportarEnvio(tseFinalizada, 100, tseFinalizada, 100, tseErro, 100, e.what());
        throw;
    }
}

}  // namespace vek::channel
