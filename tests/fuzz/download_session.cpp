// A whole download (ReceberArquivo) against an FTP server that says the
// input: its control replies up to the first "\r\n--DADOS--\r\n", then what
// its data connection delivers after the first RETR. The first input byte is
// the listed size in kilobytes (0: unknown). The file is deciphered with the
// listed key into temp/.

#include "platform/Error.h"
#include "tests/fuzz/ChannelPeer.h"

using namespace vek;

namespace {

constexpr std::string_view DataMarker = "\r\n--DADOS--\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    static const bool configured = [] {
        fuzz::writeFile(fuzz::scratchDir() / "vek.INI",
                        "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=1\r\nPortaFTP=" +
                            std::to_string(fuzz::ScriptedFtpServer::port()) + "\r\nPortaDados=0\r\n");
        return true;
    }();
    (void)configured;
    fuzz::emptyDir(fuzz::scratchDir() / "temp");
    const auto [control, fileData] = fuzz::splitAt(fuzz::asText(data + 1, size - 1), DataMarker);
    const fuzz::ScriptedFtpServer server{std::string(control), std::string(fileData)};
    fuzz::ScriptedClient client({});
    client.UsuarioDownload = "u123456";
    client.SenhaDownload = "s3nh4";
    client.IdentificadorDownload = "42";
    try {
        client.ReceberArquivo("retorno.xml", "/saida/123456", "7", "XML", "chave-do-arquivo", "", data[0]);
    } catch (const vek::Error&) {
    }
    return 0;
}
