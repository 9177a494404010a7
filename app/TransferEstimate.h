#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace vek::app {

// What a long transfer shows beside its percentage, the same in the window
// and in vek-cli: what went of the total, the current speed and the time
// left, in Portuguese number formats ("52,1 MB de 300,0 MB · 1,8 MB/s ·
// faltam 2 min 18 s"). The speed is measured over the last seconds, so that
// a transfer that slows down shows it soon. The clock is a seam: tests give
// their own.
class TransferEstimate
{
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    enum class Direction
    {
        Sending,
        Receiving,
    };

    // A new text at most this often (the end of the transfer always shows).
    static constexpr std::chrono::milliseconds ShowInterval{250};
    // The speed is measured over this much of the recent transfer...
    static constexpr std::chrono::milliseconds SpeedWindow{5000};
    // ...and shown once the transfer has run this long.
    static constexpr std::chrono::milliseconds FirstSpeedAfter{1000};

    explicit TransferEstimate(Direction direction, Now now = &Clock::now);

    // Forgets the transfer that was measured: the next update starts anew.
    void reset();
    // Another clock from the next update on (tests).
    void setClock(Now now) { now_ = std::move(now); }

    // `done` of `total` bytes (total 0 or less: unknown size). True when the
    // text is due to be shown again: the first update of a transfer, the
    // first after ShowInterval since the last one shown, and the one that
    // reaches the total. A transfer whose bytes go back (a retry) starts anew.
    bool update(std::int64_t done, std::int64_t total);

    [[nodiscard]] bool started() const { return !samples_.empty(); }
    [[nodiscard]] std::int64_t done() const { return done_; }
    [[nodiscard]] std::int64_t total() const { return total_; }
    // Bytes per second over the recent transfer; none until it ran FirstSpeedAfter.
    [[nodiscard]] std::optional<double> bytesPerSecond() const;
    // None while the speed or the size is unknown, or nothing moves.
    [[nodiscard]] std::optional<std::chrono::seconds> timeLeft() const;

    // "Enviados 52,1 MB de 300,0 MB · 1,8 MB/s · faltam 2 min 18 s": the
    // amount and the rate; empty before the first update.
    [[nodiscard]] std::string text() const;
    // "Enviados 52,1 MB de 300,0 MB" ("Recebidos 3,0 MB" of an unknown size,
    // or of one that the transfer outgrew: a listed size is rounded).
    [[nodiscard]] std::string amountText() const;
    // "1,8 MB/s · faltam 2 min 18 s", "calculando..." while the speed is not
    // known yet; empty once the total is reached.
    [[nodiscard]] std::string rateText() const;

private:
    // A size to measure against; a transfer that outgrew it had none.
    [[nodiscard]] bool knownTotal() const { return total_ > 0 && done_ <= total_; }

    struct Sample
    {
        Clock::time_point when;
        std::int64_t bytes;
    };

    Direction direction_;
    Now now_;
    std::deque<Sample> samples_;
    Clock::time_point firstWhen_{};
    std::optional<Clock::time_point> lastShown_;
    bool shownTotal_ = false;
    std::int64_t done_ = 0;
    std::int64_t total_ = 0;
};

// "950 bytes", "12,0 KB", "52,1 MB", "1,25 GB" (units of 1024).
std::string formatBytes(std::int64_t bytes);
// "42 s", "3 min 05 s", "1 h 05 min".
std::string formatDuration(std::chrono::seconds duration);
// A number with a decimal comma and "." between thousands: "1.234,5".
std::string formatDecimal(double value, int decimals);

}  // namespace vek::app
