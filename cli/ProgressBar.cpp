#include "cli/ProgressBar.h"

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <unistd.h>

namespace vek::cli {
namespace {

std::string bar(int percent, int width)
{
    const int filled = percent * width / 100;
    return std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.');
}

char mark(channel::TTipoStatusEtapa s)
{
    switch (s) {
    case channel::tseExecutando:
        return '>';
    case channel::tseFinalizada:
        return '+';
    case channel::tseErro:
        return '!';
    default:
        return ' ';
    }
}

// The "12.34%" figure of a block report, whatever the decimal separator.
double reportedPercent(const std::string& text)
{
    const auto pct = text.find('%');
    if (pct == std::string::npos) {
        return -1;
    }
    auto start = text.rfind(' ', pct);
    std::string number = text.substr(start == std::string::npos ? 0 : start + 1, pct - (start + 1));
    for (char& c : number) {
        if (c == ',') {
            c = '.';
        }
    }
    char* end = nullptr;
    const double v = std::strtod(number.c_str(), &end);
    return end != number.c_str() ? v : -1;
}

std::string duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

}  // namespace

ProgressBar::ProgressBar(std::ostream& err, bool enabled)
    : err_(err)
    , enabled_(enabled)
{}

ProgressBar::~ProgressBar()
{
    finish();
}

bool ProgressBar::isTerminal(int fd)
{
    return isatty(fd) != 0;
}

void ProgressBar::draw(const std::string& line, bool force)
{
    if (!enabled_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) {
        return;
    }
    lastDraw_ = now;
    drawn_ = true;
    std::string shown = line.substr(0, 150);
    for (char& c : shown) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    err_ << "\r\033[K" << shown << std::flush;
}

void ProgressBar::upload(const channel::TStatusUpload& s, std::int64_t totalBytes)
{
    std::string line;
    line += mark(s.StatusPreparacao);
    line += "Preparação [" + bar(s.PercentPreparacao, 10) + "] ";
    line += mark(s.StatusConexao);
    line += "Conexão [" + bar(s.PercentConexao, 10) + "] ";
    line += mark(s.StatusTransmissao);
    line += "Transmissão [" + bar(s.PercentTransmissao, 10) + "] ";
    const double done = reportedPercent(s.Mensagem);
    if (s.StatusTransmissao == channel::tseExecutando && done >= 0 && totalBytes > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (!transferStarted_) {
            transferStarted_ = true;
            transferStart_ = now;
        }
        const double secs = std::chrono::duration<double>(now - transferStart_).count();
        const double bytes = static_cast<double>(totalBytes) * done / 100.0;
        if (secs > 0.2 && bytes > 0) {
            const double rate = bytes / secs;
            char buf[96];
            std::snprintf(buf,
                          sizeof buf,
                          "%.1f%% %.1f MB/s, faltam %s ",
                          done,
                          rate / 1e6,
                          duration((static_cast<double>(totalBytes) - bytes) / rate).c_str());
            line += buf;
        }
    }
    line += s.Mensagem;
    const bool ending = s.StatusTransmissao == channel::tseFinalizada || s.StatusConexao == channel::tseErro ||
                        s.StatusPreparacao == channel::tseErro || s.StatusTransmissao == channel::tseErro;
    draw(line, ending);
}

void ProgressBar::simple(int percent, const std::string& text)
{
    const int p = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
    draw("[" + bar(p, 20) + "] " + std::to_string(p) + "% " + text, p == 100);
}

void ProgressBar::finish()
{
    if (enabled_ && drawn_) {
        err_ << "\n" << std::flush;
        drawn_ = false;
    }
}

}  // namespace vek::cli
