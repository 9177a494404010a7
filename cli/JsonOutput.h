#pragma once

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vek::app {
struct UploadOutcome;
}
namespace vek::dataset {
class Table;
}

namespace vek::cli {

// --json: one JSON object per result, one per line, UTF-8. The field names
// are part of vek-cli's outside contract (README, vek-cli(1)): change none.

// One upload (enviar, parametros, vigiar): Arquivo, Sucesso, Protocolo,
// DataHora, EnderecoIP, Autenticacao (null unless sent), Registro (the
// record's path or null), Erro (the raised text or null); `extra` fields
// (name, text) follow, a null for an empty text.
struct ExtraField
{
    std::string name;
    std::optional<std::string> text;
    std::optional<long long> number;
};
void writeUploadJson(std::ostream& out,
                     const std::string& arquivo,
                     const app::UploadOutcome& outcome,
                     const std::vector<ExtraField>& extra = {});

// The summary of several uploads: {"Resumo": {Total, Enviados, Falharam, NaoEnviados}}.
void writeBatchSummaryJson(std::ostream& out,
                           std::size_t total,
                           std::size_t enviados,
                           const std::vector<std::string>& falharam,
                           const std::vector<std::string>& naoEnviados);

// One object per record with the columns as names: texts as strings,
// decimals as numbers (whole ones as integers), timestamps as
// "yyyy-mm-ddThh:nn:ss", null as null.
void writeTableJson(std::ostream& out, const dataset::Table& table, std::span<const std::string_view> columns);

// A type list: {"Lista": text as returned, "Tipos": [{"Codigo", "Descricao"}…]},
// one entry per "|" piece, split at its first "#".
void writeTypeListJson(std::ostream& out, const std::string& lista);

// A finished download: {"Caminho", "ID_ARQUIVO_DISPONIVEL", "NM_ARQUIVO"}.
void writeDownloadJson(std::ostream& out, const std::string& caminho, const dataset::Table& table, std::size_t row);

}  // namespace vek::cli
