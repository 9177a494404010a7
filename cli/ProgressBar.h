#pragma once

#include "app/TransferEstimate.h"
#include "channel/TCanalZEBCliente.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace vek::cli {

class ErrorStream;

// A one-line progress display on a terminal: the three upload steps and the
// step text; while the data goes out, its bar with what went of the total,
// the speed and the time left.
// Draws nothing when standard error is not a terminal. A change of a step or
// of a whole percentage, and the end of the work, are drawn at once; other
// changes at most every 100 ms. What went of the total, the speed and the
// time left come from the estimate the window shows too.
class ProgressBar
{
public:
    explicit ProgressBar(ErrorStream& err, app::TransferEstimate::Now now = &app::TransferEstimate::Clock::now);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void upload(const channel::TStatusUpload& status, std::int64_t totalBytes);
    // One percentage and a text (list, history and download queries); after
    // `received`, what came of the total, the speed and the time left too.
    void simple(int percent, const std::string& text);
    // The bytes of a download so far, of `totalBytes` (0: unknown).
    void received(std::int64_t doneBytes, std::int64_t totalBytes);
    void finish();

private:
    // `state`: the steps and whole percentages the line shows.
    void draw(const std::string& line, const std::string& state, bool force);

    ErrorStream& err_;
    std::string drawnState_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    app::TransferEstimate::Now now_;
    app::TransferEstimate estimate_;
    app::TransferEstimate received_;
    int lastPercent_ = 0;
    std::string lastText_;
};

}  // namespace vek::cli
