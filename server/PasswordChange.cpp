#include "crypto/TBlowfishQv.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "server/RequestFields.h"
#include "server/Session.h"
#include "server/Store.h"
#include "wire/MessageCodes.h"

namespace vek::server {
namespace {

// Version, operator, system name, the enciphered current password and the
// enciphered new one; the passwords are taken from the end.
constexpr std::size_t PasswordRequestFields = 5;
// Bytes of a new password, as the client enciphers it.
constexpr std::size_t MaxPasswordBytes = 255;

}  // namespace

void Session::runPasswordChange(const wire::Message& message)
{
    using namespace wire;
    const auto f = splitFields(message.text());
    if (f.size() < PasswordRequestFields) {
        deny("Pedido de alteração de senha inválido: são esperados " + std::to_string(PasswordRequestFields) +
             " campos.");
        return;
    }
    const std::string operatorId = platform::fromWin1252(f[1]);
    const std::string current = crypto::DecryptProtocolText(f[f.size() - 2]);
    const std::string next = crypto::DecryptProtocolText(f.back());

    if (operatorId.empty() || !context_.store.checkOperator(operatorId, current)) {
        log("alteração de senha recusada: senha atual inválida para a operadora " + operatorId);
        deny("Registro ZEB ou senha atual inválidos. A senha não foi alterada.");
        return;
    }
    if (next.empty()) {
        deny("A nova senha não pode ser vazia. A senha não foi alterada.");
        return;
    }
    if (next.size() > MaxPasswordBytes) {
        deny("A nova senha tem mais de " + std::to_string(MaxPasswordBytes) + " caracteres. A senha não foi alterada.");
        return;
    }
    if (next == current) {
        deny("A nova senha deve ser diferente da atual. A senha não foi alterada.");
        return;
    }
    try {
        context_.store.setOperator(operatorId, next);
    } catch (const Error& e) {
        log(std::string("alteração de senha da operadora ") + operatorId + ": " + e.what());
        deny("Erro interno do servidor ao alterar a senha. Tente novamente mais tarde.");
        return;
    }
    log("senha da operadora " + operatorId + " alterada");
    send(CMD_ACEITO, platform::toWin1252("Senha alterada com sucesso."));
    try {
        const Message m = read();
        if (m.code != CMD_ACK) {
            log("alteração de senha confirmada com " + debugName(m.code));
        }
    } catch (const Error& e) {
        log(std::string("sem confirmação da alteração de senha: ") + e.what());
    }
}

}  // namespace vek::server
