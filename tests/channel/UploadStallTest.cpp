#include "channel/TCanalZEBCliente.h"
#include "crypto/UploadPreparation.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/channel/UploadHarness.h"
#include "tests/fixtures/RecordingUiServices.h"
#include "tests/fixtures/Sandbox.h"
#include "wire/Frame.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vek::channel {
namespace {

using namespace std::chrono_literals;
using namespace wire;

// Hang guard for every wait of the scripted server; nothing here is timed.
constexpr auto Guard = 20s;

std::uint16_t portOf(int fd, bool peer)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len)
                        : ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    if (rc != 0 || a.sin_family != AF_INET) {
        return 0;
    }
    return ntohs(a.sin_port);
}

// The descriptor of the client's end of a loopback connection in this
// process: the socket whose own port is `clientPort` and whose peer is the
// server's `serverPort`; -1 when there is none.
int clientSocket(std::uint16_t clientPort, std::uint16_t serverPort)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        if (portOf(fd, false) == clientPort && portOf(fd, true) == serverPort) {
            return fd;
        }
    }
    return -1;
}

// A message server that takes an upload up to its blocks and then stops
// reading, with a small receive buffer (and the client's send buffer made
// small), until the client's socket has no room left for writing. Then it
// reads every block, acknowledging each, and ends the upload with a receipt.
// What it saw that it did not expect is a test failure of its own, reported
// when it is destroyed.
class StallingServer
{
public:
    StallingServer(int receiveBuffer, int clientSendBuffer)
        : clientSendBuffer_(clientSendBuffer)
    {
        listener_.listen("127.0.0.1", 0, 1);
        // Set before the client connects, so that the accepted socket
        // inherits it and announces a window that small.
        ::setsockopt(listener_.fd(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        port_ = listener_.localPort();
        thread_ = std::thread([this] { run(); });
    }
    ~StallingServer()
    {
        join();
        for (const auto& e : errors_) {
            ADD_FAILURE() << "scripted server: " << e;
        }
    }
    StallingServer(const StallingServer&) = delete;
    StallingServer& operator=(const StallingServer&) = delete;

    [[nodiscard]] std::uint16_t port() const { return port_; }
    void join()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // Filled by the server's thread; read after join().
    std::vector<std::vector<std::uint8_t>> blocks;
    bool clientSocketFull = false;
    std::size_t serverQueued = 0;  // bytes waiting in the server's receive queue at the stall
    std::size_t clientQueued = 0;  // bytes still in the client's send queue at the stall
    bool receiptAcknowledged = false;

private:
    void fail(const std::string& e) { errors_.push_back(e); }

    bool expect(platform::TcpSocket& s, std::uint8_t code, Message* out = nullptr)
    {
        const Message m = readFrame(s, Guard);
        if (m.code != code) {
            fail("expected " + debugName(code) + ", got " + debugName(m.code));
            return false;
        }
        if (out != nullptr) {
            *out = m;
        }
        return true;
    }

    void reply(platform::TcpSocket& s, std::uint8_t code, const std::string& payload = {})
    {
        writeFrame(s, frameOf(code, payload), Guard);
    }

    // Waits, reading nothing, until the client's socket reports no room for
    // writing; the hang guard ends the wait with a complaint instead.
    void stall(int serverFd, int client)
    {
        const auto deadline = std::chrono::steady_clock::now() + Guard;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{client, POLLOUT, 0};
            if (::poll(&p, 1, 0) == 0) {
                clientSocketFull = true;
                int queued = 0;
                ::ioctl(serverFd, FIONREAD, &queued);
                serverQueued = static_cast<std::size_t>(queued);
                ::ioctl(client, SIOCOUTQ, &queued);
                clientQueued = static_cast<std::size_t>(queued);
                return;
            }
            std::this_thread::sleep_for(1ms);
        }
        fail("the client's socket never filled");
    }

    void run()
    {
        try {
            platform::TcpSocket s = listener_.accept(Guard);
            if (!s.connected()) {
                fail("no connection");
                return;
            }
            // On loopback the system grows a send buffer to megabytes, more
            // than any window holds; a fixed small one stands for a host or a
            // line with less room.
            const int client = clientSocket(s.peerPort(), port_);
            if (client < 0) {
                fail("the client's socket was not found");
                return;
            }
            ::setsockopt(client, SOL_SOCKET, SO_SNDBUF, &clientSendBuffer_, sizeof clientSendBuffer_);
            if (!expect(s, CMD_PEDIDO_ENVIO)) {
                return;
            }
            reply(s, CMD_ACEITO);
            reply(s, CMD_CHAVE_MODULO, upload_test::Modulus);
            reply(s, CMD_CHAVE_EXPOENTE, upload_test::Exponent);
            if (!expect(s, CMD_CHAVE_SIMETRICA) || !expect(s, CMD_HASH_ARQUIVO)) {
                return;
            }
            reply(s, CMD_ACK);
            if (!expect(s, CMD_TAMANHO)) {
                return;
            }
            reply(s, CMD_ACK);

            stall(s.fd(), client);

            for (;;) {
                const Message m = readFrame(s, Guard);
                if (m.code == CMD_FIM_DADOS) {
                    break;
                }
                if (m.code != CMD_BLOCO) {
                    fail("expected a block or the end of data, got " + debugName(m.code));
                    return;
                }
                blocks.push_back(m.payload);
                reply(s, CMD_ACK);
            }
            reply(s, CMD_PROTOCOLO, "P|D|I|A");
            receiptAcknowledged = expect(s, CMD_ACK);
            // The client closes; anything else it sends is unexpected.
            std::uint8_t extra = 0;
            if (s.readSome(std::span(&extra, 1), Guard) != 0) {
                fail("bytes after the receipt's acknowledgement");
            }
        } catch (const Error& e) {
            fail(e.what());
        }
    }

    int clientSendBuffer_ = 0;
    platform::TcpListener listener_;
    std::uint16_t port_ = 0;
    std::vector<std::string> errors_;
    std::thread thread_;
};

// A windowed upload against a server that stops reading for a while: the
// client fills its socket (its writes come back partial or refused) while
// replies could still arrive, and must neither wait for ever nor give up.
// Once the server reads again, every block arrives byte for byte, every reply
// is read before the end of data, and the upload ends with its receipt.
TEST(UploadStall, AWindowedUploadOutlastsAServerThatStopsReading)
{
    constexpr int Janela = 128;
    constexpr std::size_t FrameBytes = HeaderSize + 1280;
    test::Sandbox box;
    test::RecordingUiServices ui;
    platform::ScopedUi scope(ui);
    // Receive and send buffers of 4 and 32 KiB (doubled by the system) hold
    // far less than a window of 128 blocks.
    StallingServer server(4096, 32 * 1024);
    // Random bytes do not compress: about 600 blocks, several windows' worth.
    const std::string content = test::randomBytes(600 * 1280, 91);
    upload_test::UploadRun up(box, server.port(), content, "JanelaEnvio=" + std::to_string(Janela) + "\r\n", Guard);
    // The upload's key, to restore the file from what the server received.
    std::vector<std::uint8_t> key;
    up.canal.AoEnviarArquivo = [&](TCanalZEBCliente& canal, const TStatusUpload& s) {
        up.reports.push_back(s);
        if (key.empty()) {
            key = canal.ChaveSimetrica;
        }
    };
    EXPECT_EQ(up.run(), "");
    server.join();

    EXPECT_TRUE(server.clientSocketFull);
    // The socket, not the window, held the client back: fewer bytes were on
    // their way than the window allows.
    EXPECT_LT(server.serverQueued + server.clientQueued, Janela * FrameBytes)
        << server.serverQueued << " + " << server.clientQueued;
    EXPECT_GT(server.serverQueued, 0U);

    const auto& sent = up.canal.BlocosDados;
    ASSERT_GT(sent.size(), static_cast<std::size_t>(2 * Janela));
    ASSERT_EQ(server.blocks.size(), sent.size());
    std::vector<std::uint8_t> enciphered;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(server.blocks[i].size(), sent.blockLength(i)) << "block " << i + 1;
        enciphered.insert(enciphered.end(), server.blocks[i].begin(), server.blocks[i].end());
    }
    ASSERT_EQ(key.size(), 16U);
    crypto::SymmetricKey k{};
    std::copy(key.begin(), key.end(), k.begin());
    crypto::restoreUpload(k, enciphered, box.path() / "restored.xml");
    EXPECT_TRUE(box.read("restored.xml") == content);
    EXPECT_EQ(upload_test::traced(box, "Recebido ACK (").size(), sent.size());
    EXPECT_TRUE(server.receiptAcknowledged);
    EXPECT_TRUE(up.resultado.Sucesso);
    EXPECT_EQ(up.resultado.Protocolo, "P");
}

}  // namespace
}  // namespace vek::channel
