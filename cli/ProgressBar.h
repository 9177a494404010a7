#pragma once

#include "channel/TCanalZEBCliente.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace vek::cli {

class ErrorStream;

// A one-line progress display on a terminal: the three upload steps, the
// step text and, while the data goes out, its speed and the time left.
// Draws nothing when standard error is not a terminal. A change of a step or
// of a whole percentage, and the end of the work, are drawn at once; other
// changes at most every 100 ms.
class ProgressBar
{
public:
    explicit ProgressBar(ErrorStream& err);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void upload(const channel::TStatusUpload& status, std::int64_t totalBytes);
    // One percentage and a text (list, history and download queries).
    void simple(int percent, const std::string& text);
    void finish();

private:
    // `state`: the steps and whole percentages the line shows.
    void draw(const std::string& line, const std::string& state, bool force);

    ErrorStream& err_;
    std::string drawnState_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::chrono::steady_clock::time_point transferStart_{};
    bool transferStarted_ = false;
};

}  // namespace vek::cli
