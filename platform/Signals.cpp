#include "platform/Signals.h"

#include <csignal>

namespace vek::platform {

void ignoreWriteSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace vek::platform
