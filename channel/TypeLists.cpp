#include "channel/MessageCodes.h"
#include "channel/TCanalZEBCliente.h"
#include "platform/Clock.h"
#include "platform/Win1252.h"

namespace vek::channel {
namespace {

constexpr const char* ListaEnvioPadrao = "-- Lista de arquivos indisponível.";
constexpr const char* ListaDownloadPadrao = "---#Lista de arquivos permitidos Indisponível (servidor congestionado)";

}  // namespace

// Errors are not rewritten here: the caller gets Conectar's or LerMensagem's
// own text, prefix included, after the list has been set to its default.
void TCanalZEBCliente::ListarTiposArquivoEnvio(std::string& lista)
{
    LerConfiguracao();
    aplicarNomeTraceLinhaComando();
    std::string resultado = ListaEnvioPadrao;
    try {
        Conectar();
        enviarMensagem(MontarMensagem(CMD_TIPOS_ENVIO, 0));
        // Whatever the reply's code, its text is the list.
        resultado = platform::fromWin1252(LerMensagem().text());
    } catch (...) {
        fecharSocket();
        lista = resultado;
        throw;
    }
    fecharSocket();
    lista = resultado;
}

void TCanalZEBCliente::ListarTiposArquivoDownload(std::string& lista)
{
    LerConfiguracao();
    aplicarNomeTraceLinhaComando();
    std::string resultado = ListaDownloadPadrao;
    try {
        Conectar();
        enviarMensagem(MontarMensagem(CMD_TIPOS_DOWNLOAD, 0));
        platform::sleepFor(timeouts.downloadTypesPause);
        const Message reply = LerMensagem();
        // Another code means a congested server: the default text stands.
        if (reply.code == CMD_TIPOS_DOWNLOAD) {
            resultado = platform::fromWin1252(reply.text());
        }
    } catch (...) {
        fecharSocket();
        lista = resultado;
        throw;
    }
    fecharSocket();
    lista = resultado;
}

}  // namespace vek::channel
