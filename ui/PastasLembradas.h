#pragma once

#include <QString>

namespace vek::ui {

// The folder each file dialog of the window last took a file from or put one
// in, kept across runs in the user's own settings (organisation "ZEB",
// application "VEK", group "Pastas"), so that a dialog opens where the
// operator was the last time.
namespace pastas {
inline constexpr const char* AbrirArquivoEnvio = "AbrirArquivoEnvio";
inline constexpr const char* SalvarDownload = "SalvarDownload";
inline constexpr const char* ExportarHistorico = "ExportarHistorico";
inline constexpr const char* AbrirRegistro = "AbrirRegistro";
inline constexpr const char* SalvarReciboPdf = "SalvarReciboPdf";
}  // namespace pastas

// The dialog's last folder while it still exists; otherwise `padrao`.
QString pastaLembrada(const char* dialogo, const QString& padrao);

// Remembers the folder of the file the dialog gave.
void lembrarPasta(const char* dialogo, const QString& arquivoEscolhido);

}  // namespace vek::ui
