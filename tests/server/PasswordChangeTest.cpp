#include "server/Store.h"
#include "tests/server/ServerTestSupport.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

namespace vek::test {
namespace {

using channel::ResultadoAlteracaoSenha;

// After a change through the real client the old password opens nothing and
// the new one opens everything; the store keeps only a hash.
TEST(PasswordChange, TheNewPasswordReplacesTheOldOne)
{
    RunningServer zebd;
    {
        ClientOf client(zebd);
        EXPECT_EQ(client.canal.AlterarSenha("nova senha çé"), ResultadoAlteracaoSenha::Aceita);
        EXPECT_EQ(client.boxes(), std::vector<std::string>{"Senha alterada com sucesso."});
        // The channel keeps the password it was given.
        EXPECT_EQ(client.canal.Senha, "demo");
    }
    {
        ClientOf client(zebd);
        std::string path;
        EXPECT_EQ(client.historico("01/01/2026", "31/01/2026", path),
                  " Registro ZEB ou senha de transmissão inválidos.");
    }
    {
        ClientOf client(zebd);
        client.canal.Senha = "nova senha çé";
        std::string path;
        EXPECT_EQ(client.historico("01/01/2026", "31/01/2026", path), "");
    }
    UploadInput upload;
    upload.senha = "nova senha \xE7\xE9";  // the Windows-1252 bytes the client enciphers
    const UploadOutcome out = runUpload(zebd.port(), upload);
    ASSERT_TRUE(out.final.has_value());
    EXPECT_EQ(out.final->code, wire::CMD_PROTOCOLO);
    EXPECT_FALSE(zebd.server().store().checkOperator("123456", "demo"));
}

TEST(PasswordChange, RefusalsLeaveThePasswordAsItWas)
{
    RunningServer zebd;
    struct Case
    {
        const char* name;
        std::string registro;
        std::string atual;
        std::string nova;
        std::string reason;
    };
    const std::array cases{
        Case{"wrong current password",
             "123456",
             "errada",
             "outra",
             "Registro ZEB ou senha atual inválidos. A senha não foi alterada."},
        Case{"unknown operator",
             "999999",
             "demo",
             "outra",
             "Registro ZEB ou senha atual inválidos. A senha não foi alterada."},
        Case{"empty new password", "123456", "demo", "", "A nova senha não pode ser vazia. A senha não foi alterada."},
        Case{"blanks only", "123456", "demo", "   ", "A nova senha não pode ser vazia. A senha não foi alterada."},
        Case{"the same password",
             "123456",
             "demo",
             "demo",
             "A nova senha deve ser diferente da atual. A senha não foi alterada."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientOf client(zebd);
        client.canal.CD_Operadora = c.registro;
        client.canal.Senha = c.atual;
        EXPECT_EQ(client.canal.AlterarSenha(c.nova), ResultadoAlteracaoSenha::Recusada);
        EXPECT_EQ(client.boxes(), std::vector<std::string>{c.reason});
        EXPECT_TRUE(zebd.server().store().checkOperator("123456", "demo"));
    }
}

}  // namespace
}  // namespace vek::test
