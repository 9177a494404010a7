#include "channel/Exchange.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/MessageCodes.h"

namespace vek::channel {

ResultadoAlteracaoSenha TCanalZEBCliente::AlterarSenha(const std::string& novaSenha)
{
    ResultadoAlteracaoSenha resultado = ResultadoAlteracaoSenha::Falhou;
    try {
        Exchange exchange(*this);
        exchange.run([&] { resultado = requestPasswordChange(exchange, novaSenha); });
    } catch (const std::exception& e) {
        // Only the trace keeps the failure's own text; a trace that cannot be
        // written changes nothing here.
        try {
            GravarTrace(std::string("Erro na alteração de senha: ") + e.what());
        } catch (const std::exception&) {
        }
        platform::ui().showMessage("Houve um erro ao tentar alterar a senha. ", platform::MessageKind::Error);
        return ResultadoAlteracaoSenha::Falhou;
    }
    return resultado;
}

// 99 →, ← 3 (39 →) or 94. The server's text is shown while the connection is
// still open.
ResultadoAlteracaoSenha TCanalZEBCliente::requestPasswordChange(Exchange& exchange, const std::string& novaSenha)
{
    using namespace wire;
    LerConfiguracao();
    const std::string pedido =
        platform::toWin1252(VersaoTransmissor() + "|" + CD_Operadora + "|" + NomeSistemaOperacional() + "|") +
        crypto::EncryptProtocolText(platform::toWin1252(Senha)) + "|" +
        crypto::EncryptProtocolText(platform::toWin1252(novaSenha));
    GravarTrace("Tentando conectar em " + host_ + ":" + std::to_string(porta_));
    exchange.connect();
    GravarTrace("Enviando mensagem de solicitação de alteração de senha.");
    sendTracingFailure(frameOf(CMD_ALTERAR_SENHA, pedido), " S.O.: ");
    GravarTrace("Lendo resposta do servidor.");
    const Message resposta = LerMensagem();
    const std::string t = platform::fromWin1252(resposta.text());
    if (resposta.code == CMD_ACEITO) {
        EnviarAck();
        GravarTrace("Alteração de senha OK.");
        platform::ui().showMessage(t, platform::MessageKind::Information);
        return ResultadoAlteracaoSenha::Aceita;
    }
    if (resposta.code == CMD_NEGADO) {
        platform::ui().showMessage(t, platform::MessageKind::Warning);
        return ResultadoAlteracaoSenha::Recusada;
    }
    return ResultadoAlteracaoSenha::Ignorada;
}

}  // namespace vek::channel
