#include "crypto/TGzip.h"
#include "platform/UiServices.h"
#include "tests/crypto/PeerTools.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
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

// What a single deflate stream over the whole input gives: the fixed header
// with the name, one raw deflate stream written in one call, CRC-32 and length.
std::string singleStreamGzip(const std::string& name, const std::string& content, int level, int strategy)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    std::string deflated(deflateBound(&z, content.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = static_cast<uInt>(content.size());
    z.next_out = reinterpret_cast<Bytef*>(deflated.data());
    z.avail_out = static_cast<uInt>(deflated.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    deflated.resize(z.total_out);
    deflateEnd(&z);
    std::string out = std::string("\x1F\x8B\x08\x08\0\0\0\0\0\0", 10) + name + '\0' + deflated;
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
    for (const std::uint64_t v : {static_cast<std::uint64_t>(crc), static_cast<std::uint64_t>(content.size())}) {
        for (int i = 0; i < 4; ++i) {
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    }
    return out;
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

// Below the parallel threshold, at the levels and strategies zlib deflates,
// the file is one deflate stream, exactly as a single zlib stream over the
// whole input gives it.
TEST_F(GzipTest, SmallInputsAreOneDeflateStreamByteForByte)
{
    struct Case
    {
        const char* name;
        std::string content;
        int level;
        TCompressionType type;
        int strategy;
    };
    const std::vector<Case> cases{
        {"empty", "", 2, TCompressionType::Standard, Z_DEFAULT_STRATEGY},
        {"one byte", "x", 2, TCompressionType::Standard, Z_DEFAULT_STRATEGY},
        {"text just below 1 MiB",
         test::compressibleText(1024 * 1024 - 1, 21),
         2,
         TCompressionType::Standard,
         Z_DEFAULT_STRATEGY},
        {"random level 6", test::randomBytes(300000, 22), 6, TCompressionType::Standard, Z_DEFAULT_STRATEGY},
        {"text level 9 filtered", test::compressibleText(500000, 23), 9, TCompressionType::Filtered, Z_FILTERED},
        {"text huffman only", test::compressibleText(200000, 24), 1, TCompressionType::HuffmanOnly, Z_HUFFMAN_ONLY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path("s.txt"), c.content);
        TGzip gz;
        gz.FileSource = path("s.txt").string();
        gz.FileDestination = path("s.gz").string();
        gz.CompressionLevel = c.level;
        gz.CompressionType = c.type;
        ASSERT_EQ(gz.Compress(), 0);
        EXPECT_TRUE(readFile(path("s.gz")) == singleStreamGzip("s.txt", c.content, c.level, c.strategy));
    }
}

// From the parallel threshold on the input is deflated in pieces on several
// threads; the result must still be one standard gzip member with the fixed
// header, the CRC-32 and length of the whole input, that independent readers
// expand, the last of them stopping exactly at the end of the file.
TEST_F(GzipTest, LargeInputsAreOneMemberThatIndependentReadersExpand)
{
    constexpr std::size_t MiB = 1024 * 1024;
    std::string pattern = test::randomBytes(16384, 31);
    std::string repeated;
    while (repeated.size() < 3 * MiB + 5) {
        repeated += pattern;
    }
    struct Case
    {
        const char* name;
        std::string content;
        int level;
        TCompressionType type;
    };
    const std::vector<Case> cases{
        {"text, exactly the threshold",
         test::compressibleText(TGzip::ParallelThreshold, 32),
         1,
         TCompressionType::Standard},
        {"random, one byte past a piece",
         test::randomBytes(TGzip::ParallelPieceSize + 1, 33),
         1,
         TCompressionType::Standard},
        {"text, many pieces and a short one", test::compressibleText(5 * MiB + 17, 34), 1, TCompressionType::Standard},
        {"repeated pattern across pieces", repeated, 1, TCompressionType::Standard},
        {"text level 9 filtered", test::compressibleText(2 * MiB + 3, 35), 9, TCompressionType::Filtered},
        {"text huffman only", test::compressibleText(2 * MiB, 36), 6, TCompressionType::HuffmanOnly},
    };
    const bool gzip = test::haveTool(test::Gzip) && test::haveTool(test::Zcat);
    const bool python = test::haveTool(test::Python);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path("grande.dat"), c.content);
        TGzip gz;
        gz.FileSource = path("grande.dat").string();
        gz.FileDestination = path("grande.gz").string();
        gz.CompressionLevel = c.level;
        gz.CompressionType = c.type;
        ASSERT_EQ(gz.Compress(), 0);
        const std::string out = readFile(path("grande.gz"));
        const std::string header = std::string("\x1F\x8B\x08\x08\0\0\0\0\0\0", 10) + "grande.dat" + '\0';
        ASSERT_GT(out.size(), header.size() + 8);
        EXPECT_EQ(out.substr(0, header.size()), header);
        EXPECT_EQ(le32(out, out.size() - 8),
                  crc32(0, reinterpret_cast<const Bytef*>(c.content.data()), static_cast<uInt>(c.content.size())));
        EXPECT_EQ(le32(out, out.size() - 4), static_cast<std::uint32_t>(c.content.size()));

        const std::string file = test::quoted(path("grande.gz"));
        if (gzip) {
            EXPECT_EQ(test::runCommand(test::Gzip + " -t " + file), 0);
            EXPECT_EQ(test::runCommand(test::Zcat + " " + file + " > " + test::quoted(path("zcat.out"))), 0);
            EXPECT_TRUE(readFile(path("zcat.out")) == c.content);
        }
        if (python) {
            // One member: the decompressor reaches the end with nothing left over.
            const std::string script = "import zlib,sys; d=zlib.decompressobj(31); "
                                       "o=d.decompress(open(sys.argv[1],'rb').read()); "
                                       "assert d.eof and not d.unused_data, 'not one member'; "
                                       "sys.stdout.buffer.write(o)";
            EXPECT_EQ(test::runCommand(test::Python + " -c \"" + script + "\" " + file + " > " +
                                       test::quoted(path("py.out"))),
                      0);
            EXPECT_TRUE(readFile(path("py.out")) == c.content);
        }
        TGzip back;
        back.FileSource = path("grande.gz").string();
        back.FileDestination = path("grande.out").string();
        ASSERT_EQ(back.Decompress(), 0);
        EXPECT_TRUE(readFile(path("grande.out")) == c.content);
    }
}

// The pieces are cut by input position, never by timing, so the file is the
// same whatever the number of threads.
TEST_F(GzipTest, ParallelOutputDoesNotDependOnTheNumberOfThreads)
{
    writeFile(path("t.txt"), test::compressibleText(4 * 1024 * 1024 + 999, 41));
    std::string first;
    for (const unsigned threads : {1U, 2U, 3U, 8U}) {
        SCOPED_TRACE(threads);
        TGzip gz;
        gz.FileSource = path("t.txt").string();
        gz.FileDestination = path("t.gz").string();
        gz.CompressionLevel = 1;
        gz.CompressionThreads = threads;
        ASSERT_EQ(gz.Compress(), 0);
        const std::string out = readFile(path("t.gz"));
        if (first.empty()) {
            first = out;
        }
        EXPECT_TRUE(out == first);
    }
}

// Each piece starts with the input before it as dictionary: a 16 KiB random
// pattern repeated over several pieces costs no more than in one stream,
// where starting each piece afresh would spell the pattern out again.
TEST_F(GzipTest, PiecesReferToTheInputBeforeThem)
{
    const std::string pattern = test::randomBytes(16384, 42);
    std::string content;
    while (content.size() < 4 * TGzip::ParallelPieceSize) {
        content += pattern;
    }
    writeFile(path("r.bin"), content);
    ASSERT_EQ(compress(path("r.bin"), path("r.gz"), 6), 0);
    const std::size_t single = singleStreamGzip("r.bin", content, 6, Z_DEFAULT_STRATEGY).size();
    EXPECT_LE(readFile(path("r.gz")).size(), single + 1024);
}

// Level 1, the level of uploads, on both sides of every size where the
// deflating changes hands: the 16 KiB progress piece, the 32 KiB dictionary,
// the 64 KiB stored block, the 1 MiB pieces of the parallel form and a
// dictionary shorter than 32 KiB. Every file is one gzip member with the
// fixed header, which gzip, zcat and Python's zlib expand to the input;
// random data grows by at most 0.1 % (stored blocks where nothing
// compresses) plus a few bytes.
TEST_F(GzipTest, LevelOneOnBothSidesOfEveryPieceBoundary)
{
    constexpr std::size_t KiB = 1024;
    constexpr std::size_t MiB = 1024 * KiB;
    const std::vector<std::size_t> sizes{0,
                                         1,
                                         16 * KiB - 1,
                                         16 * KiB,
                                         16 * KiB + 1,
                                         32 * KiB - 1,
                                         32 * KiB + 1,
                                         64 * KiB - 1,
                                         64 * KiB,
                                         64 * KiB + 1,
                                         MiB - 1,
                                         MiB,
                                         MiB + 1,
                                         MiB + 32 * KiB - 1,
                                         MiB + 32 * KiB + 1,
                                         2 * MiB,
                                         3 * MiB + 17};
    struct Case
    {
        std::string name;
        std::string content;
        bool text;
    };
    std::vector<Case> cases;
    for (const std::size_t size : sizes) {
        const auto seed = static_cast<std::uint32_t>(size);
        cases.push_back({"text-" + std::to_string(size), test::compressibleText(size, seed), true});
        cases.push_back({"random-" + std::to_string(size), test::randomBytes(size, seed), false});
    }
    const fs::path dir = path("niveis");
    fs::create_directory(dir);
    std::string gzFiles;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path in = dir / c.name;
        writeFile(in, c.content);
        ASSERT_EQ(compress(in, dir / (c.name + ".gz"), 1), 0);
        const std::string out = readFile(dir / (c.name + ".gz"));
        const std::string header = std::string("\x1F\x8B\x08\x08\0\0\0\0\0\0", 10) + c.name + '\0';
        ASSERT_GT(out.size(), header.size() + 8);
        EXPECT_EQ(out.substr(0, header.size()), header);
        EXPECT_EQ(le32(out, out.size() - 8),
                  crc32(0, reinterpret_cast<const Bytef*>(c.content.data()), static_cast<uInt>(c.content.size())));
        EXPECT_EQ(le32(out, out.size() - 4), static_cast<std::uint32_t>(c.content.size()));
        const std::size_t deflated = out.size() - header.size() - 8;
        if (!c.text) {
            EXPECT_LE(deflated, c.content.size() + c.content.size() / 1000 + 16);
        }
        TGzip back;
        back.FileSource = (dir / (c.name + ".gz")).string();
        back.FileDestination = (dir / (c.name + ".out")).string();
        ASSERT_EQ(back.Decompress(), 0);
        EXPECT_TRUE(readFile(dir / (c.name + ".out")) == c.content);
        gzFiles += " " + test::quoted(dir / (c.name + ".gz"));
    }
    // One run of each reader over all the files; each names the files it
    // did not expand to their input.
    if (test::haveTool(test::Gzip) && test::haveTool(test::Zcat)) {
        EXPECT_EQ(test::runCommand(test::Gzip + " -t" + gzFiles), 0);
        EXPECT_EQ(test::captureCommand("for f in" + gzFiles + "; do " + test::Zcat +
                                       " \"$f\" | cmp -s - \"${f%.gz}\" || echo \"$f\"; done"),
                  "");
    }
    if (test::haveTool(test::Python)) {
        const std::string script = "import zlib,sys\n"
                                   "for f in sys.argv[1:]:\n"
                                   "    d=zlib.decompressobj(31)\n"
                                   "    o=d.decompress(open(f,'rb').read())\n"
                                   "    if not d.eof or d.unused_data or o!=open(f[:-3],'rb').read(): print(f)\n";
        writeFile(path("check.py"), script);
        EXPECT_EQ(test::captureCommand(test::Python + " " + test::quoted(path("check.py")) + gzFiles), "");
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

// A full disk in the middle of a parallel compression ends it the same way:
// the failed write, then the failed end of the stream.
TEST_F(GzipTest, FullDiskDuringAParallelCompressionGives103)
{
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    writeFile(path("big.bin"), test::randomBytes(3 * TGzip::ParallelPieceSize, 12));
    TGzip gz;
    gz.FileSource = path("big.bin").string();
    gz.FileDestination = "/dev/full";
    EXPECT_EQ(gz.Compress(), TGzip::ResultCloseFailed);
    EXPECT_EQ(gz.lastErrorCode(), ENOSPC);
    EXPECT_TRUE(ui_.messages().empty());
}

// A write that fails after some pieces went out (here at the file size limit
// of the process), on the thread that writes the pieces, ends the
// compression with the write's error: nothing waits for a piece that will
// never be written, and no failure is reported as success.
TEST_F(GzipTest, AWriteFailingAfterSomePiecesFailsTheCompression)
{
    writeFile(path("big.bin"), test::randomBytes(5 * TGzip::ParallelPieceSize, 14));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 2 * TGzip::ParallelPieceSize + 12345;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    TGzip gz;
    gz.FileSource = path("big.bin").string();
    gz.FileDestination = path("big.gz").string();
    gz.CompressionLevel = 1;
    gz.CompressionThreads = 2;
    const int result = gz.Compress();
    const int error = gz.lastErrorCode();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(result, TGzip::ResultCloseFailed);
    EXPECT_EQ(error, EFBIG);
    EXPECT_TRUE(ui_.messages().empty());
}

// The caller's observer and progress handler run on the caller's thread; an
// observer that throws ends the compression with its exception, the worker
// threads stopped, and the component works again afterwards.
TEST_F(GzipTest, ParallelCompressionCallsBackOnTheCallersThreadAndStopsOnAThrow)
{
    const std::string content = test::randomBytes(4 * TGzip::ParallelPieceSize, 13);
    writeFile(path("p.bin"), content);
    const auto caller = std::this_thread::get_id();

    std::vector<int> progress;
    std::size_t observed = 0;
    bool foreignThread = false;
    TGzip gz;
    gz.FileSource = path("p.bin").string();
    gz.FileDestination = path("p.gz").string();
    gz.ProgressStep = 25;
    gz.OnProgress = [&](TGzip& sender) {
        foreignThread |= std::this_thread::get_id() != caller;
        progress.push_back(sender.Progress);
    };
    gz.setOutputObserver([&](std::span<const std::uint8_t> bytes) {
        foreignThread |= std::this_thread::get_id() != caller;
        observed += bytes.size();
    });
    ASSERT_EQ(gz.Compress(), 0);
    EXPECT_FALSE(foreignThread);
    EXPECT_EQ(progress, (std::vector<int>{0, 25, 50, 75, 100}));
    EXPECT_EQ(observed, fs::file_size(path("p.gz")));

    struct Stop
    {
    };
    int calls = 0;
    gz.ProgressStep = 0;
    gz.setOutputObserver([&](std::span<const std::uint8_t>) {
        if (++calls == 2) {
            throw Stop{};
        }
    });
    EXPECT_THROW(gz.Compress(), Stop);
    EXPECT_EQ(calls, 2);

    gz.setOutputObserver({});
    ASSERT_EQ(gz.Compress(), 0);
    TGzip back;
    back.FileSource = path("p.gz").string();
    back.FileDestination = path("p.out").string();
    ASSERT_EQ(back.Decompress(), 0);
    EXPECT_TRUE(readFile(path("p.out")) == content);
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
