#include "wire/MessageCodes.h"

namespace vek::wire {

std::string debugName(std::uint8_t code)
{
    switch (code) {
    case CMD_PEDIDO_ENVIO:
        return "CMD_PEDIDO_ENVIO";
    case CMD_ACEITO:
        return "CMD_ACEITO";
    case CMD_CHAVE_MODULO:
        return "CMD_CHAVE_MODULO";
    case CMD_CHAVE_EXPOENTE:
        return "CMD_CHAVE_EXPOENTE";
    case CMD_CHAVE_SIMETRICA:
        return "CMD_CHAVE_SIMETRICA";
    case CMD_TAMANHO:
        return "CMD_TAMANHO";
    case CMD_BLOCO:
        return "CMD_BLOCO";
    case CMD_FIM_DADOS:
        return "CMD_FIM_DADOS";
    case CMD_PROTOCOLO:
        return "CMD_PROTOCOLO";
    case CMD_PEDIDO_HISTORICO:
        return "CMD_PEDIDO_HISTORICO";
    case CMD_PRE_VALIDACAO:
        return "CMD_PRE_VALIDACAO";
    case CMD_PEDIDO_LISTA:
        return "CMD_PEDIDO_LISTA";
    case CMD_LISTA_RECEBIDA:
        return "CMD_LISTA_RECEBIDA";
    case CMD_TIPOS_ENVIO:
        return "CMD_TIPOS_ENVIO";
    case CMD_ACK:
        return "CMD_ACK";
    case CMD_TIPOS_DOWNLOAD:
        return "CMD_TIPOS_DOWNLOAD";
    case CMD_HASH_ARQUIVO:
        return "CMD_HASH_ARQUIVO";
    case CMD_NEGADO:
        return "CMD_NEGADO";
    case CMD_ALTERAR_SENHA:
        return "CMD_ALTERAR_SENHA";
    default:
        return std::to_string(code);
    }
}

}  // namespace vek::wire
