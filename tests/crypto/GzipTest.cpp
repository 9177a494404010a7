#include "crypto/TGzip.h"
#include "platform/UiServices.h"
#include "tests/crypto/PeerTools.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace vek::crypto {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

std::uint32_t le32(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

class GzipTest : public ::testing::Test
{
protected:
    test::Sandbox sandbox_{false};
    test::RecordingUiServices ui_;
    platform::ScopedUi scopedUi_{ui_};

    fs::path path(const std::string& name) const { return sandbox_.path() / name; }

    int compress(const fs::path& source, const fs::path& destination, int level = 6)
    {
        TGzip gz;
        gz.FileSource = source.string();
        gz.FileDestination = destination.string();
        gz.CompressionLevel = level;
        return gz.Compress();
    }
};

TEST_F(GzipTest, DefaultsMatchTheComponent)
{
    const TGzip gz;
    EXPECT_TRUE(gz.GzipHeader.filename);
    EXPECT_FALSE(gz.GzipHeader.comment);
    EXPECT_EQ(gz.FileSource, "data.dat");
    EXPECT_EQ(gz.FileDestination, "data.dat.gz");
    EXPECT_FALSE(gz.DeleteSource);
    EXPECT_EQ(gz.CompressionLevel, 6);
    EXPECT_EQ(gz.CompressionType, TCompressionType::Standard);
    EXPECT_TRUE(gz.WindowOnError);
    EXPECT_EQ(gz.ProgressStep, 0);
}

TEST_F(GzipTest, HeaderIsExactlyTheFixedBytesAndTheBaseName)
{
    writeFile(path("DADOS.XML"), "conteudo");
    ASSERT_EQ(compress(path("DADOS.XML"), path("out.gz"), 1), 0);
    const std::string gz = readFile(path("out.gz"));
    const std::string expected = std::string("\x1F\x8B\x08\x08\0\0\0\0\0\0", 10) + "DADOS.XML" + '\0';
    ASSERT_GE(gz.size(), expected.size());
    EXPECT_EQ(gz.substr(0, expected.size()), expected);
}

TEST_F(GzipTest, HeaderFieldsFollowGzipHeaderAndUseWindows1252)
{
    struct Case
    {
        THeader header;
        std::uint8_t flags;
        std::string fields;
    };
    // "AÇÃO.txt" in UTF-8 becomes C7 C3 in the 8-bit code page; so does the comment.
    const std::vector<Case> cases{
        {{.filename = true, .comment = false}, 0x08, std::string("A\xC7\xC3O.txt") + '\0'},
        {{.filename = false, .comment = false}, 0x00, ""},
        {{.filename = false, .comment = true}, 0x10, std::string("n\xE3o") + '\0'},
        {{.filename = true, .comment = true}, 0x18, std::string("A\xC7\xC3O.txt") + '\0' + "n\xE3o" + '\0'},
    };
    writeFile(path("AÇÃO.txt"), "abc");
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.flags));
        TGzip gz;
        gz.FileSource = path("AÇÃO.txt").string();
        gz.FileDestination = path("h.gz").string();
        gz.GzipHeader = c.header;
        gz.Comments = "não";
        ASSERT_EQ(gz.Compress(), 0);
        const std::string out = readFile(path("h.gz"));
        EXPECT_EQ(static_cast<std::uint8_t>(out[3]), c.flags);
        EXPECT_EQ(out.substr(4, 6), std::string(6, '\0'));
        EXPECT_EQ(out.substr(10, c.fields.size()), c.fields);
        if (test::haveTool(test::Python)) {
            EXPECT_EQ(test::captureCommand(test::Python +
                                           " -c \"import gzip,sys; "
                                           "sys.stdout.write(gzip.open(sys.argv[1]).read().decode())\" " +
                                           test::quoted(path("h.gz"))),
                      "abc");
        }
    }
}

