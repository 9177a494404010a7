#include "channel/TCanalZEBCliente.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "tests/channel/UploadHarness.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>

namespace vek::channel {
namespace {

using namespace std::chrono_literals;
using namespace wire;
using test::FakeScript;
using test::FakeStep;

// Long enough for a client that writes ahead to be caught at it.
constexpr auto QuietWait = 150ms;

// Up to the size's reply: the blocks follow.
FakeScript upToBlocks()
{
    return upload_test::uploadUpToTheBlocks();
}

FakeScript receiptSteps()
{
    return {FakeStep::expect(CMD_FIM_DADOS), FakeStep::reply(CMD_PROTOCOLO, "P|D|I|A"), FakeStep::expect(CMD_ACK)};
}

// Random bytes do not compress: a file of this many blocks, give or take
// the gzip header (well within the last block).
std::string blocksOfRandomBytes(int blocks)
{
    std::string data(static_cast<std::size_t>(blocks - 1) * 1280 + 600, '\0');
    std::mt19937 gen(77);
    for (char& c : data) {
        c = static_cast<char>(gen());
    }
    return data;
}

// An upload of a file of `blocks` blocks, with the trace lines and progress
// texts of the blocks at hand.
struct WindowUpload : upload_test::UploadRun
{
    WindowUpload(const test::Sandbox& box, std::uint16_t port, const std::string& extraConfig, int blocks)
        : UploadRun(box, port, blocksOfRandomBytes(blocks), extraConfig, 5s)
        , box_(box)
    {}

    [[nodiscard]] std::vector<std::string> traced(const std::string& prefix) const
    {
        return upload_test::traced(box_, prefix);
    }

    [[nodiscard]] std::vector<std::string> progress() const { return reported("Enviando dados do arquivo: "); }

