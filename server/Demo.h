#pragma once

#include <filesystem>

namespace vek::server {

class Authenticator;
class Store;

// Files available for download to the demo operator (several types and
// sizes, with competence months) and a few past uploads in its history. The
// content is the same on every run; only keys, times and numbers differ.
void seedDemoContent(Store& store, const std::filesystem::path& dataDir, const Authenticator& authenticator);

}  // namespace vek::server
