// The FTP client's reply reading against a server that says the input on
// its control connection: the greeting, the login with SYST (and SITE ZONE
// where the server offers it), then NOOP until a reply fails, and QUIT.

#include "ftp/TZebFTP.h"
#include "platform/Error.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace vek;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fuzz::ScriptedFtpServer server(std::string(fuzz::asText(data, size)), {});
    ftp::TZebFTP client;
    client.Host = "127.0.0.1";
    client.Port = fuzz::ScriptedFtpServer::port();
    client.Username = "usuario";
    client.Password = "senha";
    client.ProxySettings.ProxyType = ftp::fpcmTransparent;
    client.ReadTimeout = static_cast<std::int32_t>(fuzz::quickTimeouts().ftpReply.count());
    client.waits.connect = fuzz::quickTimeouts().connectAttempt;
    try {
        client.Connect();
        for (int i = 0; i < 8; ++i) {
            (void)client.SendCommand("NOOP", {200});
        }
    } catch (const vek::Error&) {
    }
    try {
        client.Disconnect();
    } catch (const vek::Error&) {
    }
    return 0;
}
