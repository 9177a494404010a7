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
};

// The record document: root "VEK" with the eight text elements, UTF-8,
// no declaration, no whitespace.
std::string registroXml(const RegistroTransmissao& registro);

// Writes the record as `fileName` in the "Protocolos" directory under
// baseDir (created when missing), replacing a file of that name. Every
// failure is swallowed: the upload's outcome does not depend on it. Returns
// whether the file was written.
bool gravarRegistroTransmissao(const RegistroTransmissao& registro,
                               const std::filesystem::path& baseDir,
                               const std::string& fileName);

}  // namespace vek::dataset
