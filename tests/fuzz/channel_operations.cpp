// The channel's other public operations against a server that says the
// input, from its first message on: both type lists (their text then split
// into items as the send page does), the password change and the upload of a
// small file. The first input byte chooses the operation.

#include "app/SendRules.h"
#include "platform/Error.h"
#include "tests/fuzz/ChannelPeer.h"

using namespace vek;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    static const auto toSend = [] {
        const auto path = fuzz::scratchDir() / "remessa.txt";
        fuzz::writeFile(path, "linha 1 da remessa\r\nlinha 2\r\n");
        return path;
    }();
    fuzz::emptyDir(fuzz::scratchDir() / "temp");
    fuzz::ScriptedClient client(fuzz::asText(data + 1, size - 1));
    try {
        switch (data[0] % 4) {
        case 0:
        case 1: {
            std::string lista;
            if (data[0] % 4 == 0) {
                client.ListarTiposArquivoEnvio(lista);
            } else {
                client.ListarTiposArquivoDownload(lista);
            }
            for (const auto& item : app::itensListaTipos(lista)) {
                (void)app::codigoDoItem(item);
                (void)app::filtroDoItem(item);
                (void)app::extensaoConfere(toSend.string(), item);
            }
            break;
        }
        case 2:
            (void)client.AlterarSenha("nova");
            break;
        default: {
            client.Arquivo = toSend.string();
            client.SetTipo_Arquivo("TXT");
            client.HashArquivo = "0123ABCD";
            channel::TResultadoEnvio resultado;
            client.AoEnviarArquivo = [](channel::TCanalZEBCliente&, const channel::TStatusUpload& s) {
                for (const int p : {s.PercentPreparacao, s.PercentConexao, s.PercentTransmissao}) {
                    fuzz::ScriptedClient::checkedPercent(p);
                }
            };
            client.EnviarArquivo(resultado);
            break;
        }
        }
    } catch (const vek::Error&) {
    }
    return 0;
}
