#include "app/AccessChecks.h"

#include "platform/Win1252.h"

namespace vek::app {

bool caractereRegistroAceito(char32_t c)
{
    return (c >= U'0' && c <= U'9') || c == U'\b';
}

std::string aparar(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') {
        ++begin;
    }
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

std::optional<std::string> verificarAcesso(std::string_view registro, std::string_view senha)
{
    const std::string reg = aparar(registro);
    if (reg.empty() || aparar(senha).empty()) {
        return std::string(MsgPreencherRegistroESenha);
    }
    // The length counts characters, not bytes.
    if (platform::utf8Length(reg) != 6) {
        return std::string(MsgRegistroSeisCaracteres);
    }
    return std::nullopt;
}

}  // namespace vek::app
