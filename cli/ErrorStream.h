#pragma once

#include <iosfwd>
#include <string>

namespace vek::cli {

// Standard error of one run: the "VEK: " and "Erro: " lines and, on a
// terminal, the progress line drawn among them.
class ErrorStream
{
public:
    ErrorStream(std::ostream& err, bool terminal);
    ErrorStream(const ErrorStream&) = delete;
    ErrorStream& operator=(const ErrorStream&) = delete;

    [[nodiscard]] bool terminal() const { return terminal_; }

    // One line: the prefix and a text from the core. Elsewhere than on a
    // terminal the text is written exactly as it is, carriage returns and
    // line feeds included (scripts read it so). On a terminal each of its
    // line breaks is one new line, and the line takes the place of a drawn
    // progress line.
    void writeLine(const std::string& prefix, const std::string& text);

    // Draws the progress line over the previous one (terminal only).
    void drawProgress(const std::string& line);
    // Ends a drawn progress line, so that what follows starts on a line of its own.
    void endProgress();

    // Characters that fit on one line of the terminal.
    [[nodiscard]] std::size_t columns() const;

private:
    std::ostream& err_;
    bool terminal_;
    bool progressShown_ = false;
};

// The first characters of a UTF-8 text that fit in `columns` (one column per
// character), never cutting a character in two.
std::string fitColumns(const std::string& text, std::size_t columns);

}  // namespace vek::cli
