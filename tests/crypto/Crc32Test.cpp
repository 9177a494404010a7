#include "crypto/TCrc32.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "tests/crypto/PeerTools.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vek::crypto {
namespace {

namespace fs = std::filesystem;

class Crc32Test : public ::testing::Test
{
protected:
    test::Sandbox sandbox_{false};
    test::RecordingUiServices ui_;
    platform::ScopedUi scopedUi_{ui_};

    std::string file(const std::string& name, const std::string& content) const
    {
        const fs::path p = sandbox_.path() / name;
        test::writeFile(p, content);
        return p.string();
    }
};

TEST(Crc32Hex, IsEightUpperCaseDigitsWithLeadingZeros)
{
    // clang-format off
    const std::vector<std::pair<std::uint32_t, std::string>> cases{
        {0x00000000u, "00000000"},
        {0x0A1B2C3Du, "0A1B2C3D"},
        {0xCBF43926u, "CBF43926"},
        {0x000000FFu, "000000FF"},
        {0xFFFFFFFFu, "FFFFFFFF"},
    };
    // clang-format on
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(crc32Hex(value), text);
    }
}

TEST_F(Crc32Test, KnownValues)
{
    struct Case
    {
        const char* name;
        std::string content;
        const char* hex;
    };
    const std::vector<Case> cases{
        {"check value", "123456789", "CBF43926"},
        {"empty file", "", "00000000"},
        {"one zero byte", std::string(1, '\0'), "D202EF8D"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCrc32 crc;
        crc.Crc32FileName = file("f", c.content);
        EXPECT_EQ(crc.Crc32Hex(), c.hex);
    }
    EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(Crc32Test, EqualsPythonZlibAcrossPieceAndChunkBoundaries)
{
    if (!test::haveTool(test::Python)) {
        GTEST_SKIP() << "python3 is not installed";
    }
    for (const std::size_t size : {16383u, 16384u, 16385u, 1048576u, 1048576u * 2 + 12345u}) {
        SCOPED_TRACE(size);
        const std::string path = file("r.bin", test::randomBytes(size, static_cast<std::uint32_t>(size)));
        const std::string py = test::captureCommand(
            test::Python + " -c \"import zlib,sys; print('%08X' % zlib.crc32(open(sys.argv[1],'rb').read()))\" " +
            test::quoted(path));
        TCrc32 crc;
        crc.Crc32FileName = path;
        EXPECT_EQ(crc.Crc32Hex() + "\n", py);
    }
}

TEST_F(Crc32Test, MissingFileGivesZeroAndTheMessageOnlyWithWindowOnError)
{
    const std::string absent = (sandbox_.path() / "nao-existe.txt").string();
    // A directory is no file either.
    const std::string directory = sandbox_.path().string();
    for (const auto& [missing, window] :
         {std::pair{absent, true}, std::pair{absent, false}, std::pair{directory, true}, std::pair{directory, false}}) {
        SCOPED_TRACE(missing + (window ? " with window" : " without window"));
        ui_.clear();
        TCrc32 crc;
        crc.Crc32FileName = missing;
        crc.WindowOnError = window;
        EXPECT_EQ(crc.Crc32Hex(), "00000000");
        const auto messages = ui_.messages();
        if (window) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].text, "File " + missing + " does not exist.");
            EXPECT_EQ(messages[0].kind, platform::MessageKind::Error);
        } else {
            EXPECT_TRUE(messages.empty());
        }
    }
}

TEST_F(Crc32Test, FileThatExistsButCannotBeReadRaisesAnError)
{
    if (!std::filesystem::exists("/proc/self/mem")) {
        GTEST_SKIP() << "no /proc/self/mem";
    }
    TCrc32 crc;
    crc.Crc32FileName = "/proc/self/mem";  // opens, but reading at offset 0 fails
    try {
        (void)crc.CalculateCrc32();
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), EIO);
        EXPECT_EQ(std::string(e.what()), "Erro (5) ao ler arquivo: /proc/self/mem");
    }
    EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(Crc32Test, ProgressFollowsTheStepRule)
{
    const std::string path = file("p.bin", test::randomBytes(4 * 16384, 3));
    struct Case
    {
        int step;
        std::vector<int> expected;
    };
    const std::vector<Case> cases{{0, {}}, {100, {0, 100}}, {25, {0, 25, 50, 75, 100}}, {40, {0, 50, 100}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        std::vector<int> seen;
        TCrc32 crc;
        crc.Crc32FileName = path;
        crc.ProgressStep = c.step;
        crc.OnProgress = [&](TCrc32& sender) { seen.push_back(sender.Progress); };
        (void)crc.CalculateCrc32();
        EXPECT_EQ(seen, c.expected);
    }
}

}  // namespace
}  // namespace vek::crypto
