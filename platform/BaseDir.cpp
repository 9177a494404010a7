#include "platform/BaseDir.h"

#include "platform/Error.h"
#include "platform/IniFile.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vek::platform {
namespace {

std::optional<std::string> environment(const char* name)
{
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
        return std::string(value);
    }
    return std::nullopt;
}

bool sameDirectory(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const auto normal = [](const std::filesystem::path& p) {
        auto n = p.lexically_normal();
        return n.has_filename() ? n : n.parent_path();
    };
    return normal(a) == normal(b);
}

std::filesystem::path homeDir()
{
    if (auto home = environment("HOME")) {
        return *home;
    }
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

// Missing directories are made private to the user, as the XDG base
// directory rules ask; a failure shows later, when a file is written there.
void createPrivateDirectories(const std::filesystem::path& dir)
{
    std::error_code ec;
    if (dir.empty() || std::filesystem::is_directory(dir, ec)) {
        return;
    }
    createPrivateDirectories(dir.parent_path());
    ::mkdir(dir.c_str(), S_IRWXU);
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool writeWholeFile(const std::filesystem::path& path, const std::string& text)
{
    const auto tmp = std::filesystem::path(path.string() + ".tmp");
    std::error_code ec;
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            std::filesystem::remove(tmp, ec);
            return false;
        }
    }
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        return false;
    }
    return true;
}

}  // namespace

std::filesystem::path executablePath()
{
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return std::filesystem::current_path(ec) / "vek";
    }
    return p;
}

bool executableDirServes(const std::filesystem::path& dir)
{
    static const std::filesystem::path systemDirs[] = {
        "/usr/bin",
        "/usr/local/bin",
        "/bin",
        "/usr/sbin",
        "/usr/local/sbin",
        "/sbin",
#ifdef VEK_INSTALL_BINDIR
        VEK_INSTALL_BINDIR,
#endif
    };
    for (const auto& systemDir : systemDirs) {
        if (sameDirectory(dir, systemDir)) {
            return false;
        }
    }
    return ::faccessat(AT_FDCWD, dir.c_str(), W_OK, AT_EACCESS) == 0;
}

std::filesystem::path userDataDir()
{
    if (auto dataHome = environment("XDG_DATA_HOME"); dataHome && std::filesystem::path(*dataHome).is_absolute()) {
        return std::filesystem::path(*dataHome) / "vek";
    }
    return homeDir() / ".local" / "share" / "vek";
}

std::filesystem::path systemConfigTemplate()
{
    if (auto path = environment("VEK_TEST_SYSTEM_INI")) {
        return *path;
    }
    return "/etc/vek/vek.INI";
}

namespace {

std::optional<BaseLocation>& locationForTests()
{
    static std::optional<BaseLocation> location;
    return location;
}

bool sameText(const std::optional<std::string>& a, const char* b)
{
    return a && *a == b;
}

// The values earlier versions wrote into a missing key, with the rule that
// tells them from a user's own: a local server with a port of its own was set
// by hand.
bool writtenDefault(const IniFile& config, const std::string& section, const std::string& key)
{
    const auto lower = [](std::string text) {
        for (auto& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return text;
    };
    if (lower(section) != "defaults") {
        return false;
    }
    const auto port = config.read(section, "PortaServico");
    if (lower(key) == "portaservico") {
        return sameText(port, "80");
    }
    return lower(key) == "servidorinternet" && sameText(config.read(section, key), "127.0.0.1") &&
           (!port || *port == "80");
}

}  // namespace

void adoptTemplateLayer(const std::filesystem::path& base, const std::filesystem::path& templatePath)
{
    std::error_code ec;
    const auto record = base / TemplateLayerRecordName;
    if (std::filesystem::exists(record, ec)) {
        return;
    }
    const auto config = base / ConfigFileName;
    const auto marker = base / CopiedTemplateMarkerName;
    if (std::filesystem::is_regular_file(config, ec)) {
        IniFile user(config);
        const IniFile layer(templatePath);
        const bool copied = std::filesystem::exists(marker, ec);
        // The copy wrote the configuration, then the marker; a configuration
        // written later holds someone's changes.
        bool writtenSinceCopy = true;
        if (copied) {
            std::error_code configError;
            std::error_code markerError;
            const auto configTime = std::filesystem::last_write_time(config, configError);
            const auto markerTime = std::filesystem::last_write_time(marker, markerError);
            writtenSinceCopy = configError || markerError || configTime > markerTime;
        }
        std::vector<std::pair<std::string, std::string>> taken;
        for (const auto& [section, key] : user.entries()) {
            bool take = writtenDefault(user, section, key);
            if (!take && copied) {
                const auto fromTemplate = layer.read(section, key);
                take = fromTemplate && (!writtenSinceCopy || fromTemplate == user.read(section, key));
            }
            if (take) {
                taken.emplace_back(section, key);
            }
        }
        if (!taken.empty()) {
            const auto backup = base / TemplateLayerBackupName;
            // An earlier attempt that failed half-way already kept the original.
            if (!std::filesystem::exists(backup, ec)) {
                const auto original = readWholeFile(config);
                if (!original || !writeWholeFile(backup, *original)) {
                    return;
                }
            }
            try {
                user.remove(taken);
            } catch (const Error&) {
                return;
            }
        }
    }
    if (!writeWholeFile(record,
                        "vek.INI lido sobre " + templatePath.string() +
                            ", chave a chave (as chaves do usuário valem).\n")) {
        return;
    }
    std::filesystem::remove(marker, ec);
}

BaseLocation baseLocation()
{
    if (const auto& forTests = locationForTests()) {
        return *forTests;
    }
    if (auto dir = environment("VEK_DIR")) {
        return {.dir = *dir, .perUser = false};
    }
    auto exeDir = executablePath().parent_path();
    if (executableDirServes(exeDir)) {
        return {.dir = exeDir, .perUser = false};
    }
    auto dir = userDataDir();
    createPrivateDirectories(dir);
    adoptTemplateLayer(dir, systemConfigTemplate());
    return {.dir = dir, .perUser = true};
}

std::filesystem::path baseDir()
{
    return baseLocation().dir;
}

ScopedBaseLocation::ScopedBaseLocation(BaseLocation location)
    : previous_(locationForTests())
{
    locationForTests() = std::move(location);
}

ScopedBaseLocation::~ScopedBaseLocation()
{
    locationForTests() = previous_;
}

std::filesystem::path tempDir()
{
    if (auto dir = environment("TMPDIR")) {
        return *dir;
    }
    return "/tmp";
}

}  // namespace vek::platform
