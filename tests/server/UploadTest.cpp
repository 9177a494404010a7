#include "crypto/TBlowfishQv.h"
#include "platform/Win1252.h"
#include "server/Authenticator.h"
#include "server/Store.h"
#include "tests/server/ServerTestSupport.h"
#include "wire/MessageCodes.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <future>
#include <regex>
#include <set>

namespace vek::test {
namespace {

using namespace wire;

std::string crcTextOf(const std::string& content)
{
    char buf[9];
    std::snprintf(buf,
                  sizeof buf,
                  "%08X",
                  static_cast<unsigned>(
                      crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()))));
    return buf;
}

std::string tigerTextOf(const std::string& content)
{
    std::array<unsigned char, 24> d{};
    gcry_md_hash_buffer(GCRY_MD_TIGER1, d.data(), content.data(), content.size());
    std::string out;
    char buf[3];
    for (const unsigned char b : d) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    return out;
}

std::string randomBytes(std::size_t n)
{
    std::string out(n, '\0');
    gcry_create_nonce(out.data(), out.size());
    return out;
}

// Files left in the received directory (the temporary ones included).
std::vector<std::filesystem::path> receivedFiles(const std::filesystem::path& dataDir)
{
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dataDir / server::ReceivedDirName)) {
        files.push_back(e.path());
    }
    return files;
}

TEST(Upload, StoresTheFileAndAnswersWithAVerifiableReceipt)
{
    RunningServer zebd;
    struct Case
    {
        const char* name;
        std::string content = {};
        bool crc = false;
        bool tiger = false;
    };
    // Sizes around the cipher's 16-byte blocks and the 1280-byte data blocks.
    std::array cases{
        Case{.name = "small text with CRC", .content = "<dados>ação</dados>\n", .crc = true},
        Case{.name = "empty file"},
        Case{.name = "random bytes over several blocks with Tiger", .content = randomBytes(7000), .tiger = true},
        Case{.name = "one byte", .content = "x", .crc = true},
    };
    std::set<std::int64_t> protocols;
    std::int64_t last = 0;
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        UploadInput in;
        in.content = c.content;
        in.hash = c.crc ? crcTextOf(c.content) : c.tiger ? tigerTextOf(c.content) : "";
        in.validacao = "livre";
        const UploadOutcome out = runUpload(zebd.port(), in);

        ASSERT_EQ(out.authorization.code, CMD_ACEITO);
        EXPECT_EQ(out.modulus.size(), 256U);
        EXPECT_EQ(out.exponent, (std::vector<std::uint8_t>{0x01, 0x00, 0x01}));
        for (const auto r : out.replies) {
            EXPECT_EQ(r, CMD_ACK);
        }
        ASSERT_TRUE(out.final.has_value());
        ASSERT_EQ(out.final->code, CMD_PROTOCOLO) << out.final->text();

        // protocol|dd/mm/yyyy hh:nn:ss|address|authentication
        std::smatch f;
        const std::string receipt = out.final->text();
        ASSERT_TRUE(std::regex_match(
            receipt, f, std::regex(R"((\d+)\|(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)\|127\.0\.0\.1\|([0-9A-F]{20}))")))
            << receipt;
        const std::int64_t protocol = std::stoll(f[1]);
        EXPECT_GT(protocol, last);
        last = protocol;
        protocols.insert(protocol);

        const auto record = zebd.server().store().upload(protocol);
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->operatorId, "123456");
        EXPECT_EQ(record->fileType, "XML");
        EXPECT_EQ(record->fileName, "dados.xml");
        EXPECT_EQ(record->validationText, "livre");
        EXPECT_EQ(record->size, static_cast<std::int64_t>(c.content.size()));
        EXPECT_EQ(record->authentication, f[3].str());
        EXPECT_EQ(readFile(record->storedPath), c.content);

        server::Authenticator authenticator(zebd.dataDir() / server::SecretFileName);
        EXPECT_TRUE(authenticator.verify(*record));
        server::UploadRecord forged = *record;
        forged.operatorId = "654321";
        EXPECT_FALSE(authenticator.verify(forged));
    }
    EXPECT_EQ(protocols.size(), cases.size());
    // No temporary file stays behind.
    EXPECT_EQ(receivedFiles(zebd.dataDir()).size(), cases.size());
}

