#include "app/SendRules.h"

#include "app/Text.h"
#include "platform/Win1252.h"

#include <filesystem>

namespace vek::app {

std::vector<std::string> itensListaTipos(const std::string& lista)
{
    std::string text;
    for (const char c : lista) {
        if (c == '#') {
            text += " - ";
        } else {
            text += c;
        }
    }
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto bar = text.find('|', start);
        if (bar == std::string::npos) {
            items.push_back(text.substr(start));
            break;
        }
        items.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    return items;
}

std::string codigoDoItem(const std::string& item)
{
    return platform::utf8Left(item, 3);
}

std::string filtroDoItem(const std::string& item)
{
    if (item.empty()) {
        return "All files (*.*)|*.*";
    }
    // Description from the seventh character on: code, " - ", description.
    const std::string prefix = platform::utf8Left(item, 6);
    const std::string descricao = lowerAZ(item.substr(prefix.size()));
    const std::string ext = lowerAZ(codigoDoItem(item));
    return descricao + " (*." + ext + ")|*." + ext;
}

bool extensaoConfere(const std::string& path, const std::string& item)
{
    const std::string ext = std::filesystem::path(path).extension().string();
    return lowerAZ(ext) == "." + lowerAZ(codigoDoItem(item));
}

std::string tipoDaExtensao(const std::string& path)
{
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext.size() <= 1) {
        return {};
    }
    return platform::utf8Left(ext.substr(1), 3);
}

std::string nomeArquivoRegistro(const std::string& path, std::uint32_t ticks)
{
    return "VEK-" + std::filesystem::path(path).filename().string() + "-" +
           std::to_string(static_cast<std::int32_t>(ticks)) + ".xml";
}

std::string textoArquivoRecebido(const std::string& path, const std::string& dataHora)
{
    return "Arquivo " + std::filesystem::path(path).filename().string() + " recebido pela ZEB em " + dataHora;
}

std::string textoProtocolo(const std::string& protocolo)
{
    return "Protocolo de transmissão: " + protocolo;
}

}  // namespace vek::app
