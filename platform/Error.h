#pragma once

#include <stdexcept>
#include <string>
#include <utility>

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
    // `detail`: the system's text for the failure where the message must keep
    // a fixed wording, so that a later message can still name what failed
    // (the port of a busy data port).
    Error(const std::string& message, int code, std::string detail)
        : std::runtime_error(message)
        , code_(code)
        , detail_(std::move(detail))
    {}

    [[nodiscard]] int code() const noexcept { return code_; }
    [[nodiscard]] const std::string& detail() const noexcept { return detail_; }

private:
    int code_;
    std::string detail_;
};

}  // namespace vek
