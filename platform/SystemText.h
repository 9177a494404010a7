#pragma once

#include <string>

namespace vek::platform {

// The texts of system failures as the program shows them inside its own
// messages, its trace and vek-cli's errors: Portuguese for every failure the
// program can meet (connections, name resolution, reads and writes, files,
// a full disk, a busy port), the system's own text for any other code.

// The text of an errno value.
std::string systemText(int code);

// The text of a getaddrinfo result code; EAI_SYSTEM gives systemText(err).
std::string resolverText(int resolverCode, int err = 0);

// A local port that could not be taken, named: "porta 27311 já está em uso"
// for a busy port, "sem permissão para usar a porta 80" for a forbidden one,
// systemText(code) for any other failure.
std::string portText(int code, int port);

}  // namespace vek::platform
