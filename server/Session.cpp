#include "server/Session.h"

#include "platform/Error.h"
#include "platform/Win1252.h"
#include "server/ZebServer.h"
#include "wire/MessageCodes.h"

#include <sys/socket.h>
#include <utility>

namespace vek::server {
namespace {

using namespace std::chrono_literals;

// How often a connection waiting for its next request looks at the stop flag.
constexpr auto StopPoll = 100ms;

}  // namespace

Session::Session(const ServerContext& context, platform::TcpSocket socket)
    : context_(context)
    , socket_(std::move(socket))
    , peer_(socket_.peerAddress())
{
    if (peer_.empty()) {
        peer_ = "?";  // the peer left before its address could be read
    }
}

void Session::run()
{
    // Whatever ends the connection, replies already decided still go out.
    struct FlushAtEnd
    {
        Session& session;
        ~FlushAtEnd()
        {
            try {
                session.flush();
            } catch (const Error& e) {
                session.log(e.what());
            }
        }
    } flushAtEnd{*this};
    try {
        while (waitForRequest()) {
            const wire::Message m = read();
            switch (m.code) {
            case wire::CMD_TIPOS_ENVIO:
                answerTiposEnvio();
                break;
            case wire::CMD_TIPOS_DOWNLOAD:
                answerTiposDownload();
                break;
            case wire::CMD_PRE_VALIDACAO:
                validationText_ = platform::fromWin1252(m.text());
                break;
            case wire::CMD_PEDIDO_ENVIO:
                runUpload(m);
                return;
            case wire::CMD_PEDIDO_LISTA:
                runListQuery(m);
                return;
            case wire::CMD_PEDIDO_HISTORICO:
                runHistory(m);
                return;
            case wire::CMD_ALTERAR_SENHA:
                runPasswordChange(m);
                return;
            default:
                log("mensagem inesperada " + wire::debugName(m.code) + "; conexão encerrada");
                return;
            }
        }
    } catch (const Error& e) {
        log(e.what());
    } catch (const std::exception& e) {
        // Whatever went wrong ends this connection only, never the server.
        log(std::string("erro inesperado: ") + e.what());
    }
}

bool Session::waitForRequest()
{
    const auto deadline = std::chrono::steady_clock::now() + context_.config.idleTimeout;
    while (!context_.stopping.load()) {
        if (reader_.buffered() > 0) {
            return true;
        }
        if (socket_.waitReadable(StopPoll)) {
            // Readable with nothing to read: the client closed.
            char c = 0;
            return ::recv(socket_.fd(), &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
    return false;
}

wire::Message Session::read()
{
    if (!reader_.hasWholeFrame()) {
        flush();
    }
    return reader_.read(context_.config.timeouts.streamTimeout, context_.config.maxFrameLength);
}

void Session::send(std::uint8_t code, std::string_view payload)
{
    queue(code, payload);
    flush();
}

void Session::send(std::uint8_t code, std::span<const std::uint8_t> payload)
{
    queue(code, payload);
    flush();
}

void Session::queue(std::uint8_t code, std::string_view payload)
{
    queue(code, std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
}

void Session::queue(std::uint8_t code, std::span<const std::uint8_t> payload)
{
    const auto frame = wire::MontarMensagem(code, static_cast<std::int32_t>(payload.size()), payload);
    queued_.insert(queued_.end(), frame.begin(), frame.end());
}

void Session::flush()
{
    if (queued_.empty()) {
        return;
    }
    // Gone from the queue even if the write fails: the connection is over then.
    const std::vector<std::uint8_t> frames = std::exchange(queued_, {});
    wire::writeFrame(socket_, frames, context_.config.timeouts.streamTimeout);
}

void Session::deny(const std::string& reason)
{
    send(wire::CMD_NEGADO, platform::toWin1252(reason));
}

void Session::log(const std::string& line) const
{
    if (context_.config.log) {
        context_.config.log(peer_ + ": " + line);
    }
}

}  // namespace vek::server
