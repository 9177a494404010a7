#include "crypto/UploadPreparation.h"

#include "crypto/TGzip.h"
#include "crypto/THashFunctions.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "server/UploadDecoder.h"
#include "tests/crypto/PeerTools.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

namespace vek::crypto {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Report
{
    PreparationStatus status;
    int percent;
    std::string text;
    bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Report& r)
{
    return os << '(' << static_cast<int>(r.status) << ", " << r.percent << ", " << r.text << ')';
}

struct Recorder
{
    std::vector<Report> reports;
    std::vector<std::string> traces;
    PreparationCallbacks callbacks()
    {
        return {[this](PreparationStatus s, int p, const std::string& t) {
                    reports.push_back({s, p, t});
                },
                [this](const std::string& line) { traces.push_back(line); }};
    }
};

Bytes join(const DataBlocks& blocks)
{
    Bytes out;
    for (const auto& b : blocks) {
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

Bytes encipher(const SymmetricKey& key, const Bytes& plain, std::size_t piece)
{
    UploadEncipherer e(key);
    Bytes out;
    for (std::size_t at = 0; at < plain.size(); at += piece) {
        const auto part = e.update(std::span(plain).subspan(at, std::min(piece, plain.size() - at)));
        out.insert(out.end(), part.begin(), part.end());
    }
    const auto tail = e.finish();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

std::string hex(std::span<const std::uint8_t> b)
{
    return test::hexLower(b.data(), b.size());
}

const SymmetricKey TestKey{
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xFF};

TEST(UploadWorkFiles, StemTicksAndOneSeparator)
{
    struct Case
    {
        std::string arquivo;
        fs::path tempDir;
        std::uint32_t ticks;
        std::string gz;
        std::string cpt;
    };
    const std::vector<Case> cases{
        {"/home/op/DADOS.XML",
         "/tmp/pasta.com.ponto",
         123,
         "/tmp/pasta.com.ponto/DADOS123.gz",
         "/tmp/pasta.com.ponto/DADOS123.cpt"},
        {"/x/A.B.XML", "/tmp/t/", 5, "/tmp/t/A5.gz", "/tmp/t/A5.cpt"},
        {"relatorio", "/tmp", 4294967295u, "/tmp/relatorio4294967295.gz", "/tmp/relatorio4294967295.cpt"},
        {"/dir.d/sem_ponto", "/tmp", 0, "/tmp/sem_ponto0.gz", "/tmp/sem_ponto0.cpt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arquivo);
        const WorkFiles w = workFilePaths(c.arquivo, c.tempDir, c.ticks);
        EXPECT_EQ(w.compressed.string(), c.gz);
        EXPECT_EQ(w.enciphered.string(), c.cpt);
    }
}

TEST(UploadBlocks, SplitRuleAndItsReports)
{
    struct Case
    {
        std::size_t size;
        int blockSize;
        std::size_t blocks;
        std::size_t lastBlock;
        std::vector<int> percents;  // empty: checked by the rule below
    };
    const std::vector<Case> cases{
        {1000, 1280, 1, 1000, {61}},
        {1267, 1280, 1, 1267, {61}},
        {1280, 1267, 2, 13, {61, 62}},
        {2560, 1267, 3, 26, {61, 62, 63}},
        {0, 1267, 1, 0, {61}},
        {1621760, 1267, 1281, 0, {}},  // multiple of 1280 and of 1267: an empty last block
        {128001, 1280, 101, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string data = test::randomBytes(c.size, static_cast<std::uint32_t>(c.size));
        const Bytes bytes = test::bytesOf(data);
        Recorder rec;
        int percent = 60;
        const BlockSplit split = splitIntoBlocks(bytes, UploadBlockSize, percent, rec.callbacks());
        EXPECT_EQ(split.blockSize, c.blockSize);
        EXPECT_EQ(split.total, static_cast<std::int32_t>(c.size));
        ASSERT_EQ(split.blocks.size(), c.blocks);
        for (std::size_t i = 0; i + 1 < split.blocks.size(); ++i) {
            ASSERT_EQ(split.blocks[i].size(), static_cast<std::size_t>(c.blockSize));
        }
        EXPECT_EQ(split.blocks.back().size(), c.lastBlock);
        EXPECT_TRUE(join(split.blocks) == bytes);

        std::vector<int> percents;
        for (const auto& r : rec.reports) {
            EXPECT_EQ(r.status, PreparationStatus::Executando);
            EXPECT_EQ(r.text, TextoPreparandoArquivo);
            percents.push_back(r.percent);
        }
        if (!c.percents.empty()) {
            EXPECT_EQ(percents, c.percents);
        } else {
            // One report after every K-th block, rising by one and never above 100.
            const std::size_t k = std::max<std::size_t>(c.size / static_cast<std::size_t>(c.blockSize) / 40, 1);
            ASSERT_EQ(percents.size(), c.blocks / k);
            for (std::size_t i = 0; i < percents.size(); ++i) {
                EXPECT_EQ(percents[i], std::min<int>(61 + static_cast<int>(i), 100));
            }
        }
        EXPECT_EQ(percent, percents.empty() ? 60 : percents.back());
    }
}

// The size bound applies to the enciphered size once, whether or not the
// block size was lowered: a size that is a multiple of the block size and
// within the bound is cut, one byte more than the bound fails.
TEST(UploadBlocks, SizeBoundCountsEveryByteOnceWhenTheBlockSizeIsLowered)
{
    struct Case
    {
        const char* name;
        std::size_t size;
        std::uint64_t bound;
        bool fits;
    };
    const std::vector<Case> cases{
        {"multiple of 1280, at the bound", 2560, 2560, true},
        {"multiple of 1280 and 1267, at the bound", 1621760, 1621760, true},
        {"not a multiple, at the bound", 2561, 2561, true},
        {"multiple of 1280, one byte over", 2560, 2559, false},
        {"not a multiple, one byte over", 2561, 2560, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = test::bytesOf(test::randomBytes(c.size, 7));
        int percent = 60;
        try {
            const BlockSplit split = splitIntoBlocks(bytes, UploadBlockSize, percent, {}, c.bound);
            EXPECT_TRUE(c.fits);
            EXPECT_EQ(split.total, static_cast<std::int32_t>(c.size));
            EXPECT_TRUE(join(split.blocks) == bytes);
        } catch (const Error& e) {
            EXPECT_FALSE(c.fits) << e.what();
            EXPECT_EQ(std::string(e.what()), "Arquivo grande demais para envio");
            EXPECT_EQ(e.code(), EFBIG);
        }
    }
}

TEST(UploadCipher, PiecesDoNotChangeTheResultAndDecipheringRestores)
{
    for (const std::size_t size : {0u, 1u, 15u, 16u, 17u, 1000u, 8192u, 8195u, 70001u}) {
        SCOPED_TRACE(size);
        const Bytes plain = test::bytesOf(test::randomBytes(size, static_cast<std::uint32_t>(size) + 3));
        const Bytes whole = encipher(TestKey, plain, std::max<std::size_t>(size, 1));
        ASSERT_EQ(whole.size(), plain.size());
        for (const std::size_t piece : {1u, 7u, 16u, 8192u}) {
            SCOPED_TRACE(piece);
            EXPECT_TRUE(encipher(TestKey, plain, piece) == whole);
        }
        EXPECT_TRUE(decipherUpload(TestKey, whole) == plain);
    }
}

// openssl as the independent reference for the key derivation's AES part,
// the IV, the CBC chain and the tail rule; rhash for the Tiger digest.
TEST(UploadCipher, EqualsOpensslAndRhash)
{
    if (!test::haveTool(test::Openssl)) {
        GTEST_SKIP() << "openssl is not installed";
    }
    const test::Sandbox sandbox(false);
    const AesKey192 key = uploadAesKey(TestKey);
    const CipherBlock iv = uploadInitialVector(TestKey);
    const std::string keyHex = hex(key);

    if (test::haveTool("/usr/bin/rhash")) {
        const auto keyFile = sandbox.write("key.bin", std::string(TestKey.begin(), TestKey.end()));
        EXPECT_EQ(test::captureCommand("/usr/bin/rhash --tiger --simple " + test::quoted(keyFile) + " | cut -c1-48"),
                  keyHex + "\n");
    }

    auto ecb = [&](std::span<const std::uint8_t> block) {
        const auto in = sandbox.write("block.bin", std::string(block.begin(), block.end()));
        return test::bytesOf(
            test::captureCommand(test::Openssl + " enc -aes-192-ecb -nopad -K " + keyHex + " -in " + test::quoted(in)));
    };
    EXPECT_TRUE(ecb(CipherBlock{}) == Bytes(iv.begin(), iv.end()));

    for (const std::size_t size : {16u, 4096u, 5u, 1000u, 8195u}) {
        SCOPED_TRACE(size);
        const Bytes plain = test::bytesOf(test::randomBytes(size, static_cast<std::uint32_t>(size) + 9));
        const Bytes cipher = encipher(TestKey, plain, 8192);
        const std::size_t whole = size / 16 * 16;
        const auto in = sandbox.write("c.bin", std::string(cipher.begin(), cipher.begin() + whole));
        const Bytes opened =
            test::bytesOf(test::captureCommand(test::Openssl + " enc -d -aes-192-cbc -nopad -K " + keyHex + " -iv " +
                                               hex(iv) + " -in " + test::quoted(in)));
        EXPECT_TRUE(opened == Bytes(plain.begin(), plain.begin() + whole));
        if (whole < size) {
            // Tail: XOR with AES of the last ciphertext block (the IV when there is none).
            const Bytes v =
                whole == 0 ? Bytes(iv.begin(), iv.end()) : Bytes(cipher.begin() + whole - 16, cipher.begin() + whole);
            const Bytes pad = ecb(v);
            for (std::size_t i = whole; i < size; ++i) {
                EXPECT_EQ(cipher[i], plain[i] ^ pad[i - whole]);
            }
        }
    }
}

class UploadPreparationTest : public ::testing::Test
{
protected:
    test::Sandbox sandbox_{false};
    test::RecordingUiServices ui_;
    platform::ScopedUi scopedUi_{ui_};
    fs::path temp_ = sandbox_.path() / "temp.dir";
    fs::path source_ = sandbox_.path() / "DADOS.XML";

    void SetUp() override { fs::create_directory(temp_); }

    bool tempIsEmpty() const { return fs::is_empty(temp_); }
};

TEST_F(UploadPreparationTest, ReportsInOrderAndLeavesNoWorkFiles)
{
    test::writeFile(source_, test::compressibleText(50000, 1));
    Recorder rec;
    const PreparedUpload up = prepareUpload(source_.string(), temp_, UploadBlockSize, rec.callbacks());

    const std::string cert(TextoPreparandoCertificacao);
    const std::string file(TextoPreparandoArquivo);
    std::vector<Report> expected{{PreparationStatus::Executando, 0, cert},
                                 {PreparationStatus::Executando, 20, cert},
                                 {PreparationStatus::Executando, 40, file},
                                 {PreparationStatus::Executando, 60, file}};
    for (std::size_t i = 1; i <= up.blocks.size(); ++i) {
        expected.push_back({PreparationStatus::Executando, std::min(60 + static_cast<int>(i), 100), file});
    }
    expected.push_back({PreparationStatus::Finalizada, 100, std::string(TextoProntoTransmissao)});
    EXPECT_EQ(rec.reports, expected);
    EXPECT_EQ(rec.traces, std::vector<std::string>{"*** ENVIO DE ARQUIVO *** \r\r"});
    EXPECT_EQ(ui_.eventCalls(), 1);
    EXPECT_TRUE(ui_.messages().empty());
    EXPECT_TRUE(tempIsEmpty());
    EXPECT_EQ(up.blockSize, UploadBlockSize);
    EXPECT_EQ(static_cast<std::size_t>(up.tamanhoCifrado), join(up.blocks).size());
    EXPECT_TRUE(fs::exists(source_));
}

// The enciphered blocks, deciphered, are a gzip file that independent
// readers expand to the original; openssl recovers its whole-block part.
TEST_F(UploadPreparationTest, BlocksDecipherToAGzipFileOfTheOriginal)
{
    struct Case
    {
        const char* name;
        std::string content;
    };
    const std::vector<Case> cases{
        {"empty", ""},
        {"text", test::compressibleText(300000, 2)},
        {"random, several read chunks", test::randomBytes(2 * 1024 * 1024 + 333, 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::writeFile(source_, c.content);
        const PreparedUpload up = prepareUpload(source_.string(), temp_, UploadBlockSize, {});
        const Bytes enciphered = join(up.blocks);
        const Bytes gz = decipherUpload(up.key, enciphered);
        ASSERT_GE(gz.size(), 20u);
        const std::string header = std::string("\x1F\x8B\x08\x08\0\0\0\0\0\0", 10) + "DADOS.XML" + '\0';
        EXPECT_EQ(std::string(gz.begin(), gz.begin() + static_cast<std::ptrdiff_t>(header.size())), header);

        const fs::path gzFile = sandbox_.path() / "check.gz";
        test::writeFile(gzFile, std::string(gz.begin(), gz.end()));
        if (test::haveTool(test::Gzip) && test::haveTool(test::Zcat)) {
            EXPECT_EQ(test::runCommand(test::Gzip + " -t " + test::quoted(gzFile)), 0);
            EXPECT_TRUE(test::captureCommand(test::Zcat + " " + test::quoted(gzFile)) == c.content);
        }
        if (test::haveTool(test::Python)) {
            EXPECT_TRUE(test::captureCommand(test::Python +
                                             " -c \"import zlib,sys; sys.stdout.buffer.write(zlib.decompress("
                                             "open(sys.argv[1],'rb').read(), 31))\" " +
                                             test::quoted(gzFile)) == c.content);
        }
        if (test::haveTool(test::Openssl)) {
            const std::size_t whole = enciphered.size() / 16 * 16;
            const fs::path cipherFile = sandbox_.path() / "check.cpt";
            test::writeFile(cipherFile, std::string(enciphered.begin(), enciphered.begin() + whole));
            const std::string opened =
                test::captureCommand(test::Openssl + " enc -d -aes-192-cbc -nopad -K " + hex(uploadAesKey(up.key)) +
                                     " -iv " + hex(uploadInitialVector(up.key)) + " -in " + test::quoted(cipherFile));
            EXPECT_TRUE(opened == std::string(gz.begin(), gz.begin() + whole));
        }

        const fs::path restored = sandbox_.path() / "restored";
        restoreUpload(up.key, up.blocks, restored);
        EXPECT_TRUE(test::readFile(restored) == c.content);
        EXPECT_TRUE(tempIsEmpty());
    }
}

// Random content whose level-1 gzip under the name of `source` is exactly
// `target` bytes: the length is moved by the difference until it fits (the
// seed changes when a length comes round again).
std::string contentCompressingTo(const fs::path& source, std::size_t target)
{
    const fs::path gz = source.string() + ".tamanho.gz";
    std::size_t length = target;
    std::uint32_t seed = 1;
    std::vector<std::size_t> tried;
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::string content = test::randomBytes(length, seed);
        test::writeFile(source, content);
        TGzip gzip;
        gzip.FileSource = source.string();
        gzip.FileDestination = gz.string();
        gzip.CompressionLevel = 1;
        if (gzip.Compress() != TGzip::ResultOk) {
            break;
        }
        const std::size_t size = fs::file_size(gz);
        if (size == target) {
            fs::remove(gz);
            return content;
        }
        if (std::find(tried.begin(), tried.end(), length) != tried.end()) {
            ++seed;
            tried.clear();
        }
        tried.push_back(length);
        length = length + target - size;
    }
    ADD_FAILURE() << "no content compresses to " << target << " bytes";
    return {};
}

// Enciphered sizes on each side of the block rule: the upload's blocks reach
// the server's decoder whole and expand to the original, and the deciphered
// gzip file is one member that gzip and Python's zlib accept.
TEST_F(UploadPreparationTest, EncipheredSizesOfTheBlockRuleReachTheServerWhole)
{
    struct Case
    {
        const char* name;
        std::size_t encipheredSize;
        int blockSize;
        std::size_t blocks;
        std::size_t lastBlock;
    };
    const std::vector<Case> cases{
        {"a multiple of 1280", 2560, 1267, 3, 26},
        {"a multiple of 1267", 3 * 1267, 1280, 3, 1241},
        {"a multiple of both, past the parallel threshold", 1280 * 1267, 1267, 1281, 0},
        {"neither, one byte past a multiple of 1280", 1280 * 900 + 1, 1280, 901, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content = contentCompressingTo(source_, c.encipheredSize);
        ASSERT_FALSE(content.empty());
        const PreparedUpload up = prepareUpload(source_.string(), temp_, UploadBlockSize, {});
        ASSERT_EQ(static_cast<std::size_t>(up.tamanhoCifrado), c.encipheredSize);
        EXPECT_EQ(up.blockSize, c.blockSize);
        ASSERT_EQ(up.blocks.size(), c.blocks);
        EXPECT_EQ(up.blocks.back().size(), c.lastBlock);

        server::UploadDecoder decoder(up.key,
                                      up.tamanhoCifrado,
                                      sandbox_.path() / "recebendo",
                                      static_cast<std::int64_t>(content.size()) + 1,
                                      false);
        for (const auto& block : up.blocks) {
            decoder.feed(block);
        }
        decoder.finish();
        EXPECT_EQ(decoder.expandedSize(), static_cast<std::int64_t>(content.size()));
        const fs::path received = sandbox_.path() / "recebido";
        fs::remove(received);
        decoder.commitTo(received);
        EXPECT_TRUE(test::readFile(received) == content);

        const Bytes gz = decipherUpload(up.key, join(up.blocks));
        const fs::path gzFile = sandbox_.path() / "check.gz";
        test::writeFile(gzFile, std::string(gz.begin(), gz.end()));
        test::writeFile(sandbox_.path() / "check", content);
        if (test::haveTool(test::Gzip)) {
            EXPECT_EQ(test::runCommand(test::Gzip + " -t " + test::quoted(gzFile)), 0);
        }
        if (test::haveTool(test::Python)) {
            const std::string script = "import zlib,sys; d=zlib.decompressobj(31); "
                                       "o=d.decompress(open(sys.argv[1],'rb').read()); "
                                       "sys.exit(0 if d.eof and not d.unused_data and "
                                       "o==open(sys.argv[2],'rb').read() else 1)";
            EXPECT_EQ(test::runCommand(test::Python + " -c \"" + script + "\" " + test::quoted(gzFile) + " " +
                                       test::quoted(sandbox_.path() / "check")),
                      0);
        }
        EXPECT_TRUE(tempIsEmpty());
    }
}

TEST_F(UploadPreparationTest, EveryUploadDrawsANewKey)
{
    test::writeFile(source_, "abc");
    const PreparedUpload a = prepareUpload(source_.string(), temp_, UploadBlockSize, {});
    const PreparedUpload b = prepareUpload(source_.string(), temp_, UploadBlockSize, {});
    EXPECT_NE(a.key, b.key);
    EXPECT_NE(join(a.blocks), join(b.blocks));
}

TEST_F(UploadPreparationTest, FailuresReportTheErrorAndThrowTheChannelText)
{
    struct Case
    {
        const char* name;
        fs::path source;
        fs::path tempDir;
        std::string message;  // shown by the gzip component
    };
    const fs::path missingDir = sandbox_.path() / "sem.pasta";
    const std::vector<Case> cases{
        {"missing source",
         sandbox_.path() / "FALTA.XML",
         temp_,
         "Can't open: " + (sandbox_.path() / "FALTA.XML").string()},
        {"missing temp dir", source_, missingDir, "Can't open: " + (missingDir / "DADOS").string()},
    };
    test::writeFile(source_, "abc");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui_.clear();
        Recorder rec;
        try {
            (void)prepareUpload(c.source.string(), c.tempDir, UploadBlockSize, rec.callbacks());
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), ENOENT);
            EXPECT_EQ(std::string(e.what()),
                      "<<CANAL_ZEB>> Erro na preparação dos dados. Código de erro do Windows: 2");
        }
        ASSERT_EQ(rec.reports.size(), 4u);
        EXPECT_EQ(rec.reports.back(), (Report{PreparationStatus::Erro, 40, std::string(TextoErroPreparacao)}));
        EXPECT_EQ(ui_.eventCalls(), 1);
        const auto messages = ui_.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text.substr(0, c.message.size()), c.message);
    }
    EXPECT_TRUE(tempIsEmpty());
}

TEST(UploadRestore, RejectsDamagedData)
{
    const test::Sandbox sandbox(false);
    const auto source = sandbox.write("x.txt", test::compressibleText(20000, 4));
    const fs::path temp = sandbox.path();
    const PreparedUpload up = prepareUpload(source.string(), temp, UploadBlockSize, {});
    const Bytes good = join(up.blocks);

    Bytes flipped = good;
    flipped[flipped.size() / 2] ^= 0x01;
    Bytes cut(good.begin(), good.end() - 5);
    Bytes longer = good;
    longer.push_back(0);
    SymmetricKey otherKey = up.key;
    otherKey[0] ^= 1;

    struct Case
    {
        const char* name;
        SymmetricKey key;
        Bytes data;
    };
    const std::vector<Case> cases{
        {"flipped bit", up.key, flipped},
        {"cut short", up.key, cut},
        {"trailing byte", up.key, longer},
        {"wrong key", otherKey, good},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(restoreUpload(c.key, c.data, sandbox.path() / "out"), Error);
    }
    EXPECT_NO_THROW(restoreUpload(up.key, good, sandbox.path() / "out"));
}

}  // namespace
}  // namespace vek::crypto
