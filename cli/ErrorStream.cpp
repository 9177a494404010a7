#include "cli/ErrorStream.h"

#include "app/Text.h"

#include <ostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vek::cli {
namespace {

constexpr std::size_t DefaultColumns = 80;

// Clears the terminal line the cursor is on and returns to its start.
constexpr const char* ClearLine = "\r\033[K";

}  // namespace

ErrorStream::ErrorStream(std::ostream& err, bool terminal)
    : err_(err)
    , terminal_(terminal)
{}

void ErrorStream::writeLine(const std::string& prefix, const std::string& text)
{
    if (!terminal_) {
        err_ << prefix << text << '\n' << std::flush;
        return;
    }
    if (progressShown_) {
        err_ << ClearLine;
        progressShown_ = false;
    }
    err_ << app::screenText(prefix + text) << '\n' << std::flush;
}

void ErrorStream::drawProgress(const std::string& line)
{
    if (!terminal_) {
        return;
    }
    err_ << ClearLine << line << std::flush;
    progressShown_ = true;
}

void ErrorStream::endProgress()
{
    if (progressShown_) {
        err_ << '\n' << std::flush;
        progressShown_ = false;
    }
}

std::size_t ErrorStream::columns() const
{
    winsize size{};
    if (terminal_ && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return DefaultColumns;
}

std::string fitColumns(const std::string& text, std::size_t columns)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A byte 10xxxxxx continues the character before it.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == columns) {
            return text.substr(0, i);
        }
    }
    return text;
}

}  // namespace vek::cli
