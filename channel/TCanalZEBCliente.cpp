#include "channel/TCanalZEBCliente.h"

#include "channel/ConfigurationCheck.h"
#include "crypto/TBlowfishQv.h"
#include "platform/BaseDir.h"
#include "platform/Clock.h"
#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/IniFile.h"
#include "platform/SystemText.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/MessageCodes.h"
#include "wire/UserMessage.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vek::channel {
namespace {

using namespace wire;

constexpr const char* SecaoConfiguracao = "Defaults";

std::string shortString(const std::string& text)
{
    return platform::utf8Left(text, ShortStringLimit);
}

std::string firstUpper(const std::string& value)
{
    const std::string up = platform::upperText(value);
    return up.empty() ? std::string() : up.substr(0, 1);
}

}  // namespace

std::string NomeSistemaOperacional(const platform::OsVersionInfo& info)
{
    std::string name;
    switch (info.platformFamily) {
    case 0:
        name = "Windows3x";
        break;
    case 1:
        if (info.major == 4) {
            if (info.minor >= 90) {
                name = "WindowsME";
            } else if (info.minor >= 10) {
                name = "Windows98";
            } else {
                name = "Windows95";
            }
        }
        break;
    case 2:
        if (info.major <= 4) {
            name = "WindowsNT";
        } else if (info.major == 5) {
            if (info.minor >= 2) {
                name = "Windows2003Server";
            } else if (info.minor == 1) {
                name = "WindowsXP";
            } else {
                name = "Windows2000";
            }
        }
        break;
    default:
        break;
    }
    if (name == "Windows98" && info.servicePack == "A") {
        return name + " (Second Edition)";
    }
    return name + " (" + info.servicePack + ")";
}

TCanalZEBCliente::TCanalZEBCliente()
    : ArquivoTrace((platform::baseDir() / NomeArquivoTrace).string())
    , osVersionProvider(&platform::currentOsVersion)
{
    socket_.setEventPump(true);
}

TCanalZEBCliente::~TCanalZEBCliente() = default;

void TCanalZEBCliente::SetAplicacao(const std::string& value)
{
    if (!value.empty()) {
        aplicacao_ = value;
    }
}

void TCanalZEBCliente::SetTipo_Arquivo(const std::string& value)
{
    tipoArquivo_ = platform::upperText(value);
}

void TCanalZEBCliente::SetVersaoAplicativo(const std::string& value)
{
    if (!value.empty()) {
        versaoAplicativo_ = value;
    }
}

std::string TCanalZEBCliente::VersaoTransmissor() const
{
    return std::string(AplicacaoPadrao) + "-" + VersaoPadrao;
}

std::string TCanalZEBCliente::ID_Aplicacao_no_Servidor() const
{
    return aplicacao_ + "-" + versaoAplicativo_;
}

std::string TCanalZEBCliente::NomeSistemaOperacional() const
{
    return channel::NomeSistemaOperacional(osVersionProvider ? osVersionProvider() : platform::currentOsVersion());
}

void TCanalZEBCliente::LerConfiguracao()
{
    auto ini = platform::Configuration::current();
    // The two connection keys are written on first use so that the file shows
    // where to point the client (not where the system-wide template lies
    // under it); a file that cannot be written changes nothing.
    try {
        ini.writeDefault(SecaoConfiguracao, "ServidorInternet", ServidorPadrao);
        ini.writeDefault(SecaoConfiguracao, "PortaServico", std::to_string(PortaServicoPadrao));
    } catch (const Error&) {
    }
    naoConfigurado_ = unconfiguredMessage(ini);
    host_ = ini.readString(SecaoConfiguracao, "ServidorInternet", ServidorPadrao);
    const auto port = [&](const char* key, int fallback) {
        const int value = ini.readInteger(SecaoConfiguracao, key, fallback);
        return value >= 0 && value <= 65535 ? value : fallback;
    };
    porta_ = port("PortaServico", PortaServicoPadrao);
    portaFTP_ = port("PortaFTP", PortaFTPPadrao);
    portaDados_ = port("PortaDados", PortaDadosPadrao);
    const std::string janela = ini.readString(SecaoConfiguracao, "JanelaEnvio", "");
    janelaConfiguracao_ = janela.empty() ? 1 : janelaValida(janela).value_or(1);
    janelaInvalida_ = janela.empty() || janelaValida(janela) ? std::string() : janela;

    const std::string depuracao = firstUpper(ini.readString(SecaoConfiguracao, "Depuracao", "N"));
    traceSwitch_ = depuracao.empty() ? ' ' : depuracao[0];
    const std::string cript = firstUpper(ini.readString(SecaoConfiguracao, "ArquivoDepuracaoCript", "S"));
    traceCipherSwitch_ = cript.empty() ? ' ' : cript[0];
}

