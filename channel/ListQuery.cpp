#include "channel/MessageCodes.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TGzip.h"
#include "platform/BaseDir.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/UserMessage.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vek::channel {
namespace {

constexpr const char* MsgOperadoraNaoInformada = "O registro da Operadora não foi informado.";
constexpr const char* MsgSenhaNaoInformada = "A Senha não foi informada !";
constexpr const char* MascaraMesVazia = "  /    ";
constexpr const char* ArquivoRecebido = "dados.gz";

class GzFile
{
public:
    explicit GzFile(const std::filesystem::path& path)
        : f_(std::fopen(path.c_str(), "wb"))
    {}
    ~GzFile()
    {
        if (f_ != nullptr) {
            std::fclose(f_);
        }
    }
    GzFile(const GzFile&) = delete;
    GzFile& operator=(const GzFile&) = delete;
    [[nodiscard]] bool open() const { return f_ != nullptr; }
    std::size_t write(const std::vector<std::uint8_t>& data)
    {
        const std::size_t n = data.empty() ? 0 : std::fwrite(data.data(), 1, data.size(), f_);
        if (n != data.size()) {
            const int err = errno;
            throw Error(std::string("Erro ao gravar a lista de arquivos: ") + std::strerror(err), err);
        }
        return n;
    }
    void close()
    {
        if (f_ != nullptr) {
            const int rc = std::fclose(f_);
            f_ = nullptr;
            if (rc != 0) {
                const int err = errno;
                throw Error(std::string("Erro ao gravar a lista de arquivos: ") + std::strerror(err), err);
            }
        }
    }

private:
    std::FILE* f_;
};

}  // namespace

std::string nomeArquivoSeguro(const std::string& nome)
{
    const auto cut = nome.find_last_of("/\\:");
    const std::string base = cut == std::string::npos ? nome : nome.substr(cut + 1);
    if (base.find_first_not_of(' ') == std::string::npos || base == "." || base == ".." ||
        base.find('\0') != std::string::npos) {
        throw Error("<<CANAL_ZEB>> O servidor da ZEB enviou um nome de arquivo de lista inválido: \"" + nome + "\".");
    }
    return base;
}

void TCanalZEBCliente::notificarConsulta(const TStatusQueryListEvent& evento,
                                         TTipoStatusEtapa status,
                                         int percent,
                                         const std::string& texto)
{
    if (evento) {
        evento(*this, status, percent, texto);
    }
    platform::ui().processEvents();
}

std::optional<Message> TCanalZEBCliente::pedirLista(const std::vector<std::uint8_t>& pedido,
                                                    const std::string& traceEnviado,
                                                    const TStatusQueryListEvent& evento)
{
    enviarMensagem(pedido);
    GravarTrace(traceEnviado);
    const Message resposta = LerMensagem();
    GravarTrace("Recebida a resposta do servidor");
    if (resposta.code == CMD_NEGADO) {
        const std::string t = platform::fromWin1252(resposta.text());
        GravarTrace("Conexão negada: " + t);
        platform::ui().showMessage(t, platform::MessageKind::Information);
        notificarConsulta(evento, tseErro, 10, "Conexão negada: " + t);
        throw Error("<<CANAL_ZEB>> " + t);
    }
    if (resposta.code != CMD_ACEITO) {
        return std::nullopt;
    }
    GravarTrace("Conexão aceita");
    platform::ui().processEvents();
    return LerMensagem();
}

std::filesystem::path TCanalZEBCliente::diretorioTemp()
{
    return platform::baseDir() / "temp";
}

