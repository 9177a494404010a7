#include "server/ZebServer.h"

#include "platform/Error.h"
#include "platform/Socket.h"
#include "server/Authenticator.h"
#include "server/Demo.h"
#include "server/FtpFace.h"
#include "server/ServerKey.h"
#include "server/Session.h"
#include "server/Store.h"
#include "server/StoreAccess.h"

#include <array>
#include <atomic>
#include <list>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace vek::server {
namespace {

using namespace std::chrono_literals;

// Each listener is polled this long per turn, so stop() is seen quickly.
constexpr auto AcceptPoll = 50ms;
constexpr auto RefusalWrite = 1000ms;

// Connections the kernel completes while the accept thread is busy. The
// listeners' default is sized for one client's data port; a burst of clients
// beyond it would see their handshakes dropped and retried seconds later.
constexpr int ListenBacklog = SOMAXCONN;

// What an FTP client over the connection limit hears before the close.
constexpr std::string_view FtpTooMany = "421 Conexoes demais; tente novamente mais tarde.\r\n";

struct Worker
{
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace

struct ZebServer::Impl
{
    ServerConfig config;
    std::optional<Store> store;
    std::optional<ServerKey> key;
    std::optional<Authenticator> authenticator;
    std::optional<ServerContext> context;
    platform::TcpListener messages;
    platform::TcpListener ftp;
    Ports ports;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::list<Worker> workers;  // touched by the accept thread only, until stop()

    void log(const std::string& line) const
    {
        if (config.log) {
            config.log(line);
        }
    }

    void reap()
    {
        for (auto it = workers.begin(); it != workers.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = workers.erase(it);
            } else {
                ++it;
            }
        }
    }

    void acceptLoop()
    {
        while (!stopping.load()) {
            reap();
            std::array<pollfd, 2> fds{pollfd{messages.fd(), POLLIN, 0}, pollfd{ftp.fd(), POLLIN, 0}};
            if (::poll(fds.data(), fds.size(), static_cast<int>(AcceptPoll.count())) <= 0) {
                continue;
            }
            try {
                if (fds[0].revents != 0) {
                    platform::TcpSocket client = messages.accept(0ms);
                    if (client.connected()) {
                        serve(std::move(client), false);
                    }
                }
                if (fds[1].revents != 0) {
                    platform::TcpSocket client = ftp.accept(0ms);
                    if (client.connected()) {
                        serve(std::move(client), true);
                    }
                }
            } catch (const Error& e) {
                log(std::string("accept: ") + e.what());
            }
        }
    }

    void serve(platform::TcpSocket client, bool ftpFace)
    {
        if (workers.size() >= config.maxConnections) {
            log("limite de " + std::to_string(config.maxConnections) + " conexões atingido; conexão de " +
                client.peerAddress() + " recusada");
            if (ftpFace) {
                client.writeAll(std::span(reinterpret_cast<const std::uint8_t*>(FtpTooMany.data()), FtpTooMany.size()),
                                RefusalWrite);
            }
            return;  // closing it is the refusal
        }
        Worker& w = workers.emplace_back();
        w.thread = std::thread([this, ftpFace, done = w.done, socket = std::move(client)]() mutable {
            if (ftpFace) {
                FtpSession(*context, std::move(socket)).run();
            } else {
                Session(*context, std::move(socket)).run();
            }
            done->store(true);
        });
    }
};

ZebServer::ZebServer()
    : impl_(std::make_unique<Impl>())
{}

ZebServer::~ZebServer()
{
    stop();
}

void ZebServer::start(ServerConfig config)
{
    if (impl_->acceptor.joinable()) {
        throw Error("zebd já está em execução");
    }
    Impl& s = *impl_;
    s.config = std::move(config);
    // A store this process cannot write is refused now, not at the first
    // upload with a receipt that can never be sent.
    checkStoreWritable(s.config.dataDir);
    std::error_code ec;
    std::filesystem::create_directories(s.config.dataDir / ReceivedDirName, ec);
    if (ec) {
        throw Error("Não foi possível criar " + (s.config.dataDir / ReceivedDirName).string() + ": " + ec.message(),
                    ec.value());
    }
    s.store.emplace(s.config.dataDir / StoreFileName);
    const bool seeded = s.config.demo && s.store->seedDemo();
    s.key.emplace(ServerKey::loadOrCreate(s.config.dataDir / KeyFileName, s.config.rsaBits));
    s.authenticator.emplace(s.config.dataDir / SecretFileName);
    if (seeded) {
        if (s.config.demoContent) {
            seedDemoContent(*s.store, s.config.dataDir, *s.authenticator);
        }
        s.log("dados de demonstração criados");
    }
    s.context.emplace(ServerContext{s.config, *s.store, *s.key, *s.authenticator, s.stopping});

    s.messages.listen(s.config.address, s.config.messagePort, ListenBacklog);
    s.ftp.listen(s.config.address, s.config.ftpPort, ListenBacklog);
    s.ports = Ports{s.messages.localPort(), s.ftp.localPort()};
    s.stopping.store(false);
    s.acceptor = std::thread([&s] { s.acceptLoop(); });
}

void ZebServer::stop()
{
    Impl& s = *impl_;
    if (!s.acceptor.joinable()) {
        return;
    }
    s.stopping.store(true);
    s.acceptor.join();
    s.messages.close();
    s.ftp.close();
    for (Worker& w : s.workers) {
        w.thread.join();
    }
    s.workers.clear();
}

Ports ZebServer::ports() const
{
    return impl_->ports;
}

const std::string& ZebServer::address() const
{
    return impl_->config.address;
}

std::string ZebServer::listeningLine() const
{
    return "zebd: mensagens " + address() + ":" + std::to_string(impl_->ports.mensagens) + " ftp " + address() + ":" +
           std::to_string(impl_->ports.ftp);
}

Store& ZebServer::store()
{
    if (!impl_->store) {
        throw Error("zebd não foi iniciado");
    }
    return *impl_->store;
}

const ServerConfig& ZebServer::config() const
{
    return impl_->config;
}

}  // namespace vek::server
