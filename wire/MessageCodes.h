#pragma once

#include <cstdint>
#include <string>

namespace vek::wire {

// Message codes of the framed protocol between the client and the agency's
// message server. One byte each.
inline constexpr std::uint8_t CMD_PEDIDO_ENVIO = 1;       // upload authorization request
inline constexpr std::uint8_t CMD_ACEITO = 3;             // accepted / authorized
inline constexpr std::uint8_t CMD_CHAVE_MODULO = 4;       // RSA modulus, unsigned big-endian
inline constexpr std::uint8_t CMD_CHAVE_EXPOENTE = 5;     // RSA public exponent, unsigned big-endian
inline constexpr std::uint8_t CMD_CHAVE_SIMETRICA = 6;    // wrapped symmetric key of the upload
inline constexpr std::uint8_t CMD_TAMANHO = 7;            // upload size (4 bytes) / list-file header (text)
inline constexpr std::uint8_t CMD_BLOCO = 9;              // one block of file data
inline constexpr std::uint8_t CMD_FIM_DADOS = 10;         // end of file data
inline constexpr std::uint8_t CMD_PROTOCOLO = 12;         // upload receipt
inline constexpr std::uint8_t CMD_PEDIDO_HISTORICO = 13;  // history query
inline constexpr std::uint8_t CMD_PRE_VALIDACAO = 18;     // free validation text before an upload
inline constexpr std::uint8_t CMD_PEDIDO_LISTA = 30;      // available-file list query
inline constexpr std::uint8_t CMD_LISTA_RECEBIDA = 32;    // list file received
inline constexpr std::uint8_t CMD_TIPOS_ENVIO = 37;       // file types the operator may send
inline constexpr std::uint8_t CMD_ACK = 39;               // acknowledgement
inline constexpr std::uint8_t CMD_TIPOS_DOWNLOAD = 40;    // file types the operator may receive
inline constexpr std::uint8_t CMD_HASH_ARQUIVO = 43;      // checksum text of the file
inline constexpr std::uint8_t CMD_NEGADO = 94;            // denied; the payload is the reason ("^")
inline constexpr std::uint8_t CMD_ALTERAR_SENHA = 99;     // password change

static_assert(CMD_NEGADO == '^');

// The code's name for trace lines and diagnostics ("CMD_ACK", or the number).
std::string debugName(std::uint8_t code);

}  // namespace vek::wire
