#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/TDecryptFile.h"
#include "ftp/TZebFTP.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/UserMessage.h"

#include <filesystem>
#include <memory>

namespace vek::channel {
namespace {

constexpr int TentativasConexao = 4;

std::string codigo(const std::exception& e)
{
    const auto* err = dynamic_cast<const Error*>(&e);
    return std::to_string(err != nullptr ? err->code() : 0);
}

int codigoNumero(const std::exception& e)
{
    const auto* err = dynamic_cast<const Error*>(&e);
    return err != nullptr ? err->code() : 0;
}

bool contemPrefixo(const std::string& message)
{
    return platform::upperText(message).find(wire::UserMessagePrefix) != std::string::npos;
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
    namespace fs = std::filesystem;
    if (!destino.empty()) {
        const std::string dir = fs::path(destino).parent_path().string();
        std::error_code ec;
        if (dir.empty() || !fs::is_directory(dir, ec)) {
            throw Error("O diretório " + dir + " não existe!");
        }
    }
    try {
        // The listed name comes from the server: it names a file inside temp/ only.
        const std::string nome = nomeArquivoSeguro(NM_ARQUIVO);
        const fs::path dirTemp = diretorioTemp();
        const fs::path destinoFinal = destino.empty() ? dirTemp / nome : fs::path(destino);
        fs::path temporario = (dirTemp / nome).replace_extension(".tmp");
        if (temporario == destinoFinal) {
            // A listed name ending in ".tmp": deciphering must not read and write one file.
            temporario = dirTemp / (nome + ".tmp");
        }
        fs::path companheiro = temporario;
        companheiro.replace_extension(".tst");

        LerConfiguracao();

        auto ftpClient = std::make_unique<ftp::TZebFTP>();
        ftp::TZebFTP& cliente = *ftpClient;
        cliente.ReadTimeout = static_cast<std::int32_t>(timeouts.ftpReply.count());
        cliente.DataPort = portaDados_;
        cliente.DataPortMin = portaDados_;
        cliente.DataPortMax = portaDados_;
        cliente.TransferType = ftp::ftBinary;
        cliente.ProxySettings.ProxyType = ftp::fpcmTransparent;
        cliente.reportarDownload = [this](std::int32_t percent, const std::string& texto) {
            ReportarDownload(percent, texto);
        };
        cliente.waits.dataConnection = timeouts.dataConnection;
        cliente.waits.dataInactivity = timeouts.dataInactivity;
        cliente.eventPump = true;
        cliente.Host = host_;
        cliente.Port = portaFTP_;
        cliente.Username = crypto::EncryptProtocolText(platform::toWin1252(UsuarioDownload));
        cliente.Password = crypto::EncryptProtocolText(platform::toWin1252(SenhaDownload));
        cliente.AutoLogin = true;
        cliente.TamanhoEsperadoKB = tamanhoEsperadoKB;
        cliente.RecebidoKB = 0;

        StatusDownload.PercentFeito = 0;
        StatusDownload.TextoInfo.clear();
        std::string erros = "Código de erro -> ";
        int tentativa = 0;
        while (tentativa < TentativasConexao && !cliente.connected()) {
            ++tentativa;
            try {
                cliente.Connect();
            } catch (const std::exception& e) {
                erros += "/" + std::to_string(tentativa) + "ª tentativa: " + codigo(e) + "\r";
            }
        }
        if (!cliente.connected()) {
            throw Error("<<CANAL_ZEB>> O VEK tentou " + std::to_string(tentativa) +
                        " vezes conectar-se ao servidor da ZEB e \rnão obteve sucesso. \rA seguir, a lista dos "
                        "códigos de erro obtidos em cada tentativa: \r" +
                        erros);
        }

        try {
            try {
                ReportarDownload(10,
                                 "Conectado no endereço: " + host_ + ":" + std::to_string(portaFTP_) +
                                     ". Efetuando o pedido do arquivo...");
                const std::string pedido = CD_Operadora + "|" + Senha + "|" + NM_ARQUIVO + "|" +
                                           ID_ARQUIVO_DISPONIVEL + "|" + CD_TIPO_ARQUIVO + "|" + DE_PATH_ARQUIVO +
                                           "|" + IdentificadorDownload;
                cliente.RetrieveFile(crypto::EncryptProtocolText(platform::toWin1252(pedido)), temporario.string());

                const std::string aviso = "ENDFILE " + CD_Operadora + "|" + NM_ARQUIVO + "|" + CD_TIPO_ARQUIVO + "|" +
                                          ID_ARQUIVO_DISPONIVEL + "|" + IdentificadorDownload;
                try {
                    cliente.SendCommand("RETR " + crypto::EncryptProtocolText(platform::toWin1252(aviso)));
                } catch (const std::exception&) {
                }
            } catch (...) {
                try {
                    cliente.Disconnect();
                } catch (const std::exception&) {
                }
                throw;
            }
            try {
                cliente.Disconnect();
            } catch (const std::exception&) {
            }
            ftpClient.reset();

            platform::sleepFor(timeouts.afterDownload);
            if (StatusDownload.PercentFeito < 90) {
                StatusDownload.PercentFeito = 90;
            }
            platform::sleepFor(timeouts.afterDownloadExtra);
            platform::ui().processEvents();

            crypto::TDecryptFile decifrador;
            decifrador.SetArquivoOriginal(temporario.string());
            decifrador.SetArquivoDestino(destinoFinal.string());
            decifrador.SetSenha(CD_CHAVE_CRIPTOGRAFIA);
            decifrador.UsarSenha = true;
            decifrador.ExcecaoErro = true;
            decifrador.Executar();

            std::error_code ec;
            fs::remove(temporario, ec);
            fs::remove(companheiro, ec);
            ReportarDownload(100, "Arquivo LIBERADO.");
        } catch (const std::exception& e) {
            const std::string message = e.what();
            if (contemPrefixo(message)) {
                throw;
            }
            const int code = codigoNumero(e);
            ReportarDownload(StatusDownload.PercentFeito + 1,
                             "Erro: " + message + ". Código de erro do Windows: " + std::to_string(code));
            if (code > 0) {
                throw Error("<<CANAL_ZEB>> Houve um erro ao efetuar download do arquivo. Código de erro do Windows: " +
                                std::to_string(code),
                            code);
            }
            throw Error("<<CANAL_ZEB>> Houve um erro inesperado ao efetuar download do arquivo.");
        }
    } catch (const std::exception& e) {
        const std::string message = e.what();
        if (contemPrefixo(message)) {
            throw Error(wire::withoutUserMessagePrefix(message), codigoNumero(e));
        }
        const int code = codigoNumero(e);
        const std::string texto =
            code == 0 ? std::string("Houve um erro inesperado ao efetuar download do arquivo.")
                      : "Houve um erro ao efetuar download de arquivo. Código de erro do Windows: " + std::to_string(code);
        ReportarDownload(100, texto);
        platform::ui().processEvents();
        throw Error(texto, code);
    }
}

}  // namespace vek::channel
