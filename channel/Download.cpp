#include "channel/Exchange.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TDecryptFile.h"
#include "ftp/TZebFTP.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/SystemText.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/UserMessage.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace vek::channel {
namespace {

using namespace wire;

namespace fs = std::filesystem;

constexpr int TentativasConexao = 4;

// The FTP session ends with QUIT however the transfer goes; errors of that
// last step are ignored.
class FtpSessionEnd
{
public:
    explicit FtpSessionEnd(ftp::TZebFTP& client)
        : client_(client)
    {}
    ~FtpSessionEnd()
    {
        try {
            client_.Disconnect();
        } catch (const std::exception&) {
        }
    }
    FtpSessionEnd(const FtpSessionEnd&) = delete;
    FtpSessionEnd& operator=(const FtpSessionEnd&) = delete;

private:
    ftp::TZebFTP& client_;
};

Error genericError(TCanalZEBCliente& canal, int code)
{
    const std::string texto =
        code == 0 ? std::string("Houve um erro inesperado ao efetuar download do arquivo.")
                  : "Houve um erro ao efetuar download de arquivo. Código de erro do Windows: " + std::to_string(code);
    canal.ReportarDownload(100, texto);
    platform::ui().processEvents();
    return Error(texto, code);
}

}  // namespace

void TCanalZEBCliente::ReceberArquivo(const std::string& NM_ARQUIVO,
                                      const std::string& DE_PATH_ARQUIVO,
                                      const std::string& ID_ARQUIVO_DISPONIVEL,
                                      const std::string& CD_TIPO_ARQUIVO,
                                      const std::string& CD_CHAVE_CRIPTOGRAFIA,
                                      const std::string& destino,
                                      std::int32_t tamanhoEsperadoKB)
{
    if (!destino.empty()) {
        const std::string dir = fs::path(destino).parent_path().string();
        std::error_code ec;
        if (dir.empty() || !fs::is_directory(dir, ec)) {
            throw Error("O diretório " + dir + " não existe!");
        }
    }
    const ListedFile arquivo{NM_ARQUIVO, DE_PATH_ARQUIVO, ID_ARQUIVO_DISPONIVEL, CD_TIPO_ARQUIVO};
    Exchange exchange(*this, [this](int code) { return genericError(*this, code); });
    exchange.run([&] { downloadFile(arquivo, CD_CHAVE_CRIPTOGRAFIA, destino, tamanhoEsperadoKB); });
}

TCanalZEBCliente::CaminhosDownload TCanalZEBCliente::caminhosDownload(const std::string& NM_ARQUIVO,
                                                                      const std::string& destino)
{
    // The listed name comes from the server: it names a file inside temp/ only.
    const std::string nome = nomeArquivoSeguro(NM_ARQUIVO);
    const fs::path dirTemp = diretorioTemp();
    CaminhosDownload caminhos{(dirTemp / nome).replace_extension(".tmp"),
                              destino.empty() ? dirTemp / nome : fs::path(destino)};
    if (caminhos.temporario == caminhos.destino) {
        // A listed name ending in ".tmp": deciphering must not read and write one file.
        caminhos.temporario = dirTemp / (nome + ".tmp");
    }
    return caminhos;
}

// Log in over FTP, RETR the enciphered request, RETR the end-of-file notice,
// QUIT; then decipher the file into its destination.
void TCanalZEBCliente::downloadFile(const ListedFile& arquivo,
                                    const std::string& chave,
                                    const std::string& destino,
                                    std::int32_t tamanhoEsperadoKB)
{
    const auto [temporario, destinoFinal] = caminhosDownload(arquivo.NM_ARQUIVO, destino);

    LerConfiguracao();
    auto cliente = makeFtpClient(tamanhoEsperadoKB);
    StatusDownload.PercentFeito = 0;
    StatusDownload.TextoInfo.clear();
    connectFtp(*cliente);
    try {
        transferFile(*cliente, arquivo, temporario);
        cliente.reset();
        platform::sleepFor(timeouts.afterDownload);
        if (StatusDownload.PercentFeito < 90) {
            StatusDownload.PercentFeito = 90;
        }
        platform::sleepFor(timeouts.afterDownloadExtra);
        platform::ui().processEvents();
        decipherFile(temporario, destinoFinal, chave);
        ReportarDownload(100, "Arquivo LIBERADO.");
    } catch (const std::exception& e) {
        if (wire::hasUserMessagePrefix(e.what())) {
            throw;
        }
        const int code = Exchange::codeOf(e);
        ReportarDownload(StatusDownload.PercentFeito + 1,
                         "Erro: " + std::string(e.what()) + ". Código de erro do Windows: " + std::to_string(code));
        if (code > 0) {
            // The code alone tells the operator nothing: the system's text
            // follows it, naming the port when the local data port was the cause.
            const auto* erro = dynamic_cast<const Error*>(&e);
            const std::string texto =
                erro != nullptr && !erro->detail().empty() ? erro->detail() : platform::systemText(code);
            throw Error(wire::userMessage("Houve um erro ao efetuar download do arquivo. Código de erro do Windows: " +
                                          std::to_string(code) + " (" + texto + ")"),
                        code);
        }
        throw Error(wire::userMessage("Houve um erro inesperado ao efetuar download do arquivo."));
    }
}

