#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vek::dataset {
struct RegistroTransmissao;
}

namespace vek::app {

// The send page's rules, shared by the window and vek-cli.

// Type-list items from the server's list text: "#" shown as " - ", one item
// per "|" piece (an empty piece between two separators is an empty item; a
// separator at the very end adds none).
std::vector<std::string> itensListaTipos(const std::string& lista);

// The type code of an item: its first three characters.
std::string codigoDoItem(const std::string& item);

// The file dialog's filter for an item: "description (*.ext)|*.ext", both
// lower-cased for A to Z only; "All files (*.*)|*.*" without an item.
std::string filtroDoItem(const std::string& item);

// Whether a file picked in the dialog has the selected item's type (the
// extension, dot included, compared with "." + code, A to Z case-folded).
bool extensaoConfere(const std::string& path, const std::string& item);

// The file type of a path: characters 2 to 4 of its extension (the dot is
// the first), in the name's letter case; empty without an extension.
std::string tipoDaExtensao(const std::string& path);

// The transmission record's name after a successful interactive upload:
// "VEK-<file name>-<ticks as a signed 32-bit number>.xml".
std::string nomeArquivoRegistro(const std::string& path, std::uint32_t ticks);

// "Arquivo %s recebido pela ZEB em %s" and "Protocolo de transmissão: %s".
std::string textoArquivoRecebido(const std::string& path, const std::string& dataHora);
std::string textoProtocolo(const std::string& protocolo);

inline constexpr const char* MsgTipoEArquivo =
    "É necessário informar o tipo de arquivo e o caminho \n\rdo arquivo a ser enviado.";
inline constexpr const char* MsgMesmoTipo = "O arquivo deve ser do mesmo tipo selecionado anteriormente.";
inline constexpr const char* MsgEnviadoComSucesso = "Arquivo enviado com sucesso.";
inline constexpr const char* MsgAtencaoProcessados =
    "ATENÇÃO: Em caso de arquivo com informações a serem incorporadas na base da ZEB, somente arquivos PROCESSADOS "
    "com sucesso serão considerados para cumprimento útil da obrigação de envio.";
inline constexpr const char* MsgAcompanharStatus =
    "Após o envio, é necessário acompanhar o status do processamento através do site.";

}  // namespace vek::app
