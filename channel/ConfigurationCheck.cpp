#include "channel/ConfigurationCheck.h"

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
    return "O VEK não está configurado: falta o endereço do servidor da ZEB (chave ServidorInternet da seção "
           "[Defaults]). Defina-o em " +
           config.file().string() + " ou, para todos os usuários deste computador, em " + below->string() + ".";
}

std::optional<std::string> unconfiguredMessage()
{
    return unconfiguredMessage(platform::Configuration::current());
}

}  // namespace vek::channel