std::string TCanalZEBCliente::ReceberArquivoLista(const TStatusQueryListEvent& evento)
{
    const auto dir = diretorioTemp();
    const std::string dirText = dir.string() + "/";
    try {
        if (!std::filesystem::is_directory(dir)) {
            GravarTrace("Criando diretório " + dirText);
            std::filesystem::create_directory(dir);
        }
    } catch (const std::filesystem::filesystem_error& e) {
        const int code = e.code().value();
        notificarConsulta(AoConsultarListaDownload, tseErro, 20, "Erro ao criar diretório temporário do VEK... ");
        GravarTrace("Erro (" + std::to_string(code) + ") ao criar o diretório: " + dirText + " Mensagem: " + e.what());
        platform::ui().showMessage("<<CANAL_ZEB>> Não foi possível criar o diretório " + dirText +
                                       " ... Código de erro do windows: " + std::to_string(code),
                                   platform::MessageKind::Error);
    }

    GravarTrace("Lendo mensagem inicial do arquivo de lista...");
    const Message cabecalho = LerMensagem();
    if (cabecalho.code != CMD_TAMANHO) {
        GravarTrace("Recebido o comando " + std::to_string(cabecalho.code) + " que não era esperado para este momento");
        throw Error("Erro inesperado.");
    }
    notificarConsulta(evento, tseExecutando, 30, "Recebendo arquivo de lista... ");

    // The header is cut in the server's encoding: the one character dropped
    // after "|" is one byte there, whatever it is.
    const std::string h = cabecalho.text();
    const auto bar = h.find('|');
    const std::string sizeText = platform::fromWin1252(h.substr(0, bar));
    long long tamanho = 0;
    const auto [ptr, ec] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), tamanho);
    if (ec != std::errc() || ptr != sizeText.data() + sizeText.size() || sizeText.empty()) {
        // A conversion failure sets no system error code.
        throw Error("'" + sizeText + "' não é um número inteiro válido");
    }
    const std::string nomeServidor =
        bar == std::string::npos ? std::string() : platform::fromWin1252(h.substr(std::min(h.size(), bar + 2)));
    GravarTrace("Tamanho do arquivo " + nomeServidor + ":  " + std::to_string(tamanho) + " bytes");
    const std::string nome = nomeArquivoSeguro(nomeServidor);
    if (nome == ArquivoRecebido) {
        throw Error("<<CANAL_ZEB>> O servidor da ZEB enviou um nome de arquivo de lista inválido: \"" + nomeServidor +
                    "\".");
    }

    const auto gzPath = dir / ArquivoRecebido;
    GzFile gz(gzPath);
    if (!gz.open()) {
        const int err = errno;
        const std::string msg = "Erro ao criar arquivo \"" + gzPath.string() + "\": " + std::to_string(err);
        GravarTrace(msg);
        throw Error(msg, err);
    }
    long long recebido = 0;
    for (;;) {
        const Message m = LerMensagem();
        recebido += m.length;
        int percent = 100;
        if (tamanho != 0) {
            percent = 30 + static_cast<int>(
                               std::nearbyint(70.0 * static_cast<double>(recebido) / static_cast<double>(tamanho)));
            percent = std::min(percent, 100);
        }
        notificarConsulta(evento, tseExecutando, percent, "Recebendo arquivo de lista... ");
        GravarTrace(std::to_string(m.length) + " bytes recebidos...");
        if (m.code == CMD_BLOCO) {
            if (static_cast<std::uint64_t>(std::max<long long>(recebido, 0)) > maxListFileBytes) {
                throw Error("<<CANAL_ZEB>> O servidor da ZEB enviou um arquivo de lista maior que o limite de " +
                                std::to_string(maxListFileBytes) + " bytes.",
                            EFBIG);
            }
            const auto n = gz.write(m.payload);
            GravarTrace(std::to_string(n) + " bytes gravados...");
            EnviarAck();
            GravarTrace("ACK enviado...");
        } else if (m.code == CMD_FIM_DADOS) {
            GravarTrace("Marca de fim de arquivo...");
            gz.close();
            platform::ui().processEvents();
            break;
        } else {
            throw Error("Erro inesperado.");
        }
        platform::ui().processEvents();
    }

    GravarTrace("Descompactando arquivo...");
    crypto::TGzip gzip;
    gzip.FileSource = gzPath.string();
    gzip.FileDestination = (dir / nome).string();
    gzip.DeleteSource = true;
    gzip.MaxExpandedSize = maxListFileBytes;
    if (gzip.Decompress() != 0) {
        if (gzip.lastErrorCode() == EFBIG) {
            throw Error("<<CANAL_ZEB>> O arquivo de lista enviado pelo servidor da ZEB expande para mais que o limite "
                        "de " +
                            std::to_string(maxListFileBytes) + " bytes.",
                        EFBIG);
        }
        throw Error("Erro ao descompactar arquivo...", gzip.lastErrorCode());
    }
    return (dir / nome).string();
}