std::optional<int> TCanalZEBCliente::janelaValida(std::string_view text)
{
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1 || value > MaxJanelaEnvio) {
        return std::nullopt;
    }
    return value;
}

int TCanalZEBCliente::janelaEfetiva() const
{
    const int janela = janelaEnvio.value_or(janelaConfiguracao_);
    return janela < 1 || janela > MaxJanelaEnvio ? 1 : janela;
}

void TCanalZEBCliente::GravarTrace(const std::string& text)
{
    if (traceSwitch_ != 'S') {
        return;
    }
    const auto path = platform::baseDir() / std::filesystem::path(ArquivoTrace).filename();
    std::string line = platform::toWin1252(platform::formatTimestampMs(platform::localNow()) + " - " + text);
    if (traceCipherSwitch_ == 'S') {
        line = crypto::EncryptVEKText(line);
    }
    line += "\r\n";
    platform::StdioFile f;
    if (!f.open(path, "ab")) {
        const int err = errno;
        throw Error("Erro de E/S ao abrir o arquivo de rastreamento " + path.string() + ": " +
                        vek::platform::systemText(err),
                    err);
    }
    const std::size_t written = std::fwrite(line.data(), 1, line.size(), f.get());
    const int writeErr = errno;
    const bool closed = f.close();
    if (written != line.size() || !closed) {
        const int err = written != line.size() ? writeErr : errno;
        throw Error("Erro de E/S ao gravar o arquivo de rastreamento " + path.string() + ": " +
                        vek::platform::systemText(err),
                    err);
    }
}

void TCanalZEBCliente::ReportarEnvio(TTipoStatusEtapa statusPreparacao,
                                     int percentPreparacao,
                                     TTipoStatusEtapa statusConexao,
                                     int percentConexao,
                                     TTipoStatusEtapa statusTransmissao,
                                     int percentTransmissao,
                                     const std::string& texto)
{
    const auto pct = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 100)); };
    StatusEnvio.StatusPreparacao = statusPreparacao;
    StatusEnvio.PercentPreparacao = pct(percentPreparacao);
    StatusEnvio.StatusConexao = statusConexao;
    StatusEnvio.PercentConexao = pct(percentConexao);
    StatusEnvio.StatusTransmissao = statusTransmissao;
    StatusEnvio.PercentTransmissao = pct(percentTransmissao);
    StatusEnvio.Mensagem = shortString(texto);
    if (AoEnviarArquivo) {
        AoEnviarArquivo(*this, StatusEnvio);
    }
    platform::ui().processEvents();
}

void TCanalZEBCliente::ReportarDownload(std::int32_t percent, const std::string& texto)
{
    if (percent > StatusDownload.PercentFeito) {
        StatusDownload.PercentFeito = percent;
        StatusDownload.TextoInfo = shortString(texto);
    } else if (percent == -1) {
        StatusDownload.TextoInfo = shortString(texto);
    } else {
        return;
    }
    if (AoReceberArquivo) {
        AoReceberArquivo(*this, StatusDownload);
    }
    platform::ui().processEvents();
}

void TCanalZEBCliente::recusarSemConfiguracao() const
{
    if (naoConfigurado_) {
        throw Error(wire::userMessage(*naoConfigurado_));
    }
}

void TCanalZEBCliente::tentarConexao()
{
    reader_.discard();
    socket_.connect(host_, static_cast<std::uint16_t>(porta_), timeouts.connectAttempt);
}

