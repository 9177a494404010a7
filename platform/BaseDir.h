#pragma once

#include <filesystem>
#include <optional>

namespace vek::platform {

// The configuration file's name in the base directory.
inline constexpr const char* ConfigFileName = "vek.INI";

// Files of a per-user base directory about the system-wide template:
// earlier versions copied the template in once and left this marker;
inline constexpr const char* CopiedTemplateMarkerName = ".modelo-copiado";
// the one-time change to reading the template as a layer records itself here
inline constexpr const char* TemplateLayerRecordName = ".camada-modelo";
// and keeps the configuration as it found it here, when it removed keys.
inline constexpr const char* TemplateLayerBackupName = "vek.INI.antes-da-camada";

// The running executable's path (/proc/self/exe).
std::filesystem::path executablePath();

struct BaseLocation
{
    std::filesystem::path dir;
    // The per-user data directory of an installed program: the system-wide
    // template lies under its configuration, and no default is written there.
    bool perUser = false;
};

// Where the configuration file, the trace file, temp/ and Protocolos/ live:
// VEK_DIR when set and non-empty; else the executable's directory when that
// serves (executableDirServes); else the per-user data directory, created on
// demand, its configuration brought once to the layered template
// (adoptTemplateLayer).
BaseLocation baseLocation();
// baseLocation().dir
std::filesystem::path baseDir();

// For tests: while it lives, baseLocation() answers `location` as it is
// (nothing is created, nothing brought to the layered template).
class ScopedBaseLocation
{
public:
    explicit ScopedBaseLocation(BaseLocation location);
    ~ScopedBaseLocation();
    ScopedBaseLocation(const ScopedBaseLocation&) = delete;
    ScopedBaseLocation& operator=(const ScopedBaseLocation&) = delete;

private:
    std::optional<BaseLocation> previous_;
};

// Whether a program in `dir` keeps its files beside itself: the process may
// write there and `dir` is not one of the system's program directories
// (/usr/bin, /usr/local/bin, … and the directory this build installs into),
// so an installed program run by root does not fill /usr/bin either.
bool executableDirServes(const std::filesystem::path& dir);

// $XDG_DATA_HOME/vek (an absolute XDG_DATA_HOME only, as the XDG base
// directory rules say), else ~/.local/share/vek.
std::filesystem::path userDataDir();

// The system-wide configuration template, /etc/vek/vek.INI; the environment
// variable VEK_TEST_SYSTEM_INI, when set and non-empty, names another file so
// that tests need not touch /etc.
std::filesystem::path systemConfigTemplate();

// Once per per-user base directory (TemplateLayerRecordName records it):
// takes out of `base`'s configuration the keys that earlier versions put
// there and that must now come from the template at `templatePath`:
// - in [Defaults], PortaServico=80, and ServidorInternet=127.0.0.1 unless the
//   file names a port other than 80 (the defaults written into missing keys);
// - where the template was copied in (CopiedTemplateMarkerName), every key
//   with the template's value, and every key the template sets when the file
//   was not written after the copy (its values are an older template's).
// The file as it was is kept in TemplateLayerBackupName first; the marker
// goes. A failure changes nothing, and the next start tries again.
void adoptTemplateLayer(const std::filesystem::path& base, const std::filesystem::path& templatePath);

// The user's temporary directory: TMPDIR when set and non-empty, else /tmp.
std::filesystem::path tempDir();

}  // namespace vek::platform