TEST_F(GzipTest, EmptySourceGivesHeaderEmptyStreamAndZeroTrailer)
{
    writeFile(path("vazio"), "");
    ASSERT_EQ(compress(path("vazio"), path("vazio.gz")), 0);
    const std::string gz = readFile(path("vazio.gz"));
    ASSERT_GE(gz.size(), 10u + 6u + 2u + 8u);
    EXPECT_EQ(le32(gz, gz.size() - 8), 0u);  // CRC of nothing
    EXPECT_EQ(le32(gz, gz.size() - 4), 0u);  // length
    if (test::haveTool(test::Gzip)) {
        EXPECT_EQ(test::runCommand(test::Gzip + " -t " + test::quoted(path("vazio.gz"))), 0);
    }
}

// Every file we write must be accepted and expanded by independent readers.
TEST_F(GzipTest, IndependentReadersExpandWhatWeWrite)
{
    struct Case
    {
        const char* name;
        std::string content;
        int level;
        TCompressionType type;
    };
    const std::vector<Case> cases{
        {"empty", "", 1, TCompressionType::Standard},
        {"one byte", "x", 1, TCompressionType::Standard},
        {"exactly one piece", test::compressibleText(16384, 1), 1, TCompressionType::Standard},
        {"random several pieces", test::randomBytes(100000, 2), 1, TCompressionType::Standard},
        {"text level 9", test::compressibleText(300000, 3), 9, TCompressionType::Standard},
        {"text filtered", test::compressibleText(70000, 4), 6, TCompressionType::Filtered},
        {"random huffman only", test::randomBytes(50000, 5), 6, TCompressionType::HuffmanOnly},
        {"beyond one read chunk", test::compressibleText(3 * 1024 * 1024 + 17, 6), 1, TCompressionType::Standard},
    };
    const bool gzip = test::haveTool(test::Gzip) && test::haveTool(test::Zcat);
    const bool python = test::haveTool(test::Python);
    if (!gzip && !python) {
        GTEST_SKIP() << "neither gzip nor python3 is installed";
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path("in.dat"), c.content);
        TGzip gz;
        gz.FileSource = path("in.dat").string();
        gz.FileDestination = path("in.dat.gz").string();
        gz.CompressionLevel = c.level;
        gz.CompressionType = c.type;
        ASSERT_EQ(gz.Compress(), 0);
        const std::string file = test::quoted(path("in.dat.gz"));
        if (gzip) {
            EXPECT_EQ(test::runCommand(test::Gzip + " -t " + file), 0);
            EXPECT_EQ(test::runCommand(test::Zcat + " " + file + " > " + test::quoted(path("zcat.out"))), 0);
            EXPECT_TRUE(readFile(path("zcat.out")) == c.content);
        }
        if (python) {
            const std::string script = "import zlib,sys; d=open(sys.argv[1],'rb').read(); "
                                       "sys.stdout.buffer.write(zlib.decompress(d, 31))";
            EXPECT_EQ(test::runCommand(test::Python + " -c \"" + script + "\" " + file + " > " +
                                       test::quoted(path("py.out"))),
                      0);
            EXPECT_TRUE(readFile(path("py.out")) == c.content);
        }
    }
}

