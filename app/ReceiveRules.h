#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace vek::app {

// The receive pages' rules, shared by the window and vek-cli.

// Moves a finished download out of temp/ to where the user chose. An
// existing file at `destino` is replaced only when `substituir`; otherwise
// the move is refused (also when such a file appears meanwhile). Across file
// systems the file is copied beside `destino` under a temporary name and
// renamed into place, so no partial file ever carries the chosen name. On
// any failure it throws vek::Error naming both places; the download stays
// in temp/.
void moverArquivoBaixado(const std::filesystem::path& origem, const std::filesystem::path& destino, bool substituir);

// The expected size the download takes, in kilobytes, kept within the
// channel's 32-bit range.
std::int32_t tamanhoEsperadoDownload(std::int64_t kilobytes);

// "O arquivo foi copiado para o diretório \"<path>\"".
std::string textoArquivoCopiado(const std::string& caminho);

inline constexpr const char* MsgArquivoNaoBaixado =
    "O arquivo não foi baixado corretamente. Por favor, tente novamente.";

}  // namespace vek::app
