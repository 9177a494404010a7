#include "app/AccessChecks.h"

#include "app/Text.h"
#include "platform/Win1252.h"

namespace vek::app {

bool caractereRegistroAceito(char32_t c)
{
    return (c >= U'0' && c <= U'9') || c == U'\b';
}

std::optional<std::string> verificarAcesso(std::string_view registro, std::string_view senha)
{
    const std::string reg = trimmed(registro);
    if (reg.empty() || trimmed(senha).empty()) {
        return std::string(MsgPreencherRegistroESenha);
    }
    // The length counts characters, not bytes.
    if (platform::utf8Length(reg) != 6) {
        return std::string(MsgRegistroSeisCaracteres);
    }
    return std::nullopt;
}

}  // namespace vek::app
