#include "platform/SystemText.h"

#include "platform/Error.h"
#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace vek::platform {
namespace {

using namespace std::chrono_literals;

TEST(SystemText, FailuresTheProgramMeetsArePortuguese)
{
    struct Case
    {
        int code;
        const char* text;
    };
    const std::array cases{
        Case{ECONNREFUSED, "conexão recusada (nenhum serviço atende nesse endereço e porta)"},
        Case{ECONNRESET, "a conexão foi reiniciada pelo outro lado"},
        Case{ETIMEDOUT, "tempo de conexão esgotado"},
        Case{EHOSTUNREACH, "o servidor está inacessível (não há rota até ele)"},
        Case{ENETUNREACH, "a rede está inacessível"},
        Case{EPIPE, "a conexão foi encerrada pelo outro lado"},
        Case{ENOENT, "arquivo ou diretório não encontrado"},
        Case{EACCES, "permissão negada"},
        Case{ENOSPC, "não há espaço livre no disco"},
        Case{EROFS, "o sistema de arquivos é somente leitura"},
        Case{EADDRINUSE, "endereço já em uso"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(systemText(c.code), c.text) << c.code;
    }
}

TEST(SystemText, ResolverCodesArePortugueseAndSystemCodesGoThroughTheTable)
{
    EXPECT_EQ(resolverText(EAI_NONAME), "nome de servidor desconhecido");
    EXPECT_EQ(resolverText(EAI_AGAIN), "falha temporária na resolução do nome do servidor");
    EXPECT_EQ(resolverText(EAI_FAIL), "falha definitiva na resolução do nome do servidor");
    EXPECT_EQ(resolverText(EAI_SYSTEM, ECONNREFUSED), systemText(ECONNREFUSED));
}

TEST(SystemText, AnyOtherCodeKeepsTheSystemsOwnText)
{
    // Not a failure the program meets: whatever the system says, never empty.
    EXPECT_EQ(systemText(ENOTTY), std::strerror(ENOTTY));
    EXPECT_EQ(systemText(123456), std::strerror(123456));
    EXPECT_FALSE(resolverText(123456).empty());
}

TEST(SystemText, APortThatCannotBeTakenIsNamed)
{
    EXPECT_EQ(portText(EADDRINUSE, 27311), "porta 27311 já está em uso");
    EXPECT_EQ(portText(EACCES, 80), "sem permissão para usar a porta 80");
    EXPECT_EQ(portText(EINVAL, 80), systemText(EINVAL));
}

TEST(SystemText, SocketFailuresCarryThePortugueseText)
{
    TcpListener l;
    l.listen("127.0.0.1", 0);
    const auto port = l.localPort();

    TcpListener busy;
    try {
        busy.listen("127.0.0.1", port);
        FAIL() << "a second listener on one port";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), EADDRINUSE);
        EXPECT_EQ(e.detail(), "porta " + std::to_string(port) + " já está em uso");
        EXPECT_NE(std::string(e.what()).find("endereço já em uso"), std::string::npos) << e.what();
    }

    l.close();
    TcpSocket s;
    try {
        s.connect("127.0.0.1", port, 5s);
        FAIL() << "nothing listens there";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Não foi possível conectar a 127.0.0.1:" + std::to_string(port) +
                      ": conexão recusada (nenhum serviço atende nesse endereço e porta)");
    }
}

}  // namespace
}  // namespace vek::platform