std::unique_ptr<ftp::TZebFTP> TCanalZEBCliente::makeFtpClient(std::int32_t tamanhoEsperadoKB)
{
    auto cliente = std::make_unique<ftp::TZebFTP>();
    cliente->ReadTimeout = static_cast<std::int32_t>(timeouts.ftpReply.count());
    cliente->DataPort = portaDados_;
    cliente->DataPortMin = portaDados_;
    cliente->DataPortMax = portaDados_;
    cliente->TransferType = ftp::ftBinary;
    cliente->ProxySettings.ProxyType = ftp::fpcmTransparent;
    cliente->reportarDownload = [this](std::int32_t percent, const std::string& texto) {
        ReportarDownload(percent, texto);
    };
    cliente->waits.dataConnection = timeouts.dataConnection;
    cliente->waits.dataInactivity = timeouts.dataInactivity;
    cliente->eventPump = true;
    cliente->Host = host_;
    cliente->Port = portaFTP_;
    cliente->Username = crypto::EncryptProtocolText(platform::toWin1252(UsuarioDownload));
    cliente->Password = crypto::EncryptProtocolText(platform::toWin1252(SenhaDownload));
    cliente->AutoLogin = true;
    cliente->TamanhoEsperadoKB = tamanhoEsperadoKB;
    cliente->onBytesReceived = [this, tamanhoEsperadoKB](std::int64_t bytes) {
        if (onTransferProgress) {
            onTransferProgress(bytes, std::max<std::int64_t>(0, tamanhoEsperadoKB) * 1024);
        }
    };
    cliente->RecebidoKB = 0;
    return cliente;
}

// Four attempts back to back; the failure lists each one's error code.
void TCanalZEBCliente::connectFtp(ftp::TZebFTP& cliente)
{
    recusarSemConfiguracao();
    std::string erros = "Código de erro -> ";
    int tentativa = 0;
    while (tentativa < TentativasConexao && !cliente.connected()) {
        ++tentativa;
        try {
            cliente.Connect();
        } catch (const std::exception& e) {
            erros += "/" + std::to_string(tentativa) + "ª tentativa: " + std::to_string(Exchange::codeOf(e)) + "\r";
        }
    }
    if (!cliente.connected()) {
        throw Error(wire::userMessage("O VEK tentou " + std::to_string(tentativa) +
                                      " vezes conectar-se ao servidor da ZEB e \rnão obteve sucesso. \rA seguir, a "
                                      "lista dos códigos de erro obtidos em cada tentativa: \r" +
                                      erros));
    }
}

void TCanalZEBCliente::transferFile(ftp::TZebFTP& cliente,
                                    const ListedFile& arquivo,
                                    const std::filesystem::path& temporario)
{
    const FtpSessionEnd fim(cliente);
    ReportarDownload(
        10, "Conectado no endereço: " + host_ + ":" + std::to_string(portaFTP_) + ". Efetuando o pedido do arquivo...");
    const std::string pedido = CD_Operadora + "|" + Senha + "|" + arquivo.NM_ARQUIVO + "|" +
                               arquivo.ID_ARQUIVO_DISPONIVEL + "|" + arquivo.CD_TIPO_ARQUIVO + "|" +
                               arquivo.DE_PATH_ARQUIVO + "|" + IdentificadorDownload;
    cliente.RetrieveFile(crypto::EncryptProtocolText(platform::toWin1252(pedido)), temporario.string());

    const std::string aviso = "ENDFILE " + CD_Operadora + "|" + arquivo.NM_ARQUIVO + "|" + arquivo.CD_TIPO_ARQUIVO +
                              "|" + arquivo.ID_ARQUIVO_DISPONIVEL + "|" + IdentificadorDownload;
    try {
        cliente.SendCommand("RETR " + crypto::EncryptProtocolText(platform::toWin1252(aviso)));
    } catch (const std::exception&) {
        // The file has arrived whatever the server makes of the notice.
    }
}

// The temporary file and a companion ".tst" file go once the file is deciphered.
void TCanalZEBCliente::decipherFile(const std::filesystem::path& temporario,
                                    const std::filesystem::path& destino,
                                    const std::string& chave)
{
    crypto::TDecryptFile decifrador;
    decifrador.SetArquivoOriginal(temporario.string());
    decifrador.SetArquivoDestino(destino.string());
    decifrador.SetSenha(chave);
    decifrador.UsarSenha = true;
    decifrador.ExcecaoErro = true;
    decifrador.Executar();

    fs::path companheiro = temporario;
    companheiro.replace_extension(".tst");
    std::error_code ec;
    fs::remove(temporario, ec);
    fs::remove(companheiro, ec);
}

}  // namespace vek::channel
