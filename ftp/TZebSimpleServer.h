#pragma once

#include "platform/Socket.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace vek::ftp {

// The one-shot listener of an active-mode data connection: it binds, listens,
// waits a bounded time for the FTP server to connect, accepts that single
// connection and closes the listening socket at once, so a second connection
// is refused. From then on connection() is the data connection.
class TZebSimpleServer
{
public:
    // The user-facing failure of the wait. The text is fixed, whatever the
    // configured limit and port.
    static constexpr const char* WaitFailedMessage =
        "<<CANAL_ZEB>> O VEK esperou 15 segundos por uma conexão vinda do servidor da ZEB e não a recebeu.\r"
        "Verifique se o Firewall de sua rede (ou de seu provedor) permite conexões de entrada na porta 20.0001 "
        "vindas do endereço da ZEB.\r"
        "Para mais informações, acesso o Help do VEK, imprima o gráfico orientativo das configurações de rede e "
        "entregue-o ao Administrador de rede.";
    static constexpr const char* BindFailedMessage = "Could not bind socket. Address and port are already in use.";

    TZebSimpleServer() = default;
    TZebSimpleServer(const TZebSimpleServer&) = delete;
    TZebSimpleServer& operator=(const TZebSimpleServer&) = delete;

    // Dotted IPv4 address to bind; empty means every interface.
    std::string BoundIP;
    // Port to bind. When 0 and both range ends are set, the first free port of
    // BoundPortMin..BoundPortMax; when 0 without a range, any free port.
    int BoundPort = 0;
    int BoundPortMin = 0;
    int BoundPortMax = 0;
    // The wait polls the listening socket for at most this long at a time...
    std::chrono::milliseconds AcceptWait{1000};
    // ...and fails with the first poll that ends later than this after the start.
    std::chrono::milliseconds acceptLimit{15000};

    // Binds and listens (backlog 15). A fixed port that cannot be bound fails
    // with BindFailedMessage and the errno of the bind.
    void StartListening();
    // Waits for the server's connection and accepts it (listening first when
    // StartListening has not run). Fails with WaitFailedMessage when none came.
    bool AcceptConnection();

    [[nodiscard]] bool listening() const { return listener_.listening(); }
    // The port actually bound (0 before StartListening and after the accept).
    [[nodiscard]] std::uint16_t boundPort() const { return listener_.localPort(); }
    [[nodiscard]] std::string boundAddress() const { return listener_.localAddress(); }
    // The accepted data connection.
    [[nodiscard]] platform::TcpSocket& connection() { return connection_; }

    // Lets the window process its events during the wait and the reads.
    void setEventPump(bool on);

private:
    void bindPort(const std::string& address, int port);

    platform::TcpListener listener_;
    platform::TcpSocket connection_;
    bool pump_ = false;
};

}  // namespace vek::ftp
