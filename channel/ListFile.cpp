#include "channel/TCanalZEBCliente.h"
#include "crypto/TGzip.h"
#include "platform/BaseDir.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/SystemText.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/MessageCodes.h"
#include "wire/UserMessage.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

// What the two queries that answer with a list file share: the request and
// its answer, and the list file itself (header 7, blocks 9 each acknowledged,
// end 10), received into temp/ and expanded there under a safe name.
namespace vek::channel {
namespace {

using namespace wire;

constexpr const char* ArquivoRecebido = "dados.gz";

// The list file as it arrives, still compressed.
class GzFile
{
public:
    explicit GzFile(const std::filesystem::path& path) { (void)f_.open(path, "wb"); }
    [[nodiscard]] bool open() const { return f_.isOpen(); }
    std::size_t write(const std::vector<std::uint8_t>& data)
    {
        const std::size_t n = data.empty() ? 0 : std::fwrite(data.data(), 1, data.size(), f_.get());
        if (n != data.size()) {
            const int err = errno;
            throw Error(std::string("Erro ao gravar a lista de arquivos: ") + vek::platform::systemText(err), err);
        }
        return n;
    }
    void close()
    {
        if (!f_.close()) {
            const int err = errno;
            throw Error(std::string("Erro ao gravar a lista de arquivos: ") + vek::platform::systemText(err), err);
        }
    }

private:
    platform::StdioFile f_;
};

std::string invalidListFileName(const std::string& nome)
{
    return userMessage("O servidor da ZEB enviou um nome de arquivo de lista inválido: \"" + nome + "\".");
}

}  // namespace

std::string nomeArquivoSeguro(const std::string& nome)
{
    const auto cut = nome.find_last_of("/\\:");
    const std::string base = cut == std::string::npos ? nome : nome.substr(cut + 1);
    if (base.find_first_not_of(' ') == std::string::npos || base == "." || base == ".." ||
        base.find('\0') != std::string::npos) {
        throw Error(invalidListFileName(nome));
    }
    return base;
}

std::filesystem::path TCanalZEBCliente::diretorioTemp()
{
    return platform::baseDir() / "temp";
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
        throw Error(userMessage(t));
    }
    if (resposta.code != CMD_ACEITO) {
        return std::nullopt;
    }
    GravarTrace("Conexão aceita");
    platform::ui().processEvents();
    return LerMensagem();
}

// ← 7 header, then ← 9 and 39 → per block, ← 10; expanded into temp/.
std::string TCanalZEBCliente::ReceberArquivoLista(const TStatusQueryListEvent& evento)
{
    const auto dir = diretorioTemp();
    createTempDirectory(dir);
    GravarTrace("Lendo mensagem inicial do arquivo de lista...");
    const Message cabecalho = LerMensagem();
    if (cabecalho.code != CMD_TAMANHO) {
        GravarTrace("Recebido o comando " + std::to_string(cabecalho.code) + " que não era esperado para este momento");
        throw Error("Erro inesperado.");
    }
    notificarConsulta(evento, tseExecutando, 30, "Recebendo arquivo de lista... ");
    const ListFileHeader lista = readListFileHeader(cabecalho);
    const auto gzPath = dir / ArquivoRecebido;
    receiveListFileBlocks(gzPath, lista.size, evento);
    GravarTrace("Descompactando arquivo...");
    expandListFile(gzPath, dir / lista.name);
    return (dir / lista.name).string();
}

// A directory that cannot be created is shown, and the reception goes on to
// fail where it writes.
void TCanalZEBCliente::createTempDirectory(const std::filesystem::path& dir)
{
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
        platform::ui().showMessage(userMessage("Não foi possível criar o diretório " + dirText +
                                               " ... Código de erro do windows: " + std::to_string(code)),
                                   platform::MessageKind::Error);
    }
}

// "size|Xname": the size in decimal digits, a bar, one character that is
// dropped, the file name. The header is cut in the server's encoding: the one
// character dropped after "|" is one byte there, whatever it is.
TCanalZEBCliente::ListFileHeader TCanalZEBCliente::readListFileHeader(const Message& cabecalho)
{
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
        throw Error(invalidListFileName(nomeServidor));
    }
    return {tamanho, nome};
}

void TCanalZEBCliente::receiveListFileBlocks(const std::filesystem::path& gzPath,
                                             long long tamanho,
                                             const TStatusQueryListEvent& evento)
{
    GzFile gz(gzPath);
    if (!gz.open()) {
        const int err = errno;
        const std::string msg = "Erro ao criar arquivo \"" + gzPath.string() + "\": " + std::to_string(err);
        GravarTrace(msg);
        throw Error(msg, err);
    }
    // The bytes that actually arrived count, not the lengths the server
    // announced (a negative one carries nothing), and the percent is kept
    // between 0 and 100 whatever size the server announced.
    long long recebido = 0;
    for (;;) {
        const Message m = LerMensagem();
        recebido += static_cast<long long>(m.payload.size());
        int percent = 100;
        if (tamanho != 0) {
            const double p = 30.0 + std::nearbyint(70.0 * static_cast<double>(recebido) / static_cast<double>(tamanho));
            percent = p >= 0.0 ? static_cast<int>(std::min(p, 100.0)) : 0;
        }
        notificarConsulta(evento, tseExecutando, percent, "Recebendo arquivo de lista... ");
        GravarTrace(std::to_string(m.length) + " bytes recebidos...");
        if (m.code == CMD_BLOCO) {
            if (static_cast<std::uint64_t>(recebido) > maxListFileBytes) {
                throw Error(userMessage("O servidor da ZEB enviou um arquivo de lista maior que o limite de " +
                                        std::to_string(maxListFileBytes) + " bytes."),
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
            return;
        } else {
            throw Error("Erro inesperado.");
        }
        platform::ui().processEvents();
    }
}

void TCanalZEBCliente::expandListFile(const std::filesystem::path& gzPath, const std::filesystem::path& destino)
{
    crypto::TGzip gzip;
    gzip.FileSource = gzPath.string();
    gzip.FileDestination = destino.string();
    gzip.DeleteSource = true;
    gzip.MaxExpandedSize = maxListFileBytes;
    if (gzip.Decompress() != crypto::TGzip::ResultOk) {
        if (gzip.lastErrorCode() == EFBIG) {
            throw Error(userMessage("O arquivo de lista enviado pelo servidor da ZEB expande para mais que o limite "
                                    "de " +
                                    std::to_string(maxListFileBytes) + " bytes."),
                        EFBIG);
        }
        throw Error("Erro ao descompactar arquivo...", gzip.lastErrorCode());
    }
}

}  // namespace vek::channel
