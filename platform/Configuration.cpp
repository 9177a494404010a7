#include "platform/Configuration.h"

#include "platform/BaseDir.h"

#include <utility>

namespace vek::platform {

Configuration::Configuration(std::filesystem::path file, std::optional<std::filesystem::path> layerBelow)
    : own_(std::move(file))
{
    if (layerBelow) {
        below_.emplace(std::move(*layerBelow));
    }
}

Configuration Configuration::current()
{
    const auto location = baseLocation();
    return Configuration(location.dir / ConfigFileName,
                         location.perUser ? std::optional(systemConfigTemplate()) : std::nullopt);
}

std::optional<std::filesystem::path> Configuration::layerBelow() const
{
    if (below_) {
        return below_->path();
    }
    return std::nullopt;
}

const IniFile* Configuration::holder(const std::string& section, const std::string& key) const
{
    if (own_.read(section, key)) {
        return &own_;
    }
    if (below_ && below_->read(section, key)) {
        return &*below_;
    }
    return nullptr;
}

std::optional<std::string> Configuration::read(const std::string& section, const std::string& key) const
{
    const IniFile* ini = holder(section, key);
    return ini != nullptr ? ini->read(section, key) : std::nullopt;
}

std::string
Configuration::readString(const std::string& section, const std::string& key, const std::string& defaultValue) const
{
    return read(section, key).value_or(defaultValue);
}

int Configuration::readInteger(const std::string& section, const std::string& key, int defaultValue) const
{
    const IniFile* ini = holder(section, key);
    return ini != nullptr ? ini->readInteger(section, key, defaultValue) : defaultValue;
}

void Configuration::writeDefault(const std::string& section, const std::string& key, const std::string& value)
{
    if (!below_ && !own_.read(section, key)) {
        own_.write(section, key, value);
    }
}

}  // namespace vek::platform
