#include "server/UploadDecoder.h"

#include "crypto/UploadPreparation.h"
#include "platform/Error.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace vek::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes gzipMember(const std::string& text)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&z, text.size()) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes encipher(const crypto::SymmetricKey& key, const Bytes& plain)
{
    crypto::UploadEncipherer e(key);
    Bytes out;
    const auto body = e.update(plain);
    out.insert(out.end(), body.begin(), body.end());
    const auto tail = e.finish();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

std::string crcText(const std::string& text)
{
    char buf[9];
    std::snprintf(
        buf,
        sizeof buf,
        "%08X",
        static_cast<unsigned>(crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()))));
    return buf;
}

struct Decoded
{
    std::string content;
    std::string crc;
    std::string error;
};

Decoded decode(const Bytes& gzip, const std::filesystem::path& dir)
{
    crypto::SymmetricKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<std::uint8_t>(0x30 + i);
    }
    const Bytes ciphered = encipher(key, gzip);
    Decoded d;
    try {
        server::UploadDecoder decoder(
            key, static_cast<std::int64_t>(ciphered.size()), dir / "recebendo", 1 << 30, false);
        for (std::size_t at = 0; at < ciphered.size(); at += 1280) {
            const auto n = std::min<std::size_t>(1280, ciphered.size() - at);
            decoder.feed(std::span(ciphered).subspan(at, n));
        }
        decoder.finish();
        decoder.commitTo(dir / "final");
        d.crc = decoder.crc32Text();
        std::ifstream in(dir / "final", std::ios::binary);
        d.content.assign(std::istreambuf_iterator<char>(in), {});
    } catch (const Error& e) {
        d.error = e.what();
    }
    return d;
}

class UploadDecoderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ =
            std::filesystem::temp_directory_path() / ("vek-decoder-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

// The file's CRC-32 is taken from inflate's own check of each member, so a
// file made of several gzip members must still give the CRC of the whole.
TEST_F(UploadDecoderTest, CrcCoversEveryGzipMember)
{
    std::string first(70'000, 'a');
    for (std::size_t i = 0; i < first.size(); i += 7) {
        first[i] = static_cast<char>('0' + i % 10);
    }
    const std::string second = "segundo membro <é>\r\n";
    Bytes gzip = gzipMember(first);
    const Bytes more = gzipMember(second);
    gzip.insert(gzip.end(), more.begin(), more.end());

    const Decoded d = decode(gzip, dir_);
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.content, first + second);
    EXPECT_EQ(d.crc, crcText(first + second));
}

// A file large enough to be deflated in pieces on several threads, prepared
// as the client prepares it, is taken whole by the server's decoder.
TEST_F(UploadDecoderTest, AcceptsAFileThatWasDeflatedInParallelPieces)
{
    std::string content;
    for (int i = 0; content.size() < 3 * 1024 * 1024 + 77; ++i) {
        content +=
            "<registro n=\"" + std::to_string(i * 7919 % 100003) + "\">valor " + std::to_string(i) + "</registro>\n";
        if (i % 1000 == 0) {
            for (int j = 0; j < 4096; ++j) {
                content += static_cast<char>((i * 31 + j * j) & 0xFF);
            }
        }
    }
    const auto source = dir_ / "DADOS.XML";
    {
        std::ofstream out(source, std::ios::binary);
        out << content;
    }
    const auto temp = dir_ / "temp";
    std::filesystem::create_directories(temp);
    const crypto::PreparedUpload up = crypto::prepareUpload(source.string(), temp, crypto::UploadBlockSize, {});

    server::UploadDecoder decoder(up.key, up.tamanhoCifrado, dir_ / "recebendo", 1 << 30, false);
    for (const auto& block : up.blocks) {
        decoder.feed(block);
    }
    decoder.finish();
    decoder.commitTo(dir_ / "final");
    EXPECT_EQ(decoder.crc32Text(), crcText(content));
    std::ifstream in(dir_ / "final", std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == content);
}

TEST_F(UploadDecoderTest, DamagedTrailerIsRefusedAndNothingIsKept)
{
    Bytes gzip = gzipMember("conteúdo do arquivo");
    gzip[gzip.size() - 6] ^= 0x01;  // inside the stored CRC-32
    const Decoded d = decode(gzip, dir_);
    EXPECT_NE(d.error, "");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "final"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "recebendo"));
}

}  // namespace
}  // namespace vek::test
