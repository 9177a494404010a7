#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace vek::server {

class Authenticator;
class Store;

// Files available for download to the demo operator (several types and
// sizes, with competence months) and a few past uploads in its history. The
// content is the same on every run; only keys, times and numbers differ.
void seedDemoContent(Store& store, const std::filesystem::path& dataDir, const Authenticator& authenticator);

// What zebd --demo prints once it listens: the vek.INI lines that point a
// client at it (the client's FTP port is not the default 21), after a line
// that says so. Every line ends with a line feed.
std::string demoClientConfiguration(const std::string& address, std::uint16_t messagePort, std::uint16_t ftpPort);

}  // namespace vek::server
