// The INI reader on the input as vek.INI: every entry it lists reads back
// through read(); a write keeps every other entry and reads back itself.

#include "platform/Error.h"
#include "platform/IniFile.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

using namespace vek;

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "ini_reader: %s\n", what);
        std::abort();
    }
}

std::string lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto path = fuzz::scratchDir() / "vek.INI";
    fuzz::writeFile(path, fuzz::asText(data, size));
    platform::IniFile ini(path);
    const auto entries = ini.entries();
    for (const auto& [section, key] : entries) {
        check(ini.read(section, key).has_value(), "a listed entry does not read");
        (void)ini.readInteger(section, key, -1);
    }
    (void)ini.readString("Defaults", "ServidorInternet", "127.0.0.1");
    (void)ini.readInteger("Defaults", "PortaServico", 80);

    std::vector<std::pair<std::string, std::optional<std::string>>> before;
    for (const auto& [section, key] : entries) {
        before.emplace_back(section + "\n" + key, ini.read(section, key));
    }
    try {
        ini.write("Defaults", "PortaFTP", "2121");
    } catch (const vek::Error&) {
        return 0;
    }
    check(ini.read("Defaults", "PortaFTP") == std::optional<std::string>("2121"), "a written key does not read back");
    std::size_t i = 0;
    for (const auto& [section, key] : entries) {
        if (lower(section) == "defaults" && lower(key) == "portaftp") {
            ++i;
            continue;  // the key written, in some letter case
        }
        check(ini.read(section, key) == before[i].second, "a write changed another entry");
        ++i;
    }
    return 0;
}
