#pragma once

#include <string_view>

namespace vek::app {

// A named point of a long-running command where a test can make the process
// die at once, as a power cut or `kill -9` would: when the environment
// variable VEK_TESTE_QUEDA holds exactly `nome`, the process ends there with
// _exit(CodigoQueda), flushing nothing. Without the variable (as in
// production) it does nothing.
void pontoDeQueda(std::string_view nome);

inline constexpr int CodigoQueda = 86;

}  // namespace vek::app
