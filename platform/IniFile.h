#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vek::platform {

// An INI file read and written like the Windows profile API: "[Section]" and
// "Key=Value" lines, names compared without regard to letter case, values
// trimmed of blanks. Every write goes to disk at once and keeps the file's
// other lines, comments and order; a missing file is created by the first
// write.
class IniFile
{
public:
    explicit IniFile(std::filesystem::path path);

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

    [[nodiscard]] std::optional<std::string> read(const std::string& section, const std::string& key) const;
    [[nodiscard]] std::string
    readString(const std::string& section, const std::string& key, const std::string& defaultValue) const;
    // The default when the key is absent or its value is not a whole number.
    [[nodiscard]] int readInteger(const std::string& section, const std::string& key, int defaultValue) const;

    // Section and key names of every entry, in file order; entries before the
    // first section belong to none and are left out.
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> entries() const;

    // Throws vek::Error when the file cannot be written.
    void write(const std::string& section, const std::string& key, const std::string& value);
    // Removes every entry of the listed (section, key) pairs, keeping the
    // other lines; writes nothing when none is there. Throws vek::Error when
    // the file cannot be written.
    void remove(const std::vector<std::pair<std::string, std::string>>& keys);

private:
    [[nodiscard]] std::vector<std::string> loadLines() const;
    void save(const std::vector<std::string>& lines);

    std::filesystem::path path_;
};

}  // namespace vek::platform