TEST_F(GzipTest, DecompressRestoresOurOwnFilesAndPassesOtherDataThrough)
{
    const std::string content = test::compressibleText(200000, 7);
    writeFile(path("a.txt"), content);
    ASSERT_EQ(compress(path("a.txt"), path("a.gz"), 1), 0);

    struct Case
    {
        const char* name;
        fs::path source;
        std::string expected;
    };
    writeFile(path("plain.bin"), "not gzip \x1F at all");
    writeFile(path("empty.bin"), "");
    const std::vector<Case> cases{
        {"our gzip", path("a.gz"), content},
        {"plain data", path("plain.bin"), "not gzip \x1F at all"},
        {"empty file", path("empty.bin"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TGzip gz;
        gz.FileSource = c.source.string();
        gz.FileDestination = path("out").string();
        ASSERT_EQ(gz.Decompress(), 0);
        EXPECT_TRUE(readFile(path("out")) == c.expected);
        EXPECT_TRUE(fs::exists(c.source));
    }
    EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(GzipTest, FailuresGiveTheirCodesAndMessages)
{
    writeFile(path("src.txt"), "abc");
    const std::string missing = path("missing.txt").string();
    const std::string badDir = path("no/such/dir/out.gz").string();
    const std::string dir = path("dir").string();
    fs::create_directory(dir);

    struct Case
    {
        const char* name;
        bool decompress;
        std::string source;
        std::string destination;
        int code;
        std::string message;
    };
    const std::vector<Case> cases{
        {"compress, no source", false, missing, path("o.gz").string(), 1, "Can't open: " + missing},
        {"compress, no destination", false, path("src.txt").string(), badDir, 2, "Can't open: " + badDir},
        {"decompress, no source", true, missing, path("o").string(), 1, "Can't open: " + missing},
        {"decompress, no destination", true, path("src.txt").string(), badDir, 2, "Can't create: " + badDir},
        // A directory is no source file.
        {"compress, directory", false, dir, path("o.gz").string(), 1, "Can't open: " + dir},
        {"decompress, directory", true, dir, path("o").string(), 1, "Can't open: " + dir},
    };
    for (const bool window : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (window ? " with window" : " without window"));
            ui_.clear();
            TGzip gz;
            gz.FileSource = c.source;
            gz.FileDestination = c.destination;
            gz.WindowOnError = window;
            EXPECT_EQ(c.decompress ? gz.Decompress() : gz.Compress(), c.code);
            EXPECT_EQ(gz.lastErrorCode(), c.source == dir ? EISDIR : ENOENT);
            const auto messages = ui_.messages();
            if (window) {
                ASSERT_EQ(messages.size(), 1u);
                EXPECT_EQ(messages[0].text, c.message);
                EXPECT_EQ(messages[0].kind, platform::MessageKind::Error);
            } else {
                EXPECT_TRUE(messages.empty());
            }
        }
    }
}

TEST_F(GzipTest, ReadErrorOnTheSourceGives101)
{
    if (!fs::exists("/proc/self/mem")) {
        GTEST_SKIP() << "no /proc/self/mem";
    }
    // Opens for reading, but reading at offset 0 fails.
    TGzip gz;
    gz.FileSource = "/proc/self/mem";
    gz.FileDestination = path("mem.gz").string();
    EXPECT_EQ(gz.Compress(), TGzip::ResultReadFailed);
    EXPECT_EQ(gz.lastErrorCode(), EIO);
    EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(GzipTest, WriterThatCannotFlushGives103)
{
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    writeFile(path("small.txt"), "abc");
    TGzip gz;
    gz.FileSource = path("small.txt").string();
    gz.FileDestination = "/dev/full";
    EXPECT_EQ(gz.Compress(), TGzip::ResultCloseFailed);
    EXPECT_EQ(gz.lastErrorCode(), ENOSPC);
}

TEST_F(GzipTest, DeleteSourceOnlyAfterSuccessfulCompression)
{
    writeFile(path("keep.txt"), "dados");
    TGzip failing;
    failing.FileSource = path("keep.txt").string();
    failing.FileDestination = path("no/dir/x.gz").string();
    failing.DeleteSource = true;
    failing.WindowOnError = false;
    EXPECT_EQ(failing.Compress(), 2);
    EXPECT_TRUE(fs::exists(path("keep.txt")));

    TGzip ok;
    ok.FileSource = path("keep.txt").string();
    ok.FileDestination = path("keep.gz").string();
    ok.DeleteSource = true;
    EXPECT_EQ(ok.Compress(), 0);
    EXPECT_FALSE(fs::exists(path("keep.txt")));
}

TEST_F(GzipTest, DecompressDeletesSourceEvenAfterAFailedExpansion)
{
    // A gzip file cut short: the reader fails, the source still goes.
    writeFile(path("t.txt"), test::randomBytes(50000, 9));
    ASSERT_EQ(compress(path("t.txt"), path("t.gz")), 0);
    std::string gz = readFile(path("t.gz"));
    writeFile(path("cut.gz"), gz.substr(0, gz.size() / 2));
    TGzip gzip;
    gzip.FileSource = path("cut.gz").string();
    gzip.FileDestination = path("cut.out").string();
    gzip.DeleteSource = true;
    EXPECT_NE(gzip.Decompress(), 0);
    EXPECT_FALSE(fs::exists(path("cut.gz")));
    EXPECT_TRUE(fs::exists(path("cut.out")));
}

TEST_F(GzipTest, ExpansionBoundStopsABombAndRemovesThePartialFile)
{
    // 4 MiB of zeros squeeze into a few kilobytes.
    writeFile(path("zeros.bin"), std::string(4 * 1024 * 1024, '\0'));
    ASSERT_EQ(compress(path("zeros.bin"), path("zeros.gz")), 0);
    for (const std::uint64_t bound : {std::uint64_t{1024 * 1024}, std::uint64_t{4 * 1024 * 1024}}) {
        SCOPED_TRACE(bound);
        TGzip gz;
        gz.FileSource = path("zeros.gz").string();
        gz.FileDestination = path("zeros.out").string();
        gz.MaxExpandedSize = bound;
        const bool fits = bound >= 4 * 1024 * 1024;
        EXPECT_EQ(gz.Decompress(), fits ? 0 : TGzip::DecompressWriteFailed);
        EXPECT_EQ(fs::exists(path("zeros.out")), fits);
        if (!fits) {
            EXPECT_EQ(gz.lastErrorCode(), EFBIG);
        }
    }
}

TEST_F(GzipTest, DestinationThatCannotBeClosedIsAFailureNotAnExit)
{
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    // The few bytes stay in the stream's buffer until the close, which then fails.
    writeFile(path("s.txt"), "abc");
    ASSERT_EQ(compress(path("s.txt"), path("s.gz")), 0);
    TGzip gz;
    gz.FileSource = path("s.gz").string();
    gz.FileDestination = "/dev/full";
    EXPECT_EQ(gz.Decompress(), TGzip::DecompressDestinationCloseFailed);
    const auto messages = ui_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Can't close file /dev/full");
}

TEST_F(GzipTest, ProgressFollowsTheStepRule)
{
    // 5 pieces of 16384 bytes.
    const std::string content = test::randomBytes(5 * 16384, 11);
    writeFile(path("p.bin"), content);
    struct Case
    {
        int step;
        std::vector<int> compress;
    };
    const std::vector<Case> cases{
        {0, {}},
        {100, {0, 100}},
        {30, {0, 40, 80, 100}},
        {1, {0, 20, 40, 60, 80, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        std::vector<int> seen;
        TGzip gz;
        gz.FileSource = path("p.bin").string();
        gz.FileDestination = path("p.gz").string();
        gz.ProgressStep = c.step;
        gz.OnProgress = [&](TGzip& sender) { seen.push_back(sender.Progress); };
        ASSERT_EQ(gz.Compress(), 0);
        EXPECT_EQ(seen, c.compress);
    }
}

TEST_F(GzipTest, ExpansionProgressIsMeasuredAgainstTheCompressedSize)
{
    // Text that compresses a lot: the percentage runs past 100.
    writeFile(path("t.txt"), std::string(400000, 'a'));
    ASSERT_EQ(compress(path("t.txt"), path("t.gz")), 0);
    std::vector<int> seen;
    TGzip gz;
    gz.FileSource = path("t.gz").string();
    gz.FileDestination = path("t.out").string();
    gz.ProgressStep = 100;
    gz.OnProgress = [&](TGzip& sender) { seen.push_back(sender.Progress); };
    ASSERT_EQ(gz.Decompress(), 0);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0);
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i], seen[i - 1] + 100);
    }
}

}  // namespace
}  // namespace vek::crypto
