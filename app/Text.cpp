#include "app/Text.h"

namespace vek::app {

namespace {

bool blank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::string trimmed(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string screenText(std::string text)
{
    replaceAll(text, "\r\n", "\n");
    replaceAll(text, "\n\r", "\n");
    replaceAll(text, "\r", "\n");
    return text;
}

}  // namespace vek::app
