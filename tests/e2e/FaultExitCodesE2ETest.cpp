// vek-cli itself against a scripted server that breaks off each exchange in
// a different way: what the program prints and the code it exits with.

#include "crypto/TBlowfishQv.h"
#include "tests/e2e/E2E.h"
#include "tests/fixtures/FakeZebServer.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <array>

namespace vek::test {
namespace {

using namespace wire;

std::vector<std::uint8_t> absurdHeader(std::uint8_t code)
{
    const auto h = encodeHeader({code, 0x7FFFFFFF});
    return {h.begin(), h.end()};
}

TEST(FaultExitCodes, EachExchangeBrokenOffByTheServer)
{
    const std::string modulus("\xC7\x1A\x3B\x55\x90\x11\x02\x6F", 8);
    const std::string block(600, 'g');
    const auto truncatedBlock = [&] {
        auto f = frameOf(CMD_BLOCO, block);
        f.resize(HeaderSize + block.size() / 2);
        return f;
    }();
    const std::string reset = "Erro ao ler dados do socket: \"Erro ao ler do socket: a conexão foi reiniciada pelo "
                              "outro lado\" / Código de erro do Windows: "
                              "104";
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        FakeScript script;
        int exitCode;
        std::string err;  // standard error, whole
        std::string out;  // standard output, whole
    };
    const std::array cases{
        Case{"type list closed",
             {"tipos-envio"},
             {FakeStep::expect(CMD_TIPOS_ENVIO), FakeStep::close()},
             1,
             "Erro: Erro de leitura: a conexão foi encerrada pelo outro lado\n",
             ""},
        Case{"type list with an absurd length",
             {"tipos-download"},
             {FakeStep::expect(CMD_TIPOS_DOWNLOAD), FakeStep::raw(absurdHeader(CMD_TIPOS_DOWNLOAD))},
             1,
             "Erro: <<CANAL_ZEB>> O servidor da ZEB enviou uma mensagem inválida: 2147483647 bytes anunciados, acima "
             "do limite de 16777216 bytes.\n",
             ""},
        Case{"upload with a stray code for the modulus",
             {"enviar", "--registro", "123456", "ARQUIVO"},
             {FakeStep::expect(CMD_PEDIDO_ENVIO), FakeStep::reply(CMD_ACEITO), FakeStep::reply(77, modulus)},
             1,
             "Erro:  Erro de comunicação na leitura das chaves...\n",
             ""},
        Case{"upload reset at the block",
             {"enviar", "--registro", "123456", "ARQUIVO"},
             {FakeStep::expect(CMD_PEDIDO_ENVIO),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_CHAVE_MODULO, modulus),
              FakeStep::reply(CMD_CHAVE_EXPOENTE, "\x03"),
              FakeStep::expect(CMD_CHAVE_SIMETRICA),
              FakeStep::expect(CMD_HASH_ARQUIVO),
              FakeStep::reply(CMD_ACK),
              FakeStep::expect(CMD_TAMANHO),
              FakeStep::reply(CMD_ACK),
              FakeStep::expect(CMD_BLOCO),
              FakeStep::reset()},
             1,
             "Erro:  " + reset + "\n",
             ""},
        Case{"list with a truncated block",
             {"listar", "--registro", "123456", "--tipo", "RET"},
             {FakeStep::expect(CMD_PEDIDO_LISTA),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_ACEITO, "1"),
              FakeStep::reply(CMD_TAMANHO, "600|Xlista.xml"),
              FakeStep::raw(truncatedBlock),
              FakeStep::close()},
             1,
             "Erro: Erro inesperado ao buscar a lista de arquivos para download.\n",
             ""},
        // Neither acceptance nor denial: no list, and no error.
        Case{"list answered with a stray code",
             {"listar", "--registro", "123456", "--tipo", "RET"},
             {FakeStep::expect(CMD_PEDIDO_LISTA), FakeStep::reply(77)},
             0,
             "",
             "NM_ARQUIVO\tDE_CONTEUDO_ARQUIVO\tTAMANHO\tMEDIDA\tULT_DOWNLOAD\tDT_CADASTRO\tID_ARQUIVO_DISPONIVEL\tCD_"
             "CHAVE_CRIPTOGRAFIA\tDE_PATH_ARQUIVO\tCD_TIPO_ARQUIVO\tTAMANHOFTM\n"},
        Case{"history closed instead of the end of data",
             {"historico", "--registro", "123456", "--inicio", "01/01/2026", "--fim", "30/06/2026"},
             {FakeStep::expect(CMD_PEDIDO_HISTORICO),
              FakeStep::reply(CMD_ACEITO),
              FakeStep::reply(CMD_ACEITO, "1"),
              FakeStep::reply(CMD_TAMANHO, "600|Xhistorico.xml"),
              FakeStep::reply(CMD_BLOCO, block),
              FakeStep::expect(CMD_ACK),
              FakeStep::close()},
             1,
             "Erro: Erro ao buscar a lista de arquivos para download. Código de erro do windows: 0\n",
             ""},
        Case{"password change reset",
             {"alterar-senha", "--registro", "123456"},
             {FakeStep::expect(CMD_ALTERAR_SENHA), FakeStep::reset()},
             1,
             "VEK: Houve um erro ao tentar alterar a senha. \n",
             ""},
        // Nothing is shown, and the change is not confirmed.
        Case{"password change answered with a stray code",
             {"alterar-senha", "--registro", "123456"},
             {FakeStep::expect(CMD_ALTERAR_SENHA), FakeStep::reply(77, "?")},
             1,
             "",
             ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box{false};
        FakeZebServer server({c.script});
        CliClient cli{box, server.port()};
        std::vector<std::string> args = c.args;
        for (auto& a : args) {
            if (a == "ARQUIVO") {
                a = box.write("dados.xml", "<dados>1</dados>").string();
            }
        }
        const auto r = cli.run(args, {{"VEK_NOVA_SENHA", "nova"}});
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, c.out);
        EXPECT_TRUE(server.waitDone());
    }
}

}  // namespace
}  // namespace vek::test
