#include "app/UploadRecord.h"

#include "channel/TCanalZEBCliente.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

namespace vek::app {
namespace {

TEST(UploadRecord, ProtocolAndDateOnlyForASuccessfulUpload)
{
    // A failed attempt can still carry the protocol the server sent before
    // the exchange broke off; its record must not read as a receipt.
    struct Case
    {
        const char* name;
        bool sucesso;
        const char* protocolo;
        const char* data;
    };
    const Case cases[] = {
        {"success", true, "2026000001", "09/12/2026 14:05:09"},
        {"failure after the receipt message", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Sandbox box;
        channel::TCanalZEBCliente canal;
        channel::TResultadoEnvio resultado;
        resultado.Sucesso = c.sucesso;
        resultado.Protocolo = "2026000001";
        resultado.DataHora = "09/12/2026 14:05:09";
        const auto caminho =
            gravarRegistroEnvio({"123456", "XML", "/dados/a.xml", "lote 7"}, resultado, canal, "r.xml");
        ASSERT_TRUE(caminho.has_value());
        EXPECT_EQ(*caminho, box.path() / "Protocolos" / "r.xml");
        const std::string xml = box.read("Protocolos/r.xml");
        EXPECT_NE(xml.find("<operadora>123456</operadora><tipo_Arquivo>XML</tipo_Arquivo>"
                           "<arquivo>/dados/a.xml</arquivo><dataTransmissao>" +
                           std::string(c.data) + "</dataTransmissao><protocoloTX>" + c.protocolo +
                           "</protocoloTX><aplicativo>" + canal.ID_Aplicacao_no_Servidor() +
                           "</aplicativo><informacoesArquivo>lote 7</informacoesArquivo><clienteTransmissao>" +
                           canal.VersaoTransmissor() + "</clienteTransmissao>"),
                  std::string::npos)
            << xml;
    }
}

}  // namespace
}  // namespace vek::app
