#include "crypto/THashFunctions.h"
#include "platform/Error.h"
#include "tests/crypto/PeerTools.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vek::crypto {
namespace {

// Published Tiger (first variant) vectors, in the byte order of the NESSIE set.
TEST(TigerHash, FileHashMatchesPublishedVectors)
{
    const test::Sandbox sandbox(false);
    struct Case
    {
        std::string content;
        const char* hash;
    };
    const std::vector<Case> cases{
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-",
         "F71C8583902AFB879EDFE610F82C0D4786A3A534504486B5"},
        {"", "3293AC630C13F0245F92BBB1766E16167A4E58492DDE73F3"},
        {"abc", "2AAB1484E8C158F2BFB8C5FF41B57A525129131C957B5F93"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        const auto path = sandbox.write("t.bin", c.content);
        EXPECT_EQ(THashFunctions::TigerFileHash(path.string()), c.hash);
    }
}

TEST(TigerHash, LargeFileEqualsRhash)
{
    if (!test::haveTool("/usr/bin/rhash")) {
        GTEST_SKIP() << "rhash is not installed";
    }
    const test::Sandbox sandbox(false);
    // Longer than one read buffer, not a multiple of Tiger's 64-byte block.
    const auto path = sandbox.write("big.bin", test::randomBytes(3 * 1024 * 1024 + 77, 5));
    std::string peer = test::captureCommand("/usr/bin/rhash --tiger --simple " + test::quoted(path) + " | cut -c1-48");
    for (auto& c : peer) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(THashFunctions::TigerFileHash(path.string()) + "\n", peer);
}

TEST(TigerHash, UnopenableFileRaisesTheErrorText)
{
    const test::Sandbox sandbox(false);
    const std::string missing = (sandbox.path() / "falta.bin").string();
    try {
        (void)THashFunctions::TigerFileHash(missing);
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Erro (2) ao abrir arquivo: " + missing);
        EXPECT_EQ(e.code(), ENOENT);
    }
}

}  // namespace
}  // namespace vek::crypto
