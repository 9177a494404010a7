#pragma once

#include <string_view>

namespace vek::dataset {

// Field names of the list and history tables.
namespace field {
inline constexpr std::string_view NM_ARQUIVO = "NM_ARQUIVO";
inline constexpr std::string_view DE_CONTEUDO_ARQUIVO = "DE_CONTEUDO_ARQUIVO";
inline constexpr std::string_view TAMANHO = "TAMANHO";
inline constexpr std::string_view MEDIDA = "MEDIDA";
inline constexpr std::string_view ULT_DOWNLOAD = "ULT_DOWNLOAD";
inline constexpr std::string_view DT_CADASTRO = "DT_CADASTRO";
inline constexpr std::string_view ID_ARQUIVO_DISPONIVEL = "ID_ARQUIVO_DISPONIVEL";
inline constexpr std::string_view CD_CHAVE_CRIPTOGRAFIA = "CD_CHAVE_CRIPTOGRAFIA";
inline constexpr std::string_view DE_PATH_ARQUIVO = "DE_PATH_ARQUIVO";
inline constexpr std::string_view CD_TIPO_ARQUIVO = "CD_TIPO_ARQUIVO";
inline constexpr std::string_view TAMANHOFTM = "TAMANHOFTM";
inline constexpr std::string_view ENVIADO = "ENVIADO";

inline constexpr std::string_view CD_OPERADORA = "CD_OPERADORA";
inline constexpr std::string_view DT_TRANSMISSAO = "DT_TRANSMISSAO";
inline constexpr std::string_view CD_PROTOCOLO = "CD_PROTOCOLO";
inline constexpr std::string_view NM_STATUS_PROCESSAMENTO = "NM_STATUS_PROCESSAMENTO";
inline constexpr std::string_view QT_AVISOS = "QT_AVISOS";
inline constexpr std::string_view QT_ERROS = "QT_ERROS";
}  // namespace field

}  // namespace vek::dataset
