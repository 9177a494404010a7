#include "channel/TCanalZEBCliente.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/fixtures/FakeZebServer.h"
#include "tests/fixtures/RecordingSleeper.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/MessageCodes.h"
#include "wire/UserMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace vek::channel {
namespace {

using namespace wire;

using namespace std::chrono_literals;
using test::FakeStep;

std::uint16_t closedPort()
{
    platform::TcpListener l;
    l.listen("127.0.0.1", 0);
    return l.localPort();  // closed again when l goes
}

std::string traceText(const test::Sandbox& box)
{
    return box.read("TraceVEK.log");
}

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += what.size()) {
        ++n;
    }
    return n;
}

// A client with a short connection budget, plain trace lines, pointed at a
// port. Its reads wait long enough for a scripted server's thread to answer
// on a busy machine; a test of silence shortens them.
struct Client
{
    explicit Client(const test::Sandbox& box, std::uint16_t port)
    {
        test::writeClientConfig(box.path().string(), port, "Depuracao=S\r\nArquivoDepuracaoCript=N\r\n");
        canal.timeouts.streamTimeout = 5s;
        canal.timeouts.waitForData = 5s;
        canal.timeouts.connectPause = 20ms;
        canal.timeouts.connectBudget = 200ms;
        canal.LerConfiguracao();
    }
    TCanalZEBCliente canal;
};

TEST(Conectar, GivesUpOnARefusingPortWithTheLastRefusal)
{
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    Client c(box, closedPort());
    try {
        c.canal.Conectar();
        FAIL() << "Conectar should fail";
    } catch (const Error& e) {
        EXPECT_EQ(
            std::string(e.what()),
            "<<CANAL_ZEB>> Erro ao conectar-se com o servidor da ZEB: \"Não foi possível conectar a 127.0.0.1:" +
                std::to_string(c.canal.porta()) +
                ": conexão recusada (nenhum serviço atende nesse endereço e porta)\". Código de erro do Windows: " +
                std::to_string(ECONNREFUSED));
    }
    // 20 ms pauses until the spent time exceeds 200 ms: 11 attempts.
    EXPECT_EQ(count(traceText(box), "Erro ao conectar: "), 11U);
    EXPECT_EQ(count(traceText(box), " / Windows Error: 111"), 11U);
    EXPECT_GE(ui.eventCalls(), 11);
}

// The program's own budget, on a test clock: 200 ms between attempts until
// more than 30 s were spent, so 151 attempts and 151 pauses. The same wait on
// the real clock is proved end to end by vek-cli against a closed port.
TEST(Conectar, FullLengthBudgetMakes151AttemptsTwoHundredMillisecondsApart)
{
    test::Sandbox box;
    test::RecordingSleeper clock;
    Client c(box, closedPort());
    c.canal.timeouts = Timeouts{};
    EXPECT_THROW(c.canal.Conectar(), Error);
    EXPECT_EQ(count(traceText(box), "Erro ao conectar: "), 151U);
    const auto pauses = clock.pauses();
    EXPECT_EQ(pauses.size(), 151U);
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 200ms), 151);
    EXPECT_EQ(clock.total(), 30200ms);
}

TEST(Conectar, ReachesAServerThatComesUpDuringTheRetries)
{
    test::Sandbox box;
    const auto port = closedPort();
    Client c(box, port);
    c.canal.timeouts.connectBudget = 5000ms;
    // The server comes up once the client has been refused at least once.
    std::thread late([&box, port] {
        EXPECT_TRUE(test::waitFor([&] { return count(traceText(box), "Erro ao conectar: ") > 0; }, 30s));
        platform::TcpListener l;
        l.listen("127.0.0.1", port);
        auto s = l.accept(5s);
        std::this_thread::sleep_for(100ms);
    });
    EXPECT_NO_THROW(c.canal.Conectar());
    EXPECT_TRUE(c.canal.socCliente().connected());
    late.join();
    EXPECT_GE(count(traceText(box), "Erro ao conectar: "), 1U);
}

TEST(Conectar, UnresolvableHostCarriesTheResolverMessage)
{
    test::Sandbox box;
    box.write("vek.INI", "[Defaults]\r\nServidorInternet=servidor.invalid\r\nPortaServico=80\r\n");
    TCanalZEBCliente canal;
    canal.timeouts.connectPause = 10ms;
    canal.timeouts.connectBudget = 30ms;
    canal.LerConfiguracao();
    try {
        canal.Conectar();
        FAIL();
    } catch (const Error& e) {
        const std::string m = e.what();
        EXPECT_EQ(m.rfind("<<CANAL_ZEB>> Erro ao conectar-se com o servidor da ZEB: \"Não foi possível resolver o "
                          "endereço servidor.invalid: ",
                          0),
                  0U)
            << m;
    }
}

// A socket that "connects" without error but never holds a connection.
class HollowChannel : public TCanalZEBCliente
{
public:
    int attempts = 0;

protected:
    void tentarConexao() override { ++attempts; }
};

TEST(Conectar, AttemptsWithoutErrorButNoConnectionAreBoundedAndReportedAsTooManyConnections)
{
    test::Sandbox box;
    HollowChannel canal;
    canal.timeouts.maxUnconnectedAttempts = 7;
    try {
        canal.Conectar();
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "<<CANAL_ZEB>> O servidor da ZEB reportou que há um número excessivo de conexões no momento...");
    }
    EXPECT_EQ(canal.attempts, 7);
}

