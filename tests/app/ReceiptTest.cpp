#include "app/Receipt.h"

#include "platform/UiServices.h"
#include "tests/fixtures/RecordingUiServices.h"

#include <gtest/gtest.h>

#include <vector>

namespace vek::app {
namespace {

dataset::RegistroTransmissao registro()
{
    return {.operadora = "123456",
            .tipo_Arquivo = "xml",
            .arquivo = "/home/op/envios/Relação.xml",
            .dataTransmissao = "09/12/2026 14:05:09",
            .protocoloTX = "2026000001",
            .aplicativo = "INTEGRADOR-2.1",
            .informacoesArquivo = "lote 7",
            .clienteTransmissao = "VEK-4.0.8",
            .enderecoIP = "192.168.10.20",
            .autenticacao = "A1B2",
            .modoParametros = false};
}

TEST(ReceiptFromRecord, ShowsTheRecordsValuesWithTheProtocolLineOfItsMode)
{
    auto r = registro();
    auto v = reciboDoRegistro(r);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->protocolo, "2026000001 - VEK-4.0.8");
    EXPECT_EQ(v->operadora, "123456");
    EXPECT_EQ(v->arquivo, "Relação.xml");
    EXPECT_EQ(v->dataRecebimento, "09/12/2026 14:05:09");
    EXPECT_EQ(v->informacoes, "lote 7");
    EXPECT_EQ(v->enderecoIP, "192.168.10.20");
    EXPECT_EQ(v->autenticacao, "A1B2");
    r.modoParametros = true;
    v = reciboDoRegistro(r);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->protocolo, "2026000001 - VEK-4.0.8 - Aplicativo: INTEGRADOR-2.1");
}

TEST(ReceiptFromRecord, EachFrontEndIsToldWhatTheRecordLacks)
{
    struct Case
    {
        const char* name;
        std::string protocolo;
        std::string endereco;
        std::string autenticacao;
        bool prints;
        std::vector<test::RecordingUiServices::Message> messages;
    };
    const std::vector<Case> cases{
        {"complete", "1", "10.0.0.1", "A1", true, {}},
        {"failed upload", "", "", "", false, {{MsgRegistroSemRecibo, platform::MessageKind::Warning}}},
        {"blank protocol", "  ", "", "", false, {{MsgRegistroSemRecibo, platform::MessageKind::Warning}}},
        {"written before records kept address and authentication",
         "1",
         "",
         "",
         true,
         {{MsgRegistroIncompleto, platform::MessageKind::Information}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingUiServices ui;
        platform::ScopedUi scope(ui);
        auto r = registro();
        r.protocoloTX = c.protocolo;
        r.enderecoIP = c.endereco;
        r.autenticacao = c.autenticacao;
        EXPECT_EQ(reciboParaImprimir(r).has_value(), c.prints);
        const auto shown = ui.messages();
        ASSERT_EQ(shown.size(), c.messages.size());
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].text, c.messages[i].text);
            EXPECT_EQ(shown[i].kind, c.messages[i].kind);
        }
    }
}

TEST(ReceiptFileName, OnlyCharactersThatStandInAFileName)
{
    struct Case
    {
        const char* protocolo;
        const char* nome;
    };
    const Case cases[] = {
        {"2026000123", "Recibo-2026000123.pdf"},
        {"../../etc/passwd", "Recibo-.._.._etc_passwd.pdf"},
        {"A 1/ç", "Recibo-A_1___.pdf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nomeArquivoRecibo(c.protocolo), c.nome) << c.protocolo;
    }
}

}  // namespace
}  // namespace vek::app
