#include "crypto/TBlowfishQv.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::crypto {
namespace {

std::string fromHex(std::string_view hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

// Published Blowfish test vectors (Eric Young's set, as distributed with the
// algorithm's description), including the variable-key-length ones.
TEST(Blowfish, MatchesPublishedTestVectors)
{
    struct Vector
    {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const std::array vectors{
        Vector{"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        Vector{"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        Vector{"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        Vector{"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        Vector{"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        Vector{"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        Vector{"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
        Vector{"F0E1D2C3B4A5968778695A4B3C2D1E0F", "FEDCBA9876543210", "93142887EE3BE15C"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.key);
        const BlowfishEcb bf(fromHex(v.key));
        EXPECT_EQ(bf.Encrypt(fromHex(v.plain)), fromHex(v.cipher));
        EXPECT_EQ(bf.Decrypt(fromHex(v.cipher)), fromHex(v.plain));
    }
}

TEST(Blowfish, RejectsKeysOutsideOneTo56Bytes)
{
    for (const auto& key : {std::string(), std::string(57, 'k')}) {
        try {
            TBlowfishQv bf(key);
            FAIL();
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Blowfish: Key must be between 1 and 56 bytes long");
        }
    }
    EXPECT_NO_THROW(TBlowfishVEK(std::string(56, 'k')));
}

TEST(Blowfish, ZeroFillsToWholeBlocksAndDropsAPartialTail)
{
    const TBlowfishQv bf(ProtocolKey);
    EXPECT_EQ(bf.Encrypt("").size(), 0U);
    EXPECT_EQ(bf.Encrypt("12345678").size(), 8U);
    EXPECT_EQ(bf.Encrypt("123456789").size(), 16U);
    EXPECT_EQ(bf.Encrypt("abc"), bf.Encrypt(std::string("abc\0\0\0\0\0", 8)));
    const auto c = bf.Encrypt("12345678");
    EXPECT_EQ(bf.Decrypt(c + "xyz"), "12345678");
}

TEST(LetterEncoding, LowHalfFirst)
{
    EXPECT_EQ(encodeLetters(std::string("\x00\xFF\x3C", 3)), "AAPPMD");
    EXPECT_EQ(decodeLetters("AAPPMD"), std::string("\x00\xFF\x3C", 3));
    EXPECT_EQ(decodeLetters("AAPPMDX"), std::string("\x00\xFF\x3C", 3));  // unpaired last letter ignored
    // Lower case enters the same formula: ('a'-65) + ('b'-65)*16 mod 256.
    EXPECT_EQ(decodeLetters("ab"), std::string(1, static_cast<char>(((98 - 65) * 16 + (97 - 65)) & 0xFF)));
}

TEST(StringCiphers, RoundTripLengthsAndTrimming)
{
    struct Case
    {
        const char* name;
        std::string plain;
        std::size_t letters;
        std::string back;
    };
    const std::array cases{
        Case{"empty", "", 0, ""},
        Case{"one byte", "a", 16, "a"},
        Case{"eight bytes", "demo1234", 16, "demo1234"},
        Case{"nine bytes", "demo12345", 32, "demo12345"},
        Case{"spaces trimmed", " senha ", 16, "senha"},
        Case{"trailing zero lost", std::string("ab\0", 3), 16, "ab"},
        Case{"accented Windows-1252", "S\xE3o Paulo|\xE7", 32, "S\xE3o Paulo|\xE7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto p = EncryptProtocolText(c.plain);
        const auto v = EncryptVEKText(c.plain);
        EXPECT_EQ(p.size(), c.letters);
        EXPECT_EQ(p.find_first_not_of("ABCDEFGHIJKLMNOP"), std::string::npos);
        EXPECT_EQ(DecryptProtocolText(p), c.back);
        EXPECT_EQ(DecryptVEKText(v), c.back);
        if (!c.plain.empty()) {
            EXPECT_NE(p, v);  // two different keys
        }
    }
    // A parameter file's closing CR LF decodes to one stray byte: it must not reach the text.
    EXPECT_EQ(DecryptVEKText(EncryptVEKText("a|b|c") + "\r\n"), "a|b|c");
    EXPECT_EQ(DecryptProtocolText("abcd"), DecryptProtocolText("abcd"));
}

}  // namespace
}  // namespace vek::crypto
