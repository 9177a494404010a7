#pragma once

#include "app/AppState.h"

#include <filesystem>
#include <optional>
#include <string>

namespace vek::channel {
class TCanalZEBCliente;
struct TResultadoEnvio;
}  // namespace vek::channel

namespace vek::app {

// What the window holds about the upload whose record is written.
struct DadosRegistro
{
    std::string registro;     // operator registry number
    std::string tipoArquivo;  // as held: the extension in the name's case, or the type given
    std::string arquivo;      // the path as chosen or given
    std::string informacoes;  // additional information; empty in interactive mode
    bool modoParametros = false;
};

// What the window's state holds about the upload being recorded.
DadosRegistro dadosRegistro(const AppState& estado);

// Writes the transmission record of an upload into "Protocolos" under the
// base directory as `nomeArquivo`; an unsuccessful result gives empty protocol
// and date elements. Returns its path, or nothing when it
// could not be written (which never changes the upload's outcome).
std::optional<std::filesystem::path> gravarRegistroEnvio(const DadosRegistro& dados,
                                                         const channel::TResultadoEnvio& resultado,
                                                         const channel::TCanalZEBCliente& canal,
                                                         const std::string& nomeArquivo);

}  // namespace vek::app
