#pragma once

#include "platform/IniFile.h"

#include <filesystem>
#include <optional>
#include <string>

namespace vek::platform {

// The configuration a run reads: the base directory's vek.INI and, in the
// per-user mode, the system-wide template under it, key by key. A key the
// user's file holds wins, whatever its value (empty or not a number
// included); any other comes from the template.
class Configuration
{
public:
    // `layerBelow`: the file read under `file`; none, for a base directory
    // that keeps its own configuration.
    Configuration(std::filesystem::path file, std::optional<std::filesystem::path> layerBelow);

    // This run's: the base directory's vek.INI, over the system-wide template
    // in the per-user mode.
    [[nodiscard]] static Configuration current();

    [[nodiscard]] const std::filesystem::path& file() const { return own_.path(); }
    [[nodiscard]] std::optional<std::filesystem::path> layerBelow() const;

    [[nodiscard]] std::optional<std::string> read(const std::string& section, const std::string& key) const;
    [[nodiscard]] std::string
    readString(const std::string& section, const std::string& key, const std::string& defaultValue) const;
    // The default when the key is absent from both files, or when the file
    // that holds it holds no whole number.
    [[nodiscard]] int readInteger(const std::string& section, const std::string& key, int defaultValue) const;

    // Writes `value` for a key that the file lacks, so that the file shows
    // what to change. With a layer below nothing is written: a default in the
    // user's file would hide the template's key for ever. Throws vek::Error
    // when the file cannot be written.
    void writeDefault(const std::string& section, const std::string& key, const std::string& value);

private:
    [[nodiscard]] const IniFile* holder(const std::string& section, const std::string& key) const;

    IniFile own_;
    std::optional<IniFile> below_;
};

}  // namespace vek::platform
