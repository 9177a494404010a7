#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vek::app {

// The access page's rules, shared by the window and vek-cli.

// Whether a character typed into the registry field reaches it: the digits
// "0" to "9" and backspace (code 8) only.
bool caractereRegistroAceito(char32_t c);

// The access page's check before any function runs: both fields filled (after
// trimming blanks and control characters) and a registry number of exactly six
// characters. Returns the warning to show, or nothing when the input passes.
std::optional<std::string> verificarAcesso(std::string_view registro, std::string_view senha);

inline constexpr const char* MsgPreencherRegistroESenha = "É necessário preencher o Registro da ZEB e a Senha.";
inline constexpr const char* MsgRegistroSeisCaracteres = "O Registro ZEB deve ter 6 caracteres.";
inline constexpr const char* MsgCarregandoTipos = "Carregando lista com os tipos de arquivo...";

}  // namespace vek::app
