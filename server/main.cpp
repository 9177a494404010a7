#include "platform/Signals.h"
#include "server/CommandLine.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Every thread inherits the blocked signals; only sigwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that goes away mid-write, or a full store, must not end the server.
    vek::platform::ignoreWriteSignals();

    const std::vector<std::string> args(argv + 1, argv + argc);
    const int terminal = isatty(STDIN_FILENO) == 1 ? STDIN_FILENO : -1;
    return vek::server::runZebd(
        args,
        std::cout,
        std::cerr,
        [&stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
        },
        terminal);
}
