#include "ftp/TZebSimpleServer.h"

#include "platform/Error.h"
#include "wire/UserMessage.h"

#include <cerrno>
#include <string_view>

namespace vek::ftp {

// The wait's text stays a C-string constant of the header; it still begins
// with the prefix every layer shares.
static_assert(std::string_view(TZebSimpleServer::WaitFailedMessage).starts_with(wire::UserMessagePrefix));

namespace {

using Clock = std::chrono::steady_clock;

void checkPort(int port, const char* what)
{
    if (port < 0 || port > 65535) {
        throw Error(std::string("Porta de dados inválida (") + what + "): " + std::to_string(port), EINVAL);
    }
}

}  // namespace

void TZebSimpleServer::setEventPump(bool on)
{
    pump_ = on;
    listener_.setEventPump(on);
    connection_.setEventPump(on);
}

void TZebSimpleServer::bindPort(const std::string& address, int port)
{
    listener_.listen(address, static_cast<std::uint16_t>(port), platform::TcpListener::DefaultBacklog);
    listener_.setEventPump(pump_);
}

void TZebSimpleServer::StartListening()
{
    checkPort(BoundPort, "BoundPort");
    checkPort(BoundPortMin, "BoundPortMin");
    checkPort(BoundPortMax, "BoundPortMax");
    const std::string address = BoundIP.empty() ? "0.0.0.0" : BoundIP;

    if (BoundPort == 0 && BoundPortMin != 0 && BoundPortMax != 0) {
        int lastErr = EADDRINUSE;
        for (int port = BoundPortMin; port <= BoundPortMax; ++port) {
            try {
                bindPort(address, port);
                return;
            } catch (const Error& e) {
                lastErr = e.code();
                if (lastErr != EADDRINUSE && lastErr != EACCES) {
                    throw;
                }
            }
        }
        throw Error("Could not bind socket. No free port between " + std::to_string(BoundPortMin) + " and " +
                        std::to_string(BoundPortMax) + ".",
                    lastErr);
    }

    try {
        bindPort(address, BoundPort);
    } catch (const Error& e) {
        if (e.code() == EADDRINUSE) {
            throw Error(BindFailedMessage, e.code(), e.detail());
        }
        // Not a busy port (an invalid address, no permission): keep the system's reason.
        throw Error(std::string("Could not bind socket. ") + e.what(), e.code(), e.detail());
    }
}

bool TZebSimpleServer::AcceptConnection()
{
    if (!listener_.listening()) {
        StartListening();
    }
    const auto start = Clock::now();
    for (;;) {
        platform::TcpSocket accepted = listener_.accept(AcceptWait);
        // The limit is checked after every poll, also one that found a connection.
        if (Clock::now() - start > acceptLimit) {
            throw Error(WaitFailedMessage, ETIMEDOUT);
        }
        if (accepted.connected()) {
            connection_ = std::move(accepted);
            connection_.setEventPump(pump_);
            break;
        }
    }
    // Exactly one data connection: a second attempt by the server is refused.
    listener_.close();
    return true;
}

}  // namespace vek::ftp
