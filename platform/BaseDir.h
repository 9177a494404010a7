#pragma once

#include <filesystem>

namespace vek::platform {

// The configuration file's name in the base directory.
inline constexpr const char* ConfigFileName = "vek.INI";

// The file in a per-user base directory that records that the system-wide
// template was taken (delete it to take the template again).
inline constexpr const char* TemplateMarkerName = ".modelo-copiado";

// The running executable's path (/proc/self/exe).
std::filesystem::path executablePath();

// Where the configuration file, the trace file, temp/ and Protocolos/ live:
// VEK_DIR when set and non-empty; else the executable's directory when that
// serves (executableDirServes); else the per-user data directory, created on
// demand and seeded once from the system-wide template (seedFromTemplate).
std::filesystem::path baseDir();

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

// Seeds `base`'s configuration file from the template the first time a
// template is there: a missing file becomes a copy of it; an existing file
// gains the template's keys it lacks, its own keys winning. A marker file in
// `base` records that it happened, so later changes to either file are left
// alone. An absent or unreadable template, or a failed write, changes
// nothing and is tried again next time.
void seedFromTemplate(const std::filesystem::path& base, const std::filesystem::path& templatePath);

// The user's temporary directory: TMPDIR when set and non-empty, else /tmp.
std::filesystem::path tempDir();

}  // namespace vek::platform
