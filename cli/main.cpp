#include "cli/Cli.h"
#include "platform/Signals.h"

#include <iostream>

int main(int argc, char** argv)
{
    vek::platform::ignoreWriteSignals();
    std::ios::sync_with_stdio(true);
    return vek::cli::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
