#pragma once

#include "channel/TCanalZEBCliente.h"
#include "platform/Socket.h"
#include "server/Store.h"
#include "server/ZebServer.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/Frame.h"
#include "wire/MessageCodes.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vek::test {

// An RSA key generated once per test program and copied into every data
// directory, so that each server does not pay for a fresh 2048-bit key.
const std::filesystem::path& sharedServerKey();

// A zebd in-process on free loopback ports with a sandboxed --dados, demo
// data and short waits. The destructor stops it.
class RunningServer
{
public:
    explicit RunningServer(const std::function<void(server::ServerConfig&)>& adjust = {});
    ~RunningServer();

    [[nodiscard]] std::uint16_t port() const { return server_.ports().mensagens; }
    [[nodiscard]] std::uint16_t ftpPort() const { return server_.ports().ftp; }
    [[nodiscard]] server::ZebServer& server() { return server_; }
    [[nodiscard]] const std::filesystem::path& dataDir() const { return sandbox_.path(); }
    [[nodiscard]] std::vector<std::string> logLines() const;
    void stop() { server_.stop(); }

private:
    Sandbox sandbox_{false};
    mutable std::mutex logMutex_;
    std::vector<std::string> log_;
    server::ZebServer server_;
};

// The real client channel pointed at a running server: a base directory of
// its own (VEK_DIR, for the scope) with vek.INI naming the server's ports,
// recorded user-interface services, operator 123456 with password "demo".
struct ClientOf
{
    explicit ClientOf(RunningServer& zebd);

    Sandbox box;
    RecordingUiServices ui;
    platform::ScopedUi scopedUi{ui};
    channel::TCanalZEBCliente canal;

    // The operation's error text; empty when it returned normally.
    std::string listar(const std::string& tipo,
                       std::string& arquivo,
                       const std::string& competencia = {},
                       const std::string& disponibilizacao = {});
    std::string historico(const std::string& inicio, const std::string& fim, std::string& arquivo);
    // The texts of the message boxes shown so far.
    [[nodiscard]] std::vector<std::string> boxes() const;
};

// A file made available to an operator through the server's own routine.
server::AvailableFile publish(RunningServer& zebd,
                              const std::string& name,
                              const std::string& content,
                              const std::string& type = "RET",
                              const std::string& competence = {},
                              const std::string& registro = "123456");

platform::TcpSocket connectTo(std::uint16_t port);
void sendFrame(platform::TcpSocket& socket, std::uint8_t code, std::span<const std::uint8_t> payload);
void sendText(platform::TcpSocket& socket, std::uint8_t code, const std::string& win1252);
wire::Message receive(platform::TcpSocket& socket);
// True when the server closed the connection (within a few seconds).
bool closedByPeer(platform::TcpSocket& socket);

// What a test client puts into one upload, and what it heard back.
struct UploadInput
{
    std::string registro = "123456";
    std::string senha = "demo";
    std::string tipo = "XML";
    std::string nome = "dados.xml";
    std::string validacao;
    std::string content = "<dados>um arquivo pequeno</dados>";
    std::string hash;                       // message 43
    std::optional<std::int32_t> announced;  // message 7; the real size when empty
    // Wrap this key instead of the one the file was enciphered with.
    std::optional<std::array<std::uint8_t, 16>> wrappedKey;
    // Extra bytes appended to the last block (data beyond the announced size).
    std::string trailing;
    // Every block and what follows them in one write, as a client with a
    // wide window sends them, the replies read only afterwards.
    bool blocksTogether = false;
    // Empty blocks sent after the last block of data (one by one, each
    // reply read).
    int emptyBlocksAfterData = 0;
    // What follows the blocks instead of the end of data (message 10).
    std::uint8_t afterBlocks = wire::CMD_FIM_DADOS;
};

struct UploadOutcome
{
    wire::Message authorization;  // reply to message 1
    std::vector<std::uint8_t> modulus;
    std::vector<std::uint8_t> exponent;
    std::vector<std::uint8_t> replies;   // codes of the replies to 43, 7 and each block
    std::optional<wire::Message> final;  // reply to message 10
    bool closedEarly = false;            // the server closed before the end
};

// The wrap of a 16-byte key for a modulus of 132 bits or more: the shortest
// big-endian bytes of (7 * 2^128 + key)^e mod n.
std::vector<std::uint8_t> wrapKey(const std::array<std::uint8_t, 16>& key,
                                  const std::vector<std::uint8_t>& modulus,
                                  const std::vector<std::uint8_t>& exponent);
// `content` gzipped and enciphered by the upload format under `key`.
std::vector<std::uint8_t> encipheredUpload(const std::array<std::uint8_t, 16>& key, const std::string& content);

// Runs the client's side of an upload by hand: frames built with
// MontarMensagem, the key wrapped with the server's public key by the
// agency's encoding, the file gzipped and enciphered by the upload format.
UploadOutcome runUpload(std::uint16_t port, const UploadInput& input);

}  // namespace vek::test
