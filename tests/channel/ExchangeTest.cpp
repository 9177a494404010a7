#include "channel/Exchange.h"

#include "channel/TCanalZEBCliente.h"
#include "crypto/TRsaQv.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

namespace vek::channel {
namespace {

using namespace std::chrono_literals;

// A failure of its own kind, to see whether it leaves unchanged.
class OwnError : public Error
{
public:
    using Error::Error;
};

// A channel in the middle of an upload: connected, holding both keys.
struct Midway
{
    Midway()
    {
        listener.listen("127.0.0.1", 0);
        canal.socCliente().connect("127.0.0.1", listener.localPort(), 5s);
        peer = listener.accept(5s);
        canal.ChaveSimetrica.assign(16, 0xA5);
        const std::array<std::uint8_t, 1> three{3};
        canal.ChaveServidor = std::make_shared<crypto::TRsaQv>(crypto::TRsaParams{
            crypto::NumberFromBytes(three), crypto::NumberFromBytes(three), crypto::NumberFromDecimal("0")});
    }
    void expectNothingLeft()
    {
        EXPECT_FALSE(canal.socCliente().connected());
        EXPECT_FALSE(canal.ChaveServidor);
        EXPECT_TRUE(canal.ChaveSimetrica.empty());
    }

    test::Sandbox box;
    platform::TcpListener listener;
    TCanalZEBCliente canal;
    platform::TcpSocket peer;
};

Error generic(int code)
{
    return Error("generica " + std::to_string(code), code);
}

TEST(Exchange, AFailureLeavesByTheUserMessageRuleAfterTheConnectionClosed)
{
    struct Case
    {
        const char* name;
        std::function<void()> fail;
        std::string text;
        int code;
    };
    const std::vector<Case> cases{
        {"prefixed", [] { throw Error("<<CANAL_ZEB>> para o usuário", 7); }, " para o usuário", 7},
        {"prefixed in lower case", [] { throw Error("<<canal_zeb>>x"); }, "x", 0},
        {"prefix further on", [] { throw Error("falhou: <<CANAL_ZEB>> x", 5); }, "generica 5", 5},
        {"without prefix", [] { throw Error("sem prefixo", 104); }, "generica 104", 104},
        {"not a vek::Error", [] { throw std::runtime_error("<<CANAL_ZEB>> outro tipo"); }, " outro tipo", 0},
        {"not a vek::Error, without prefix", [] { throw std::runtime_error("outro"); }, "generica 0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Midway m;
        bool connectedInside = false;
        Exchange exchange(m.canal, generic);
        try {
            exchange.run([&] {
                connectedInside = m.canal.socCliente().connected();
                c.fail();
            });
            ADD_FAILURE() << "nothing was raised";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), c.text);
            EXPECT_EQ(e.code(), c.code);
        }
        EXPECT_TRUE(connectedInside);
        m.expectNothingLeft();
    }
}

TEST(Exchange, WithoutAGenericErrorFailuresLeaveUnchanged)
{
    Midway m;
    Exchange exchange(m.canal);
    EXPECT_THROW(exchange.run([] { throw OwnError("<<CANAL_ZEB>> como veio", 3); }), OwnError);
    m.expectNothingLeft();
}

TEST(Exchange, ASuccessfulRunAlsoEndsWithNothingLeft)
{
    Midway m;
    Exchange exchange(m.canal, generic);
    exchange.run([] {});
    m.expectNothingLeft();
}

}  // namespace
}  // namespace vek::channel