void TCanalZEBCliente::Conectar()
{
    recusarSemConfiguracao();
    std::int64_t spent = 0;
    bool answered = false;
    int unconnectedAttempts = 0;
    std::string lastError;
    for (;;) {
        bool failed = false;
        try {
            tentarConexao();
            answered = true;
        } catch (const Error& e) {
            failed = true;
            const int code = e.code();
            lastError = "\"" + std::string(e.what()) + "\". Código de erro do Windows: " + std::to_string(code);
            GravarTrace("Erro ao conectar: " + std::string(e.what()) + " / Windows Error: " + std::to_string(code));
            platform::sleepFor(timeouts.connectPause);
            spent += timeouts.connectPause.count();
        }
        platform::ui().processEvents();
        if (socket_.connected()) {
            return;
        }
        if (!failed && ++unconnectedAttempts >= timeouts.maxUnconnectedAttempts) {
            break;
        }
        if (spent > timeouts.connectBudget.count()) {
            break;
        }
    }
    if (answered) {
        throw Error(
            wire::userMessage("O servidor da ZEB reportou que há um número excessivo de conexões no momento..."));
    }
    throw Error(wire::userMessage("Erro ao conectar-se com o servidor da ZEB: " + lastError));
}

Message TCanalZEBCliente::LerMensagem()
{
    platform::ui().processEvents();
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return platform::formatElapsed(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start));
    };
    try {
        if (reader_.buffered() == 0 && !socket_.waitReadable(timeouts.waitForData)) {
            GravarTrace("Wait for data FALSE. Tempo decorrido: " + elapsed());
        }
    } catch (const Error& e) {
        GravarTrace("Erro: (" + std::string(e.what()) + "). Tempo decorrido: " + elapsed());
    }

    const auto readFailed = [&](const Error& e, const std::string& what) -> Error {
        const int code = e.code();
        if (code == 0) {
            GravarTrace(what);
        }
        GravarTrace(std::string(e.what()) + " / Windows Error: " + std::to_string(code));
        if (code != 0) {
            return Error(wire::userMessage("Erro ao ler dados do socket: \"" + std::string(e.what()) +
                                           "\" / Código de erro do Windows: " + std::to_string(code)),
                         code);
        }
        return Error(e.what(), 0);
    };

    platform::ui().processEvents();
    Header h;
    try {
        h = reader_.readHeader(timeouts.streamTimeout);
    } catch (const Error& e) {
        throw readFailed(e, "Erro ao tentar ler 5 bytes...");
    }
    Message m{h.code, h.length, {}};
    if (h.length > MaxPayloadLength) {
        GravarTrace("Mensagem " + debugName(h.code) + " anuncia " + std::to_string(h.length) + " bytes");
        throw Error(wire::userMessage("O servidor da ZEB enviou uma mensagem inválida: " + std::to_string(h.length) +
                                      " bytes anunciados, acima do limite de " + std::to_string(MaxPayloadLength) +
                                      " bytes."),
                    EMSGSIZE);
    }
    if (h.length > 0) {
        platform::ui().processEvents();
        m.payload.resize(static_cast<std::size_t>(h.length));
        try {
            reader_.readPayload(m.payload, timeouts.streamTimeout);
        } catch (const Error& e) {
            throw readFailed(e, "Erro ao tentar ler " + std::to_string(h.length) + " bytes...");
        }
    }
    return m;
}

void TCanalZEBCliente::enviarMensagem(const std::vector<std::uint8_t>& frame)
{
    socket_.writeAll(frame, timeouts.streamTimeout);
}

void TCanalZEBCliente::EnviarAck()
{
    enviarMensagem(MontarMensagem(CMD_ACK, 0));
}

bool argumentoNomeiaTrace(const std::string& argumento)
{
    if (platform::upperText(platform::utf8Left(argumento, 3)) != "LOG") {
        return false;
    }
    std::error_code ec;
    return !std::filesystem::is_regular_file(argumento, ec);
}

void TCanalZEBCliente::aplicarNomeTraceLinhaComando()
{
    if (!argumentoNomeiaTrace(PrimeiroArgumento)) {
        return;
    }
    std::filesystem::path name(platform::upperText(PrimeiroArgumento));
    name.replace_extension(".log");
    ArquivoTrace = name.string();
}

}  // namespace vek::channel
