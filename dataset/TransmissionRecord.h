#pragma once

#include <filesystem>
#include <optional>
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
    // is fixed; they go in its companion file (caminhoReciboGuardado).
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

// The folder under the base directory where the companions of the records
// in its "Protocolos" are kept. It is the program's own: in parameter-file mode
// the calling program names the files of "Protocolos", so nothing is ever
// written there beside a record.
inline constexpr const char* PastaRecibos = ".recibos";

// Where the companion of the record at `registro` is kept: for a record in a
// directory named "Protocolos", the file of the record's own name in
// PastaRecibos beside that directory (one companion per record name, as there
// is one record per name); nothing for a record elsewhere. The companion holds
// root "recibo" with "protocoloTX", "enderecoIP", "autenticacao" and "modo".
std::optional<std::filesystem::path> caminhoReciboGuardado(const std::filesystem::path& registro);

// The companion's name beside a record: the record's name without ".xml",
// then ".recibo". Earlier versions wrote companions there, and the watched
// folder puts its copies of a record and of its companion so.
std::filesystem::path caminhoReciboAoLado(const std::filesystem::path& registro);

// The companion whose values are read with the record at `registro`: the one
// in its kept place, else the one beside it, whichever first is sound and of
// the record's protocol. Nothing when there is none or the record cannot be
// read.
std::optional<std::filesystem::path> companheiroDoRegistro(const std::filesystem::path& registro);

// Reads a record back, with the receipt's own values from its companion
// (companheiroDoRegistro). A record without a sound companion of the same
// protocol (one written before companions existed) reads with them empty and
// in interactive mode.
// Throws vek::Error when the record cannot be read or is no record (not XML,
// another root, one of the eight elements missing).
RegistroTransmissao lerRegistroTransmissao(const std::filesystem::path& path);

// Writes the record as `fileName` in the "Protocolos" directory under
// baseDir (created when missing), replacing a file of that name, and then its
// companion in PastaRecibos (created when missing); when either cannot be
// written, the companion kept for that name is removed, so that an earlier one
// never goes with the new record. No other file is touched. A `fileName` that
// is not a plain name (one with directories in it) gets no companion. Every
// failure is swallowed: the upload's outcome does not depend on it. Returns
// whether the record was written.
bool gravarRegistroTransmissao(const RegistroTransmissao& registro,
                               const std::filesystem::path& baseDir,
                               const std::string& fileName);

}  // namespace vek::dataset