void TCanalZEBCliente::LerCredenciaisDownload()
{
    const Message m = LerMensagem();
    std::string d = platform::fromWin1252(crypto::DecryptProtocolText(m.text()));
    const auto take = [&d] {
        const auto bar = d.find('|');
        if (bar == std::string::npos) {
            return std::string();
        }
        std::string field = d.substr(0, bar);
        d.erase(0, bar + 1);
        return field;
    };
    UsuarioDownload = take();
    SenhaDownload = take();
    IdentificadorDownload = d;
    EnviarAck();
}

void TCanalZEBCliente::ConsultarListaDownload(const std::string& tipoArquivo,
                                              const std::string& competencia,
                                              const std::string& disponibilizacao,
                                              std::string& arquivoLista)
{
    if (CD_Operadora.empty()) {
        throw Error(MsgOperadoraNaoInformada);
    }
    if (Senha.empty()) {
        throw Error(MsgSenhaNaoInformada);
    }
    aplicarNomeTraceLinhaComando();
    const std::string mesCompetencia = competencia == MascaraMesVazia ? std::string() : competencia;
    const std::string mesDisponibilizacao = disponibilizacao == MascaraMesVazia ? std::string() : disponibilizacao;
    LerConfiguracao();
    arquivoLista.clear();
    const auto report = [this](TTipoStatusEtapa s, int p, const std::string& t) {
        notificarConsulta(AoConsultarListaDownload, s, p, t);
    };

    try {
        try {
            // Blank: nothing but spaces and control characters.
            if (std::none_of(tipoArquivo.begin(), tipoArquivo.end(), [](char c) {
                    return static_cast<unsigned char>(c) > ' ';
                })) {
                throw Error(
                    "CARO DESENVOLVEDOR: é obrigatório informar os arquivos de qual aplicativo deseja baixar...");
            }
            report(
                tseExecutando, 0, "Tentando abrir conexão TCP com o endereço " + host_ + ":" + std::to_string(porta_));
            Conectar();
            const std::string pedido =
                VersaoTransmissor() + "|" + ID_Aplicacao_no_Servidor() + "|" + platform::upperText(tipoArquivo) + "|" +
                CD_Operadora + "|" + NomeSistemaOperacional() + "|" + mesCompetencia + "|" + mesDisponibilizacao + "|";
            report(tseExecutando, 10, "Solicitando a lista de arquivos...");
            const auto resultado = pedirLista(
                frameOf(CMD_PEDIDO_LISTA,
                        platform::toWin1252(pedido) + crypto::EncryptProtocolText(platform::toWin1252(Senha))),
                "Enviada mensagem de autenticação para o Download",
                AoConsultarListaDownload);
            if (!resultado) {
                fecharSocket();
                return;
            }
            if (resultado->text() == "0") {
                const std::string vazia = "Lista de arquivos vazia (não há arquivos disponíveis para o filtro "
                                          "especificado)";
                report(tseErro, 100, vazia + "\rExperimente reduzir as opções de filtro.");
                GravarTrace(vazia);
                fecharSocket();
                if (!mesCompetencia.empty() || !mesDisponibilizacao.empty()) {
                    platform::ui().showMessage(
                        "A consulta efetuada, com os parâmetros informados, não retornou nenhum arquivo disponível.\r"
                        "Os filtros de competencia e geração do arquivo são opcionais, experimente consultar "
                        "novamente \rsem preenchê-los.",
                        platform::MessageKind::Information);
                } else {
                    platform::ui().showMessage(
                        "A consulta efetuada, com os parâmetros informados, não retornou nenhum arquivo disponível.",
                        platform::MessageKind::Information);
                }
                return;
            }
            report(tseExecutando, 20, "Recebendo a lista de arquivos... ");
            const std::string caminho = ReceberArquivoLista(AoConsultarListaDownload);
            enviarMensagem(MontarMensagem(CMD_LISTA_RECEBIDA, 0));
            LerCredenciaisDownload();
            fecharSocket();
            if (!caminho.empty()) {
                arquivoLista = caminho;
            }
        } catch (...) {
            fecharSocket();
            throw;
        }
    } catch (const Error& e) {
        const std::string message = e.what();
        if (wire::hasUserMessagePrefix(message)) {
            throw Error(wire::withoutUserMessagePrefix(message), e.code());
        }
        if (e.code() == 0) {
            throw Error("Erro inesperado ao buscar a lista de arquivos para download.");
        }
        throw Error("Erro ao buscar a lista de arquivos para download. Código de erro do windows: " +
                        std::to_string(e.code()),
                    e.code());
    }
}

}  // namespace vek::channel
