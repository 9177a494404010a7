#include "platform/Win1252.h"
#include "server/Session.h"
#include "server/Store.h"
#include "wire/MessageCodes.h"

namespace vek::server {

// The client takes the reply to 37 whatever its code; it is answered with
// the request's own code, like 40.
void Session::answerTiposEnvio()
{
    send(wire::CMD_TIPOS_ENVIO, platform::toWin1252(context_.store.tiposEnvio()));
}

void Session::answerTiposDownload()
{
    send(wire::CMD_TIPOS_DOWNLOAD, platform::toWin1252(context_.store.tiposDownload()));
}

}  // namespace vek::server