TEST(LerMensagem, ReadsFramesWithEmptyZeroAndNegativeLengths)
{
    test::Sandbox box;
    test::FakeZebServer server({{
        FakeStep::raw({0x5E, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'}),
        FakeStep::raw({0x03, 0x00, 0x00, 0x00, 0x00}),
        FakeStep::raw({0x03, 0xFE, 0xFF, 0xFF, 0xFF}),  // negative: nothing more is read
        FakeStep::raw({0x07, 0x03, 0x00, 0x00, 0x00, 'a', 0x00, 'b'}),
    }});
    Client c(box, server.port());
    c.canal.Conectar();
    auto m = c.canal.LerMensagem();
    EXPECT_EQ(m.code, CMD_NEGADO);
    EXPECT_EQ(m.text(), "abc");
    m = c.canal.LerMensagem();
    EXPECT_EQ(m.length, 0);
    EXPECT_TRUE(m.payload.empty());
    m = c.canal.LerMensagem();
    EXPECT_EQ(m.length, -2);
    EXPECT_TRUE(m.payload.empty());
    m = c.canal.LerMensagem();
    EXPECT_EQ(m.code, CMD_TAMANHO);
    EXPECT_EQ(m.text(), "a");
    EXPECT_EQ(m.payload.size(), 3U);
}

TEST(LerMensagem, SilentServerTracesTheWaitAndFailsWithTheReadError)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::pause(3s)}});
    Client c(box, server.port());
    c.canal.timeouts.streamTimeout = 300ms;
    c.canal.timeouts.waitForData = 300ms;
    c.canal.Conectar();
    try {
        c.canal.LerMensagem();
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "<<CANAL_ZEB>> Erro ao ler dados do socket: \"Tempo esgotado ao ler do socket\" / Código de erro do "
                  "Windows: " +
                      std::to_string(ETIMEDOUT));
        EXPECT_EQ(e.code(), ETIMEDOUT);
    }
    const auto trace = traceText(box);
    // 300 ms, give or take what a busy machine adds.
    EXPECT_NE(trace.find("Wait for data FALSE. Tempo decorrido: 00:00:0"), std::string::npos);
    EXPECT_NE(trace.find("Tempo esgotado ao ler do socket / Windows Error: 110"), std::string::npos);
    EXPECT_EQ(trace.find("Erro ao tentar ler 5 bytes..."), std::string::npos);  // only for code 0
}

// On the real clock (the wait is the kernel's poll on the socket).
TEST(RealTimeLerMensagem, FullLengthSilenceWaitsThirtySecondsThenThirtyForTheHeader)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::pause(70s)}});
    Client c(box, server.port());
    c.canal.timeouts = Timeouts{};
    c.canal.Conectar();
    const auto start = std::chrono::steady_clock::now();
    try {
        c.canal.LerMensagem();
        ADD_FAILURE() << "the silence passed";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ETIMEDOUT) << e.what();  // the header's own time-out, before the server gives up
    }
    const auto took = std::chrono::steady_clock::now() - start;
    // 30 s for the data, then 30 s for the header: one wait of each, not more.
    EXPECT_GE(took, 59s);
    EXPECT_NE(traceText(box).find("Wait for data FALSE. Tempo decorrido: 00:00:30."), std::string::npos);
    EXPECT_EQ(count(traceText(box), "Wait for data FALSE"), 1U);
}

TEST(LerMensagem, PeerClosingMidFrameFailsWithTheBareMessageAndCodeZero)
{
    struct Case
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* traceLine;
    };
    const std::array cases{
        Case{"in the header", {0x03, 0x01}, "Erro ao tentar ler 5 bytes..."},
        Case{"in the payload", {0x09, 0x0A, 0x00, 0x00, 0x00, 1, 2, 3}, "Erro ao tentar ler 10 bytes..."},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        test::Sandbox box;
        test::FakeZebServer server({{FakeStep::raw(k.bytes), FakeStep::close()}});
        Client c(box, server.port());
        c.canal.Conectar();
        try {
            c.canal.LerMensagem();
            FAIL();
        } catch (const Error& e) {
            EXPECT_FALSE(wire::hasUserMessagePrefix(e.what()));
            EXPECT_EQ(e.code(), 0);
        }
        const auto trace = traceText(box);
        EXPECT_NE(trace.find(k.traceLine), std::string::npos);
        EXPECT_NE(trace.find(" / Windows Error: 0"), std::string::npos);
    }
}

TEST(LerMensagem, AbsurdLengthIsRefusedBeforeAllocating)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::raw({0x09, 0xFF, 0xFF, 0xFF, 0x7F})}});
    Client c(box, server.port());
    c.canal.Conectar();
    try {
        c.canal.LerMensagem();
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "<<CANAL_ZEB>> O servidor da ZEB enviou uma mensagem inválida: 2147483647 bytes anunciados, acima "
                  "do limite de 16777216 bytes.");
    }
}

TEST(LerMensagem, ProcessesEventsBeforeTheWaitAndEachRead)
{
    test::Sandbox box;
    test::FakeZebServer server({{FakeStep::reply(CMD_ACEITO, "ok")}});
    Client c(box, server.port());
    c.canal.Conectar();
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    c.canal.LerMensagem();
    EXPECT_GE(ui.eventCalls(), 3);
}

}  // namespace
}  // namespace vek::channel
