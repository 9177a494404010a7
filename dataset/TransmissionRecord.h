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
    // What else the receipt shows, so that it can be printed again from the
    // record alone: the sender's address as the server saw it, the
    // authentication, and whether the upload ran from a parameter file (its
    // protocol line then names the application).
    std::string enderecoIP;
    std::string autenticacao;
    bool modoParametros = false;
};

// The "modo" element's values.
inline constexpr const char* ModoInterativo = "interativo";
inline constexpr const char* ModoParametros = "parametros";

// The record document: root "VEK" with the eight text elements, then
// "enderecoIP", "autenticacao" and "modo"; UTF-8, no declaration, no
// whitespace.
std::string registroXml(const RegistroTransmissao& registro);

// Reads a record back. A record written before the receipt's own elements
// existed reads with them empty and in interactive mode. Throws vek::Error
// when the file cannot be read or is no record (not XML, another root, one of
// the eight elements missing).
RegistroTransmissao lerRegistroTransmissao(const std::filesystem::path& path);

// Writes the record as `fileName` in the "Protocolos" directory under
// baseDir (created when missing), replacing a file of that name. Every
// failure is swallowed: the upload's outcome does not depend on it. Returns
// whether the file was written.
bool gravarRegistroTransmissao(const RegistroTransmissao& registro,
                               const std::filesystem::path& baseDir,
                               const std::string& fileName);

}  // namespace vek::dataset
