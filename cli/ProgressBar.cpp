#include "cli/ProgressBar.h"

#include "cli/ErrorStream.h"

#include <charconv>
#include <cstdio>
#include <utility>

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

// The "12.34%" or "12,34%" figure of a block report.
double reportedPercent(const std::string& text)
{
    const auto pct = text.find('%');
    if (pct == std::string::npos) {
        return -1;
    }
    const auto blank = text.rfind(' ', pct);
    const auto start = blank == std::string::npos ? 0 : blank + 1;
    std::string number = text.substr(start, pct - start);
    for (char& c : number) {
        if (c == ',') {
            c = '.';
        }
    }
    // Not strtod: the program runs in the user's locale, whose separator may be ",".
    double v = -1;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
    return ec == std::errc() && end != number.data() ? v : -1;
}

}  // namespace

ProgressBar::ProgressBar(ErrorStream& err, app::TransferEstimate::Now now)
    : err_(err)
    , now_(now)
    , estimate_(app::TransferEstimate::Direction::Sending, now)
    , received_(app::TransferEstimate::Direction::Receiving, std::move(now))
{}

ProgressBar::~ProgressBar()
{
    finish();
}

void ProgressBar::draw(const std::string& line, const std::string& state, bool force)
{
    if (!err_.terminal()) {
        return;
    }
    const auto now = now_();
    if (!force && drawn_ && state == drawnState_ && now - lastDraw_ < std::chrono::milliseconds(100)) {
        return;
    }
    lastDraw_ = now;
    drawn_ = true;
    drawnState_ = state;
    std::string shown = line;
    for (char& c : shown) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    // A line longer than the terminal would wrap, and the next drawing would
    // clear only its last part.
    err_.drawProgress(fitColumns(shown, err_.columns() - 1));
}

void ProgressBar::upload(const channel::TStatusUpload& s, std::int64_t totalBytes)
{
    std::string line;
    const double done = reportedPercent(s.Mensagem);
    if (s.StatusTransmissao == channel::tseExecutando && done >= 0 && totalBytes > 0) {
        // The other steps are over: the room goes to what went, the speed and
        // the time left; the step's own text follows where the line has room.
        estimate_.update(static_cast<std::int64_t>(static_cast<double>(totalBytes) * done / 100.0), totalBytes);
        line += mark(s.StatusTransmissao);
        line += "Transmissão [" + bar(s.PercentTransmissao, 10) + "] " + estimate_.text() + " · " + s.Mensagem;
    } else {
        line += mark(s.StatusPreparacao);
        line += "Preparação [" + bar(s.PercentPreparacao, 10) + "] ";
        line += mark(s.StatusConexao);
        line += "Conexão [" + bar(s.PercentConexao, 10) + "] ";
        line += mark(s.StatusTransmissao);
        line += "Transmissão [" + bar(s.PercentTransmissao, 10) + "] ";
        line += s.Mensagem;
    }
    const bool ending = s.StatusTransmissao == channel::tseFinalizada || s.StatusConexao == channel::tseErro ||
                        s.StatusPreparacao == channel::tseErro || s.StatusTransmissao == channel::tseErro;
    const std::string state{static_cast<char>(s.StatusPreparacao),
                            static_cast<char>(s.PercentPreparacao),
                            static_cast<char>(s.StatusConexao),
                            static_cast<char>(s.PercentConexao),
                            static_cast<char>(s.StatusTransmissao),
                            static_cast<char>(s.PercentTransmissao)};
    draw(line, state, ending);
}

void ProgressBar::simple(int percent, const std::string& text)
{
    const int p = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
    lastPercent_ = p;
    lastText_ = text;
    std::string line = "[" + bar(p, 20) + "] " + std::to_string(p) + "% ";
    if (received_.started()) {
        line += received_.text() + " · ";
    }
    draw(line + text, std::to_string(p), p == 100);
}

void ProgressBar::received(std::int64_t doneBytes, std::int64_t totalBytes)
{
    if (received_.update(doneBytes, totalBytes)) {
        // The estimate paces itself: a due text is drawn at once.
        const std::string line = "[" + bar(lastPercent_, 20) + "] " + std::to_string(lastPercent_) + "% " +
                                 received_.text() + " · " + lastText_;
        draw(line, std::to_string(lastPercent_), true);
    }
}

void ProgressBar::finish()
{
    err_.endProgress();
}

}  // namespace vek::cli
