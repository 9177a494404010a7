#include "app/TransferEstimate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vek::app {

TransferEstimate::TransferEstimate(Direction direction, Now now)
    : direction_(direction)
    , now_(std::move(now))
{}

void TransferEstimate::reset()
{
    samples_.clear();
    lastShown_.reset();
    shownTotal_ = false;
    done_ = 0;
    total_ = 0;
}

bool TransferEstimate::update(std::int64_t done, std::int64_t total)
{
    if (done < done_ || total != total_) {
        reset();
    }
    const auto now = now_();
    if (samples_.empty()) {
        firstWhen_ = now;
    }
    done_ = done;
    total_ = total;
    samples_.push_back({now, done});
    // Keep one sample older than the window, so that the window is always spanned.
    while (samples_.size() > 2 && now - samples_[1].when >= SpeedWindow) {
        samples_.pop_front();
    }
    const bool reachedTotal = total_ > 0 && done_ >= total_;
    if (!lastShown_ || now - *lastShown_ >= ShowInterval || (reachedTotal && !shownTotal_)) {
        lastShown_ = now;
        shownTotal_ = reachedTotal;
        return true;
    }
    return false;
}

std::optional<double> TransferEstimate::bytesPerSecond() const
{
    if (samples_.size() < 2 || samples_.back().when - firstWhen_ < FirstSpeedAfter) {
        return std::nullopt;
    }
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const double seconds = std::chrono::duration<double>(last.when - first.when).count();
    if (seconds <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(last.bytes - first.bytes) / seconds;
}

std::optional<std::chrono::seconds> TransferEstimate::timeLeft() const
{
    const auto rate = bytesPerSecond();
    if (!rate || *rate <= 0 || !knownTotal() || done_ == total_) {
        return std::nullopt;
    }
    const double seconds = std::ceil(static_cast<double>(total_ - done_) / *rate);
    // Beyond some days the figure means nothing but "stalled".
    constexpr double Most = 99.0 * 3600.0;
    return std::chrono::seconds(static_cast<std::int64_t>(std::min(seconds, Most)));
}

std::string TransferEstimate::amountText() const
{
    if (!started()) {
        return {};
    }
    std::string t = direction_ == Direction::Sending ? "Enviados " : "Recebidos ";
    t += formatBytes(done_);
    if (knownTotal()) {
        t += " de " + formatBytes(total_);
    }
    return t;
}

std::string TransferEstimate::rateText() const
{
    if (!started() || (knownTotal() && done_ == total_)) {
        return {};
    }
    const auto rate = bytesPerSecond();
    if (!rate) {
        return "calculando...";
    }
    std::string t = formatBytes(static_cast<std::int64_t>(*rate)) + "/s";
    if (const auto left = timeLeft()) {
        t += " · faltam " + formatDuration(*left);
    } else if (knownTotal()) {
        t += " · sem previsão de término";
    }
    return t;
}

std::string TransferEstimate::text() const
{
    const std::string rate = rateText();
    return rate.empty() ? amountText() : amountText() + " · " + rate;
}

std::string formatDecimal(double value, int decimals)
{
    // Not printf: its decimal point is the locale's, and this format is fixed.
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed, decimals);
    const std::string plain = ec == std::errc() ? std::string(buf, end) : std::string("0");
    const auto dot = plain.find('.');
    const std::string whole = plain.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : plain.substr(dot + 1);
    std::string grouped;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) {
            grouped += '.';
        }
        grouped += whole[i];
    }
    std::string out = (value < 0 ? "-" : "") + grouped;
    if (!fraction.empty()) {
        out += "," + fraction;
    }
    return out;
}

std::string formatBytes(std::int64_t bytes)
{
    constexpr double K = 1024.0;
    const double b = static_cast<double>(bytes);
    if (b < K) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    if (b < K * K) {
        return formatDecimal(b / K, 1) + " KB";
    }
    if (b < K * K * K) {
        return formatDecimal(b / (K * K), 1) + " MB";
    }
    return formatDecimal(b / (K * K * K), 2) + " GB";
}

std::string formatDuration(std::chrono::seconds duration)
{
    const std::int64_t s = std::max<std::int64_t>(0, duration.count());
    char buf[48];
    if (s < 60) {
        std::snprintf(buf, sizeof buf, "%lld s", static_cast<long long>(s));
    } else if (s < 3600) {
        std::snprintf(
            buf, sizeof buf, "%lld min %02lld s", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    } else {
        std::snprintf(buf,
                      sizeof buf,
                      "%lld h %02lld min",
                      static_cast<long long>(s / 3600),
                      static_cast<long long>(s % 3600 / 60));
    }
    return buf;
}

}  // namespace vek::app
