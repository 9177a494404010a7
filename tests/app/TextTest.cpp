#include "app/Text.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::app {
namespace {

TEST(Text, TrimmedDropsBlanksAndControlCharactersAtBothEnds)
{
    const std::array<std::pair<const char*, const char*>, 6> cases{{
        {"", ""},
        {" \t\r\n ", ""},
        {"  12/2026 ", "12/2026"},
        {"\t competência 03\t\r ", "competência 03"},
        {"a b", "a b"},
        {"\x1Fx\x7F", "x\x7F"},  // DEL is no blank
    }};
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(trimmed(text), expected);
    }
}

TEST(Text, CaseChangesOnlyAToZ)
{
    EXPECT_EQ(upperAZ("abç.xYz"), "ABç.XYZ");
    EXPECT_EQ(lowerAZ("ÁRVORE.TXT"), "Árvore.txt");
}

// The texts of the core carry line breaks in every Windows form; a screen
// (a label, a message box, a terminal line) shows each as one break.
TEST(Text, ScreenTextMakesEveryWindowsLineBreakOne)
{
    const std::array<std::pair<const char*, const char*>, 7> cases{{
        {"a\r\nb", "a\nb"},
        {"a\n\rb", "a\nb"},  // as the channel's connection texts have it
        {"a\rb", "a\nb"},
        {"a\nb", "a\nb"},
        {"a\r\rb", "a\n\nb"},
        {"a\r\n\r\nb", "a\n\nb"},
        {"sem quebra", "sem quebra"},
    }};
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        EXPECT_EQ(screenText(text), expected);
    }
}

}  // namespace
}  // namespace vek::app
