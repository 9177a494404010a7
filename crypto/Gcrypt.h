#pragma once

#include <string>

namespace vek::crypto {

// Initialises libgcrypt once per process (version check, no secure memory
// warnings, initialisation finished). Safe to call from any thread.
void ensureGcrypt();

// The text of a libgcrypt error code.
std::string gcryptMessage(unsigned int err);

}  // namespace vek::crypto
