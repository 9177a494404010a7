#include "wire/UserMessage.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::wire {
namespace {

// A text is meant for the user only when it begins with the prefix; the
// prefix further on in a text that came from elsewhere (a server's FTP
// reply, a file name) does not make it one.
TEST(HasUserMessagePrefix, ComparesTheFirstThirteenCharactersUpperCased)
{
    struct Case
    {
        const char* text;
        bool prefixed;
    };
    const std::array cases{
        Case{"<<CANAL_ZEB>> texto", true},
        Case{"<<canal_zeb>>", true},
        Case{"<<CANAL_ZEB>>", true},
        Case{"<<CANAL_ZEB> texto", false},
        Case{"", false},
        Case{"550 arquivo <<CANAL_ZEB>> texto", false},
        Case{" <<CANAL_ZEB>> texto", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hasUserMessagePrefix(c.text), c.prefixed);
    }
}

TEST(UserMessage, PrefixBlankAndTextComeOffAgainAsBlankAndText)
{
    const std::string m = userMessage("Erro de comunicação na leitura das chaves...");
    EXPECT_EQ(m, "<<CANAL_ZEB>> Erro de comunicação na leitura das chaves...");
    EXPECT_TRUE(hasUserMessagePrefix(m));
    EXPECT_EQ(withoutUserMessagePrefix(m), " Erro de comunicação na leitura das chaves...");
    EXPECT_EQ(withoutUserMessagePrefix("<<canal_zeb>>x"), "x");
}

}  // namespace
}  // namespace vek::wire
