#include "channel/Exchange.h"
#include "channel/TCanalZEBCliente.h"
#include "platform/Clock.h"
#include "platform/Win1252.h"
#include "wire/MessageCodes.h"

namespace vek::channel {
namespace {

using namespace wire;

constexpr const char* ListaEnvioPadrao = "-- Lista de arquivos indisponível.";
constexpr const char* ListaDownloadPadrao = "---#Lista de arquivos permitidos Indisponível (servidor congestionado)";

}  // namespace

// Errors are not rewritten here: the caller gets Conectar's or LerMensagem's
// own text, prefix included, with the list at its default.

// 37 →, ← any code with the list.
void TCanalZEBCliente::ListarTiposArquivoEnvio(std::string& lista)
{
    LerConfiguracao();
    aplicarNomeTraceLinhaComando();
    lista = ListaEnvioPadrao;
    Exchange exchange(*this);
    exchange.run([&] {
        exchange.connect();
        enviarMensagem(MontarMensagem(CMD_TIPOS_ENVIO, 0));
        // Whatever the reply's code, its text is the list.
        lista = platform::fromWin1252(LerMensagem().text());
    });
}

// 40 →, a pause, ← 40 with the list.
void TCanalZEBCliente::ListarTiposArquivoDownload(std::string& lista)
{
    LerConfiguracao();
    aplicarNomeTraceLinhaComando();
    lista = ListaDownloadPadrao;
    Exchange exchange(*this);
    exchange.run([&] {
        exchange.connect();
        enviarMensagem(MontarMensagem(CMD_TIPOS_DOWNLOAD, 0));
        platform::sleepFor(timeouts.downloadTypesPause);
        const Message reply = LerMensagem();
        // Another code means a congested server: the default text stands.
        if (reply.code == CMD_TIPOS_DOWNLOAD) {
            lista = platform::fromWin1252(reply.text());
        }
    });
}

}  // namespace vek::channel
