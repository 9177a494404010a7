#include "channel/MessageCodes.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"

namespace vek::channel {

ResultadoAlteracaoSenha TCanalZEBCliente::AlterarSenha(const std::string& novaSenha)
{
    ResultadoAlteracaoSenha resultado = ResultadoAlteracaoSenha::Falhou;
    bool falhou = false;
    try {
        LerConfiguracao();
        const std::string pedido =
            platform::toWin1252(VersaoTransmissor() + "|" + CD_Operadora + "|" + NomeSistemaOperacional() + "|") +
            crypto::EncryptProtocolText(platform::toWin1252(Senha)) + "|" +
            crypto::EncryptProtocolText(platform::toWin1252(novaSenha));
        GravarTrace("Tentando conectar em " + host_ + ":" + std::to_string(porta_));
        Conectar();
        GravarTrace("Enviando mensagem de solicitação de alteração de senha.");
        try {
            enviarMensagem(frameOf(CMD_ALTERAR_SENHA, pedido));
        } catch (const Error& e) {
            GravarTrace(std::string(e.what()) + " S.O.: " + std::to_string(e.code()));
            throw;
        }
        GravarTrace("Lendo resposta do servidor.");
        const Message resposta = LerMensagem();
        const std::string t = platform::fromWin1252(resposta.text());
        if (resposta.code == CMD_ACEITO) {
            EnviarAck();
            GravarTrace("Alteração de senha OK.");
            platform::ui().showMessage(t, platform::MessageKind::Information);
            resultado = ResultadoAlteracaoSenha::Aceita;
        } else if (resposta.code == CMD_NEGADO) {
            platform::ui().showMessage(t, platform::MessageKind::Warning);
            resultado = ResultadoAlteracaoSenha::Recusada;
        } else {
            resultado = ResultadoAlteracaoSenha::Ignorada;
        }
    } catch (const std::exception& e) {
        // Only the trace keeps the failure's own text.
        falhou = true;
        try {
            GravarTrace(std::string("Erro na alteração de senha: ") + e.what());
        } catch (const std::exception&) {
        }
    }
    fecharSocket();
    if (falhou) {
        platform::ui().showMessage("Houve um erro ao tentar alterar a senha. ", platform::MessageKind::Error);
        return ResultadoAlteracaoSenha::Falhou;
    }
    return resultado;
}

}  // namespace vek::channel
