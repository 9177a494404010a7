#pragma once

#include <stdexcept>
#include <string>

namespace vek {

// The one error type of the core: the message text and the platform error
// code (errno) captured right after the failing call, so that code which maps
// the error later never reads a clobbered errno.
class Error : public std::runtime_error
{
public:
    explicit Error(const std::string& message, int code = 0)
        : std::runtime_error(message)
        , code_(code)
    {}

    [[nodiscard]] int code() const noexcept { return code_; }

private:
    int code_;
};

}  // namespace vek
