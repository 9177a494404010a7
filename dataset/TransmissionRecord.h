#pragma once

#include <filesystem>
#include <string>

namespace vek::dataset {

// The values of one transmission record, in the order they are written.
struct RegistroTransmissao
{
    std::string operadora;
    std::string tipo_Arquivo;
    std::string arquivo;
    std::string dataTransmissao;
    std::string protocoloTX;
    std::string aplicativo;
    std::string informacoesArquivo;
    std::string clienteTransmissao;
    // What else the receipt shows, so that it can be printed again: the
    // sender's address as the server saw it, the authentication, and whether
    // the upload ran from a parameter file (its protocol line then names the
    // application). These are not part of the record document, whose shape
    // is fixed; they go in its companion file (caminhoRecibo).
    std::string enderecoIP;
    std::string autenticacao;
    bool modoParametros = false;
};

// The "modo" element's values.
inline constexpr const char* ModoInterativo = "interativo";
inline constexpr const char* ModoParametros = "parametros";

// The record document: root "VEK" with the eight text elements, UTF-8,
// no declaration, no whitespace.
std::string registroXml(const RegistroTransmissao& registro);

// The companion file of the record at `registro`: its name without ".xml",
// then ".recibo". It holds root "recibo" with "protocoloTX", "enderecoIP",
// "autenticacao" and "modo".
std::filesystem::path caminhoRecibo(const std::filesystem::path& registro);

// Reads a record back, with the receipt's own values from its companion
// file. A record without a sound companion of the same protocol (one written
// before companions existed) reads with them empty and in interactive mode.
// Throws vek::Error when the record cannot be read or is no record (not XML,
// another root, one of the eight elements missing).
RegistroTransmissao lerRegistroTransmissao(const std::filesystem::path& path);

// Writes the record as `fileName` in the "Protocolos" directory under
// baseDir (created when missing), replacing a file of that name, and then its
// companion; a companion that could not be written is removed, so that an
// earlier one never goes with the new record. Every
// failure is swallowed: the upload's outcome does not depend on it. Returns
// whether the file was written.
bool gravarRegistroTransmissao(const RegistroTransmissao& registro,
                               const std::filesystem::path& baseDir,
                               const std::string& fileName);

}  // namespace vek::dataset
