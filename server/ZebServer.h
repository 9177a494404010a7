#pragma once

#include "wire/Timeouts.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace vek::server {

class Store;

struct ServerConfig
{
    std::filesystem::path dataDir = "zeb-dados";
    std::string address = "127.0.0.1";
    std::uint16_t messagePort = 8080;  // 0: a free port
    std::uint16_t ftpPort = 2121;      // 0: a free port
    bool demo = false;
    // With demo: also files available for download and some history.
    bool demoContent = true;
    // Connections served at once; one more is closed as soon as it is accepted.
    std::size_t maxConnections = 64;
    // Largest enciphered upload accepted, and what it may expand to.
    std::int64_t maxUploadSize = 1024LL * 1024 * 1024;
    std::int64_t maxExpandedSize = 8LL * 1024 * 1024 * 1024;
    // Largest frame payload a client may announce. Clients send blocks of
    // 1280 bytes and short texts; every connection may hold one such frame.
    std::int32_t maxFrameLength = 1024 * 1024;
    // streamTimeout bounds every read and write, as on the client.
    wire::Timeouts timeouts;
    // How long an open connection may stay silent before its next request.
    std::chrono::milliseconds idleTimeout{30000};
    // How long the FTP login of a list query stays valid.
    std::chrono::seconds downloadCredentialLifetime{std::chrono::hours(8)};
    // The FTP face's connection to the client's data port must be up within this.
    std::chrono::milliseconds ftpDataConnect{15000};
    unsigned rsaBits = 2048;
    // One line per notable event (refusals, failures); empty: silent.
    std::function<void(const std::string&)> log;
};

struct Ports
{
    std::uint16_t mensagens = 0;
    std::uint16_t ftp = 0;
};

// The agency-side server: the message server with its store, in-process.
// start() returns once both ports listen; stop() (also the destructor) lets
// exchanges in flight finish, drops idle connections and returns when every
// connection thread has ended.
class ZebServer
{
public:
    ZebServer();
    ~ZebServer();
    ZebServer(const ZebServer&) = delete;
    ZebServer& operator=(const ZebServer&) = delete;

    // Opens (creating and migrating) the store under config.dataDir, loads or
    // generates the RSA key and the authentication secret, and listens.
    // Throws vek::Error when any of that fails.
    void start(ServerConfig config);
    void stop();

    [[nodiscard]] Ports ports() const;
    [[nodiscard]] const std::string& address() const;
    // The line the executable prints once it listens.
    [[nodiscard]] std::string listeningLine() const;
    [[nodiscard]] Store& store();
    [[nodiscard]] const ServerConfig& config() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Names of the files under the data directory.
inline constexpr const char* StoreFileName = "zeb.sqlite3";
inline constexpr const char* KeyFileName = "chave-rsa.sexp";
inline constexpr const char* SecretFileName = "segredo-autenticacao";
inline constexpr const char* ReceivedDirName = "recebidos";
inline constexpr const char* AvailableDirName = "disponiveis";

}  // namespace vek::server