    const test::Sandbox& box_;
};

void expectNoComplaints(const test::FakeZebServer& server)
{
    EXPECT_TRUE(server.waitDone());
    for (const auto& e : server.errors()) {
        ADD_FAILURE() << e;
    }
}

// Without a usable window in the configuration every block waits for the
// reply to the one before: the server holds each reply back and sees nothing
// meanwhile. A key that is there but invalid is traced.
TEST(UploadWindow, WithoutAWindowNoBlockIsWrittenBeforeThePreviousReply)
{
    struct Config
    {
        const char* name;
        std::string text;
        bool traced;
    };
    const std::vector<Config> configs{
        {"no key", "", false},
        {"one", "JanelaEnvio=1\r\n", false},
        {"empty", "JanelaEnvio=\r\n", false},
        {"not a number", "JanelaEnvio=oito\r\n", true},
        {"zero", "JanelaEnvio=0\r\n", true},
        {"negative", "JanelaEnvio=-8\r\n", true},
        {"above the largest", "JanelaEnvio=4097\r\n", true},
        {"far above the largest", "JanelaEnvio=99999999999\r\n", true},
    };
    constexpr int Blocks = 3;
    for (const auto& [name, config, invalidTraced] : configs) {
        SCOPED_TRACE(name);
        test::Sandbox box;
        test::RecordingUiServices ui;
        platform::ScopedUi scope(ui);
        FakeScript script = upToBlocks();
        for (int i = 0; i < Blocks; ++i) {
            script.insert(script.end(),
                          {FakeStep::expect(CMD_BLOCO), FakeStep::quiet(QuietWait), FakeStep::reply(CMD_ACK)});
        }
        const FakeScript end = receiptSteps();
        script.insert(script.end(), end.begin(), end.end());
        test::FakeZebServer server({script});
        WindowUpload up(box, server.port(), config, Blocks);
        EXPECT_EQ(up.run(), "");
        expectNoComplaints(server);
        EXPECT_EQ(up.canal.BlocosDados.size(), static_cast<std::size_t>(Blocks));
        EXPECT_EQ(up.canal.janelaEfetiva(), 1);
        EXPECT_EQ(up.traced("JanelaEnvio inválida").size(), invalidTraced ? 1U : 0U);
    }
}

// With a window of 4, four blocks go before any reply and a fifth only after
// the first reply; replies are taken in block order with the trace lines and
// progress of stop-and-wait (a reply other than ACK traced as such); the end
// of data waits for the last reply.
TEST(UploadWindow, AWindowWritesAheadAndTakesEveryReplyBeforeTheEndOfData)
{
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    FakeScript script = upToBlocks();
    script.insert(script.end(),
                  {FakeStep::expect(CMD_BLOCO),
                   FakeStep::expect(CMD_BLOCO),
                   FakeStep::expect(CMD_BLOCO),
                   FakeStep::expect(CMD_BLOCO),
                   FakeStep::quiet(QuietWait),
                   FakeStep::reply(CMD_ACK),
                   FakeStep::expect(CMD_BLOCO),
                   FakeStep::reply(CMD_ACK),
                   FakeStep::expect(CMD_BLOCO),
                   FakeStep::reply(CMD_NEGADO, "recusado"),
                   FakeStep::reply(CMD_ACK),
                   FakeStep::reply(CMD_ACK),
                   FakeStep::quiet(QuietWait),
                   FakeStep::reply(CMD_ACK)});
    const FakeScript end = receiptSteps();
    script.insert(script.end(), end.begin(), end.end());
    test::FakeZebServer server({script});
    WindowUpload up(box, server.port(), "JanelaEnvio=4\r\n", 6);
    EXPECT_EQ(up.run(), "");
    expectNoComplaints(server);
    ASSERT_EQ(up.canal.BlocosDados.size(), 6U);
    EXPECT_TRUE(up.resultado.Sucesso);
    EXPECT_EQ(up.resultado.Protocolo, "P");

    EXPECT_EQ(up.traced("Enviando bloco de dados ").size(), 6U);
    EXPECT_EQ(up.traced("Esperando ACK").size(), 2U + 6U);  // hash, size, then one per block
    const auto acks = up.traced("Recebido ACK (");
    ASSERT_EQ(acks.size(), 5U);  // block 3 got a refusal instead
    EXPECT_EQ(acks[0], "Recebido ACK (1285 bytes enviados)");
    EXPECT_EQ(acks.back(),
              "Recebido ACK (" + std::to_string(up.canal.BlocosDados.blockLength(5) + 5) + " bytes enviados)");
    EXPECT_EQ(up.traced("Servidor não respondeu com ACK!").size(), 1U);
    ASSERT_EQ(up.progress().size(), 6U);
    EXPECT_EQ(up.progress().front().rfind("Enviando dados do arquivo: 16", 0), 0U) << up.progress().front();
    EXPECT_EQ(up.progress().back().rfind("Enviando dados do arquivo: 100", 0), 0U) << up.progress().back();
}

// A failure in the middle ends the upload as it does without a window. The
// server takes every block in flight before it closes: closing with unread
// bytes would make the kernel answer with a reset instead of an orderly end,
// which is a different failure.
TEST(UploadWindow, AConnectionLostMidWindowFailsAsWithoutOne)
{
    std::vector<std::string> errors;
    for (const auto& [config, inFlight] : {std::pair<std::string, int>{"", 1}, {"JanelaEnvio=8\r\n", 8}}) {
        SCOPED_TRACE(config);
        test::Sandbox box;
        test::RecordingUiServices ui;
        platform::ScopedUi scope(ui);
        FakeScript script = upToBlocks();
        for (int i = 0; i < inFlight; ++i)
            script.push_back(FakeStep::expect(CMD_BLOCO));
        script.push_back(FakeStep::close());
        test::FakeZebServer server({script});
        WindowUpload up(box, server.port(), config, 20);
        errors.push_back(up.run());
        EXPECT_TRUE(server.waitDone());
        (void)server.errors();
        EXPECT_FALSE(up.resultado.Sucesso);
    }
    ASSERT_EQ(errors.size(), 2U);
    EXPECT_FALSE(errors[0].empty());
    EXPECT_EQ(errors[1], errors[0]);
}

}  // namespace
}  // namespace vek::channel
