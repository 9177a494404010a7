#pragma once

#include "channel/TCanalZEBCliente.h"

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace vek::cli {

// A one-line progress display on a terminal: the three upload steps, the
// step text and, while the data goes out, its speed and the time left.
// Draws nothing when the stream is not a terminal.
class ProgressBar
{
public:
    ProgressBar(std::ostream& err, bool enabled);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void upload(const channel::TStatusUpload& status, std::int64_t totalBytes);
    // One percentage and a text (list, history and download queries).
    void simple(int percent, const std::string& text);
    void finish();

    static bool isTerminal(int fd);

private:
    void draw(const std::string& line, bool force);

    std::ostream& err_;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::chrono::steady_clock::time_point transferStart_{};
    bool transferStarted_ = false;
};

}  // namespace vek::cli
