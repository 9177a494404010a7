#pragma once

#include "platform/Error.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vek::cli {

// SIGINT and SIGTERM held back for the whole run of a long-running command
// and read from a descriptor: they end it between two files, never in the
// middle of one.
class StopSignals
{
public:
    // `also`: one more signal read from the same descriptor (0: none).
    explicit StopSignals(int also = 0)
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        if (also != 0) {
            sigaddset(&set_, also);
        }
        sigprocmask(SIG_BLOCK, &set_, &previous_);
        fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
        if (fd_ < 0) {
            const int code = errno;
            sigprocmask(SIG_SETMASK, &previous_, nullptr);
            throw Error(std::string("signalfd: ") + std::strerror(code), code);
        }
    }
    ~StopSignals()
    {
        close(fd_);
        sigprocmask(SIG_SETMASK, &previous_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    [[nodiscard]] int fd() const { return fd_; }
    // Whether one arrived (without waiting).
    bool arrived() { return next() != 0; }
    // The signal that arrived, 0 when none (without waiting).
    int next()
    {
        signalfd_siginfo info{};
        if (read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            return 0;
        }
        return static_cast<int>(info.ssi_signo);
    }

private:
    sigset_t set_{};
    sigset_t previous_{};
    int fd_ = -1;
};

}  // namespace vek::cli