TEST(Upload, RefusesWithAReasonAndStoresNothing)
{
    RunningServer zebd([](server::ServerConfig& c) { c.maxUploadSize = 4096; });
    const std::string content = "<dados>conteúdo</dados>";
    struct Case
    {
        const char* name;
        UploadInput input;
        bool atAuthorization;  // refused in reply to message 1
        const char* reason;    // part of the reason text
    };
    UploadInput base;
    base.content = content;
    auto with = [&](auto change) {
        UploadInput in = base;
        change(in);
        return in;
    };
    std::array<std::uint8_t, 16> wrongKey{};
    wrongKey.fill(0x5A);
    std::array cases{
        Case{"wrong password", with([](UploadInput& in) { in.senha = "errada"; }), true, "senha"},
        Case{"unknown operator", with([](UploadInput& in) { in.registro = "999999"; }), true, "senha"},
        Case{"type not in the send list", with([](UploadInput& in) { in.tipo = "EXE"; }), true, "EXE"},
        Case{"size above the limit",
             with([](UploadInput& in) { in.content = randomBytes(6000); }),
             false,
             "limite de 4096 bytes"},
        Case{"CRC mismatch", with([](UploadInput& in) { in.hash = "0A1B2C3D"; }), false, "CRC-32"},
        Case{"Tiger mismatch", with([](UploadInput& in) { in.hash = std::string(48, 'A'); }), false, "Tiger"},
        Case{"hash in no known form", with([](UploadInput& in) { in.hash = "123"; }), false, "formato"},
        Case{"key wrapped is not the file's key",
             with([&](UploadInput& in) { in.wrappedKey = wrongKey; }),
             false,
             "decifrado"},
        Case{"fewer bytes than announced",
             with([](UploadInput& in) { in.announced = 4000; }),
             false,
             "diferente do anunciado"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const UploadOutcome out = runUpload(zebd.port(), c.input);
        const Message& refusal = c.atAuthorization ? out.authorization : *out.final;
        if (!c.atAuthorization) {
            ASSERT_EQ(out.authorization.code, CMD_ACEITO);
            ASSERT_TRUE(out.final.has_value());
        }
        EXPECT_EQ(refusal.code, CMD_NEGADO);
        const std::string reason = platform::fromWin1252(refusal.text());
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
    EXPECT_TRUE(zebd.server().store().uploads().empty());
    EXPECT_TRUE(receivedFiles(zebd.dataDir()).empty());

    // The server still takes a good upload afterwards.
    const UploadOutcome ok = runUpload(zebd.port(), base);
    ASSERT_TRUE(ok.final.has_value());
    EXPECT_EQ(ok.final->code, CMD_PROTOCOLO);
}

TEST(Upload, SizeAboveTheLimitIsRefusedAlreadyInReplyToTheSize)
{
    RunningServer zebd([](server::ServerConfig& c) { c.maxUploadSize = 100; });
    UploadInput in;
    in.content = randomBytes(3000);
    const UploadOutcome out = runUpload(zebd.port(), in);
    ASSERT_GE(out.replies.size(), 2U);
    EXPECT_EQ(out.replies[0], CMD_ACK);     // the hash
    EXPECT_EQ(out.replies[1], CMD_NEGADO);  // the size
    ASSERT_TRUE(out.final.has_value());
    EXPECT_EQ(out.final->code, CMD_NEGADO);
}

TEST(Upload, DataBeyondTheAnnouncedSizeEndsTheConnection)
{
    RunningServer zebd;
    UploadInput in;
    in.trailing = std::string(40, 'z');
    const UploadOutcome out = runUpload(zebd.port(), in);
    EXPECT_EQ(out.authorization.code, CMD_ACEITO);
    EXPECT_FALSE(out.final.has_value() && out.final->code == CMD_PROTOCOLO);
    EXPECT_TRUE(zebd.server().store().uploads().empty());
}

TEST(Upload, AnUnexpectedMessageInTheMiddleClosesTheConnection)
{
    RunningServer zebd;
    platform::TcpSocket s = connectTo(zebd.port());
    sendText(s, CMD_PEDIDO_ENVIO, "4.0.8|VEK|123456|XML|Linux|a.xml|" + crypto::EncryptProtocolText("demo"));
    ASSERT_EQ(receive(s).code, CMD_ACEITO);
    receive(s);
    receive(s);
    sendFrame(s, CMD_BLOCO, std::vector<std::uint8_t>(10, 1));  // a block before the key
    EXPECT_TRUE(closedByPeer(s));
}

// A client with a wide window sends many blocks before it reads: each still
// gets its own reply, in order, the end of data its receipt, and replies the
// server decided on are not lost when the connection ends right after them.
TEST(Upload, BlocksSentTogetherAreEachAnsweredAndNoReplyIsLost)
{
    RunningServer zebd;
    UploadInput in;
    in.content = randomBytes(40000);  // stored, not deflated: some 32 blocks
    in.blocksTogether = true;
    const UploadOutcome whole = runUpload(zebd.port(), in);
    ASSERT_GT(whole.replies.size(), 20U);
    EXPECT_EQ(std::count(whole.replies.begin(), whole.replies.end(), CMD_ACK),
              static_cast<std::ptrdiff_t>(whole.replies.size()));
    ASSERT_TRUE(whole.final.has_value());
    EXPECT_EQ(whole.final->code, CMD_PROTOCOLO);
    ASSERT_EQ(zebd.server().store().uploads().size(), 1U);

    in.afterBlocks = CMD_PEDIDO_LISTA;  // out of place: the connection ends there
    const UploadOutcome cut = runUpload(zebd.port(), in);
    EXPECT_EQ(cut.replies, whole.replies);
    EXPECT_TRUE(cut.closedEarly);
    EXPECT_EQ(zebd.server().store().uploads().size(), 1U);
}

// A size that is a multiple of both block sizes ends with one empty block,
// acknowledged like any other. Other empty blocks bring an upload no closer
// to its end: they end the connection instead of being acknowledged for ever.
TEST(Upload, OnlyOneEmptyBlockAfterAllTheDataIsAcknowledged)
{
    RunningServer zebd;
    UploadInput in;
    in.content = randomBytes(3000);
    in.emptyBlocksAfterData = 1;
    const UploadOutcome ended = runUpload(zebd.port(), in);
    EXPECT_EQ(std::count(ended.replies.begin(), ended.replies.end(), CMD_ACK),
              static_cast<std::ptrdiff_t>(ended.replies.size()));
    ASSERT_TRUE(ended.final.has_value());
    EXPECT_EQ(ended.final->code, CMD_PROTOCOLO) << ended.final->text();
    ASSERT_EQ(zebd.server().store().uploads().size(), 1U);
    EXPECT_EQ(readFile(zebd.server().store().uploads()[0].storedPath), in.content);

    in.emptyBlocksAfterData = 2;
    const UploadOutcome twice = runUpload(zebd.port(), in);
    EXPECT_TRUE(twice.closedEarly);
    EXPECT_EQ(zebd.server().store().uploads().size(), 1U);
}

TEST(Upload, AnEmptyBlockBeforeTheEndOfTheDataEndsTheConnection)
{
    RunningServer zebd;
    platform::TcpSocket s = connectTo(zebd.port());
    sendText(s, CMD_PEDIDO_ENVIO, "4.0.8|VEK|123456|XML|Linux|a.xml|" + crypto::EncryptProtocolText("demo"));
    ASSERT_EQ(receive(s).code, CMD_ACEITO);
    const auto modulus = receive(s).payload;
    const auto exponent = receive(s).payload;
    const std::array<std::uint8_t, 16> key{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    sendFrame(s, CMD_CHAVE_SIMETRICA, wrapKey(key, modulus, exponent));
    sendText(s, CMD_HASH_ARQUIVO, "");
    ASSERT_EQ(receive(s).code, CMD_ACK);
    const std::vector<std::uint8_t> size{0x00, 0x01, 0x00, 0x00};
    sendFrame(s, CMD_TAMANHO, size);
    ASSERT_EQ(receive(s).code, CMD_ACK);
    sendFrame(s, CMD_BLOCO, std::vector<std::uint8_t>{});
    EXPECT_TRUE(closedByPeer(s));
    EXPECT_TRUE(zebd.server().store().uploads().empty());
}

TEST(Upload, ParallelUploadsEachGetTheirOwnReceipt)
{
    RunningServer zebd;
    constexpr int Clients = 8;
    std::vector<std::future<std::pair<std::string, UploadOutcome>>> runs;
    for (int i = 0; i < Clients; ++i) {
        runs.push_back(std::async(std::launch::async, [&zebd, i] {
            UploadInput in;
            in.nome = "arquivo" + std::to_string(i) + ".xml";
            in.content = randomBytes(20000 + static_cast<std::size_t>(i) * 977);
            in.hash = crcTextOf(in.content);
            return std::make_pair(in.content, runUpload(zebd.port(), in));
        }));
    }
    std::set<std::string> protocols;
    for (auto& r : runs) {
        auto [content, out] = r.get();
        ASSERT_TRUE(out.final.has_value());
        ASSERT_EQ(out.final->code, CMD_PROTOCOLO) << out.final->text();
        const std::string protocol = out.final->text().substr(0, out.final->text().find('|'));
        protocols.insert(protocol);
        const auto record = zebd.server().store().upload(std::stoll(protocol));
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(readFile(record->storedPath), content);
    }
    EXPECT_EQ(protocols.size(), static_cast<std::size_t>(Clients));
}

}  // namespace
}  // namespace vek::test
