#include "channel/ConfigurationCheck.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace vek::channel {

std::optional<std::string> unconfiguredMessage(const platform::Configuration& config)
{
    const auto below = config.layerBelow();
    if (!below) {
        return std::nullopt;
    }
    const std::string server = config.readString("Defaults", "ServidorInternet", "");
    if (server.find_first_not_of(" \t") != std::string::npos) {
        return std::nullopt;
    }
    std::string message = "O VEK não está configurado: falta o endereço do servidor da ZEB (chave ServidorInternet "
                          "da seção [Defaults]). Defina-o em " +
                          config.file().string() + " ou, para todos os usuários deste computador, em " +
                          below->string() + ".";
    // A template the administrator wrote with a private mode reads as empty.
    std::error_code ec;
    if (std::filesystem::exists(*below, ec) &&
        (!std::filesystem::is_regular_file(*below, ec) || ::access(below->c_str(), R_OK) != 0)) {
        message += " " + below->string() + " existe, mas este usuário não pode lê-lo.";
    }
    return message;
}

std::optional<std::string> unconfiguredMessage()
{
    return unconfiguredMessage(platform::Configuration::current());
}

}  // namespace vek::channel
