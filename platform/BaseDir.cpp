#include "platform/BaseDir.h"

#include "platform/Error.h"
#include "platform/IniFile.h"

#include <array>
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

void seedFromTemplate(const std::filesystem::path& base, const std::filesystem::path& templatePath)
{
    std::error_code ec;
    const auto marker = base / TemplateMarkerName;
    if (std::filesystem::exists(marker, ec)) {
        return;
    }
    const auto templateText = readWholeFile(templatePath);
    if (!templateText) {
        return;
    }
    const auto config = base / ConfigFileName;
    if (!std::filesystem::exists(config, ec)) {
        if (!writeWholeFile(config, *templateText)) {
            return;
        }
    } else {
        const IniFile source(templatePath);
        IniFile target(config);
        try {
            for (const auto& [section, key] : source.entries()) {
                if (!target.read(section, key)) {
                    target.write(section, key, source.readString(section, key, {}));
                }
            }
        } catch (const Error&) {
            return;
        }
    }
    writeWholeFile(marker, templatePath.string() + "\n");
}

std::filesystem::path baseDir()
{
    if (auto dir = environment("VEK_DIR")) {
        return *dir;
    }
    auto exeDir = executablePath().parent_path();
    if (executableDirServes(exeDir)) {
        return exeDir;
    }
    auto dir = userDataDir();
    createPrivateDirectories(dir);
    seedFromTemplate(dir, systemConfigTemplate());
    return dir;
}

std::filesystem::path tempDir()
{
    if (auto dir = environment("TMPDIR")) {
        return *dir;
    }
    return "/tmp";
}

}  // namespace vek::platform
