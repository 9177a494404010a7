#include "platform/IniFile.h"

#include "platform/Error.h"
#include "platform/SystemText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

namespace vek::platform {
namespace {

std::string trim(std::string_view s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The section name of a "[Name]" line.
std::optional<std::string> sectionOf(const std::string& line)
{
    const std::string t = trim(line);
    if (t.size() >= 2 && t.front() == '[') {
        const auto close = t.find(']');
        if (close != std::string::npos) {
            return trim(std::string_view(t).substr(1, close - 1));
        }
    }
    return std::nullopt;
}

// Key and value of a "Key=Value" line; comments and blank lines have none.
std::optional<std::pair<std::string, std::string>> entryOf(const std::string& line)
{
    const std::string t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#') {
        return std::nullopt;
    }
    const auto eq = t.find('=');
    if (eq == std::string::npos) {
        return std::nullopt;
    }
    return std::make_pair(trim(std::string_view(t).substr(0, eq)), trim(std::string_view(t).substr(eq + 1)));
}

}  // namespace

IniFile::IniFile(std::filesystem::path path)
    : path_(std::move(path))
{}

std::vector<std::string> IniFile::loadLines() const
{
    std::vector<std::string> lines;
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::optional<std::string> IniFile::read(const std::string& section, const std::string& key) const
{
    bool inSection = false;
    for (const auto& line : loadLines()) {
        if (auto name = sectionOf(line)) {
            inSection = equalsNoCase(*name, section);
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (auto entry = entryOf(line); entry && equalsNoCase(entry->first, key)) {
            std::string value = entry->second;
            // The profile API drops one pair of enclosing quotes.
            if (value.size() >= 2 &&
                ((value.front() == '"' && value.back() == '"') || (value.front() == '\'' && value.back() == '\''))) {
                value = value.substr(1, value.size() - 2);
            }
            return value;
        }
    }
    return std::nullopt;
}

std::string
IniFile::readString(const std::string& section, const std::string& key, const std::string& defaultValue) const
{
    return read(section, key).value_or(defaultValue);
}

int IniFile::readInteger(const std::string& section, const std::string& key, int defaultValue) const
{
    const auto value = read(section, key);
    if (!value || value->empty()) {
        return defaultValue;
    }
    int result = 0;
    const char* first = value->data();
    const char* last = value->data() + value->size();
    if (*first == '+') {
        ++first;
    }
    const auto [ptr, ec] = std::from_chars(first, last, result);
    if (ec != std::errc() || ptr != last) {
        return defaultValue;
    }
    return result;
}

std::vector<std::pair<std::string, std::string>> IniFile::entries() const
{
    std::vector<std::pair<std::string, std::string>> result;
    std::optional<std::string> section;
    for (const auto& line : loadLines()) {
        if (auto name = sectionOf(line)) {
            section = std::move(name);
        } else if (auto entry = entryOf(line); entry && section) {
            result.emplace_back(*section, entry->first);
        }
    }
    return result;
}

void IniFile::write(const std::string& section, const std::string& key, const std::string& value)
{
    auto lines = loadLines();
    const std::string entryLine = key + "=" + value;

    std::optional<std::size_t> sectionStart;
    std::size_t insertAt = lines.size();
    bool done = false;
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        if (auto name = sectionOf(lines[i])) {
            if (sectionStart) {
                break;
            }
            if (equalsNoCase(*name, section)) {
                sectionStart = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (!sectionStart) {
            continue;
        }
        if (auto entry = entryOf(lines[i])) {
            if (equalsNoCase(entry->first, key)) {
                lines[i] = entryLine;
                done = true;
            } else {
                insertAt = i + 1;
            }
        } else if (!trim(lines[i]).empty()) {
            insertAt = i + 1;
        }
    }
    if (!done) {
        if (sectionStart) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entryLine);
        } else {
            lines.push_back("[" + section + "]");
            lines.push_back(entryLine);
        }
    }

    save(lines);
}

void IniFile::remove(const std::vector<std::pair<std::string, std::string>>& keys)
{
    const auto listed = [&](const std::string& section, const std::string& key) {
        return std::any_of(keys.begin(), keys.end(), [&](const auto& k) {
            return equalsNoCase(k.first, section) && equalsNoCase(k.second, key);
        });
    };
    std::vector<std::string> kept;
    std::optional<std::string> section;
    bool removed = false;
    for (auto& line : loadLines()) {
        if (auto name = sectionOf(line)) {
            section = std::move(name);
        } else if (auto entry = entryOf(line); entry && section && listed(*section, entry->first)) {
            removed = true;
            continue;
        }
        kept.push_back(std::move(line));
    }
    if (removed) {
        save(kept);
    }
}

void IniFile::save(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    const auto tmp = std::filesystem::path(path_.string() + ".tmp");
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            const int err = errno;
            std::error_code ec;
            std::filesystem::remove(tmp, ec);
            throw Error("Não foi possível gravar " + path_.string() + ": " + vek::platform::systemText(err), err);
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path_, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        throw Error("Não foi possível gravar " + path_.string(), ec.value());
    }
}

}  // namespace vek::platform
