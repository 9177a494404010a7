#pragma once

#include "app/AppState.h"
#include "dataset/TransmissionRecord.h"

#include <optional>
#include <string>

namespace vek::channel {
class TCanalZEBCliente;
}

namespace vek::app {

// The seven values the receipt shows, as both front ends print them.
struct ValoresRecibo
{
    std::string protocolo;  // the protocol line
    std::string operadora;
    std::string arquivo;  // the file's name without directories
    std::string dataRecebimento;
    std::string informacoes;
    std::string enderecoIP;
    std::string autenticacao;
};

// The receipt of the upload the window has just made, from its state and the
// channel.
ValoresRecibo reciboDoEnvio(const AppState& estado, const channel::TCanalZEBCliente& canal);

// The receipt of an earlier upload from its transmission record: the same
// values the window showed right after it. Nothing when the record is of an
// upload that was not sent (its protocol is empty).
std::optional<ValoresRecibo> reciboDoRegistro(const dataset::RegistroTransmissao& registro);

// Whether the record keeps the address and the authentication; one written
// before records held them does not.
bool registroCompleto(const dataset::RegistroTransmissao& registro);

// The receipt of a record as both front ends print it again: when the upload
// was not sent, MsgRegistroSemRecibo is shown (warning) and there is nothing
// to print; a record without the address and the authentication shows
// MsgRegistroIncompleto (information) and prints without them.
std::optional<ValoresRecibo> reciboParaImprimir(const dataset::RegistroTransmissao& registro);

// The suggested file name of a receipt's PDF: "Recibo-<protocol>.pdf", with
// every character that cannot stand in a file name replaced by "_".
std::string nomeArquivoRecibo(const std::string& protocolo);

inline constexpr const char* MsgRegistroSemRecibo =
    "Este registro é de um envio que não foi concluído: ele não tem protocolo e, portanto, não tem recibo.";
inline constexpr const char* MsgRegistroIncompleto =
    "Este registro não guarda o endereço IP nem a autenticação (foi gravado por uma versão anterior do VEK); o "
    "recibo sai sem eles.";

}  // namespace vek::app
