#include "cli/Cli.h"
#include "platform/Signals.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv)
{
    vek::platform::ignoreWriteSignals();
    vek::cli::useEnvironmentLocale();
    std::ios::sync_with_stdio(true);
    return vek::cli::run(
        std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
