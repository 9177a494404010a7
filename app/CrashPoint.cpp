#include "app/CrashPoint.h"

#include <cstdlib>
#include <unistd.h>

namespace vek::app {

void pontoDeQueda(std::string_view nome)
{
    const char* alvo = std::getenv("VEK_TESTE_QUEDA");
    if (alvo != nullptr && nome == alvo) {
        _exit(CodigoQueda);
    }
}

}  // namespace vek::app
