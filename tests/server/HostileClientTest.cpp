// zebd against clients that break off, stall, lie about lengths or send
// noise, on the message port and on the FTP port. After each batch the server
// must still answer a plain request, hold no connection or file it no longer
// needs, and keep its store whole.

#include "crypto/Gcrypt.h"
#include "crypto/TBlowfishQv.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "server/Store.h"
#include "tests/server/ServerTestSupport.h"
#include "wire/MessageCodes.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <future>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

namespace vek::test {
namespace {

using namespace wire;
using namespace std::chrono_literals;

// The server's waits in these tests; a stalled client costs this much. The
// well-behaved clients of a batch must each reach the server within it while
// a hundred others are served beside them, so it leaves room for a busy
// machine.
constexpr auto ServerWait = 3s;
// How long the connections of the set-up are given to end on the server side
// before the descriptors are counted; a later end only raises the baseline.
constexpr auto SettleWait = 300ms;
// Hang guards only: how long the server may take to drop a connection that
// went wrong (it does so after ServerWait), and to answer. Generous, so a
// machine busy with other work does not trip them.
constexpr auto DropBound = 30s;
constexpr auto ReplyWait = 30s;

void configure(server::ServerConfig& c)
{
    c.timeouts.streamTimeout = ServerWait;
    c.idleTimeout = ServerWait;
    c.ftpDataConnect = ServerWait;
    // Every case of a batch runs at once.
    c.maxConnections = 512;
}

std::size_t openDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

std::vector<std::uint8_t> noise(std::mt19937& rng, std::size_t size)
{
    std::vector<std::uint8_t> out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng());
    }
    return out;
}

void sendRaw(platform::TcpSocket& s, std::span<const std::uint8_t> bytes)
{
    s.writeAll(bytes, ReplyWait);
}

std::vector<std::uint8_t> header(std::uint8_t code, std::uint32_t length)
{
    return {code,
            static_cast<std::uint8_t>(length),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 24)};
}

// Reads past whatever the server still sends; true when it closed the
// connection within the bound.
bool droppedWithin(platform::TcpSocket& s, std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::array<std::uint8_t, 4096> buffer{};
    try {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms) {
                return false;
            }
            if (s.readSome(buffer, left) == 0) {
                return true;
            }
        }
    } catch (const Error& e) {
        return e.code() == ECONNRESET;
    }
}

// A close that the peer sees as a reset, as from a client that crashed.
void abort(platform::TcpSocket& s)
{
    const linger hard{1, 0};
    ::setsockopt(s.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    s.close();
}

// The server is healthy: the type lists come back as stored, on the message
// port, and the FTP face greets and answers.
void expectServing(RunningServer& zebd)
{
    // Right after a flood the server may still be ending sessions whose
    // clients left, and refuses new ones beyond its bound until they are
    // gone: it must serve again within the bound, not at once.
    platform::TcpSocket s;
    Message m;
    const auto deadline = std::chrono::steady_clock::now() + DropBound;
    for (;;) {
        try {
            s = connectTo(zebd.port());
            sendFrame(s, CMD_TIPOS_ENVIO, {});
            m = readFrame(s, ReplyWait);
            break;
        } catch (const Error&) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the server does not serve again";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    EXPECT_EQ(m.code, CMD_TIPOS_ENVIO);
    EXPECT_EQ(m.text(), platform::toWin1252(zebd.server().store().tiposEnvio()));
    sendFrame(s, CMD_TIPOS_DOWNLOAD, {});
    m = readFrame(s, ReplyWait);
    EXPECT_EQ(m.code, CMD_TIPOS_DOWNLOAD);
    EXPECT_EQ(m.text(), platform::toWin1252(zebd.server().store().tiposDownload()));

    std::string greeting;
    for (;;) {
        platform::TcpSocket f = connectTo(zebd.ftpPort());
        std::array<std::uint8_t, 512> buffer{};
        greeting.clear();
        std::size_t n = 1;
        while (n > 0 && greeting.find("\r\n") == std::string::npos) {
            n = f.readSome(buffer, ReplyWait);
            greeting.append(reinterpret_cast<const char*>(buffer.data()), n);
        }
        if (n > 0) {
            break;
        }
        // Closed before its greeting: still over its bound, as above.
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the FTP face does not serve again";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(greeting.substr(0, 4), "220 ");
}

// The store file passes SQLite's own check, the demo operator still logs in,
// every recorded upload has its file, and no half-received file is left.
void expectStoreWhole(RunningServer& zebd)
{
    sqlite3* db = nullptr;
    const auto file = zebd.dataDir() / server::StoreFileName;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::string verdict;
    sqlite3_exec(
        db,
        "PRAGMA integrity_check",
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) += values[0] ? values[0] : "NULL";
            return 0;
        },
        &verdict,
        nullptr);
    sqlite3_close(db);
    EXPECT_EQ(verdict, "ok");

    server::Store& store = zebd.server().store();
    EXPECT_TRUE(store.checkOperator("123456", "demo"));
    for (const auto& u : store.uploads()) {
        EXPECT_TRUE(std::filesystem::exists(u.storedPath)) << u.protocol;
    }
    const auto leftovers = [&] {
        std::size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(zebd.dataDir() / server::ReceivedDirName)) {
            n += e.path().filename().string().starts_with(".recebendo-") ? 1 : 0;
        }
        return n;
    };
    EXPECT_TRUE(waitFor([&] { return leftovers() == 0; }, DropBound)) << leftovers() << " partial files left";
}

std::string descriptorList()
{
    std::string out;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        out += e.path().filename().string() + " -> " + std::filesystem::read_symlink(e.path(), ec).string() + "\n";
    }
    return out;
}

void expectNoConnectionHeld(std::size_t baseline)
{
    EXPECT_TRUE(waitFor([&] { return openDescriptors() <= baseline; }, DropBound))
        << openDescriptors() << " descriptors open, " << baseline << " before:\n"
        << descriptorList();
}

// ---------------------------------------------------------------------------
// The exchanges as the client runs them, one step per client message.

struct Peer
{
    platform::TcpSocket socket;
    std::string registro = "123456";
    std::vector<std::uint8_t> modulus;
    std::vector<std::uint8_t> exponent;
};

Message expect(Peer& p, std::optional<std::uint8_t> code, const char* what)
{
    Message m = readFrame(p.socket, ReplyWait);
    if (code && m.code != *code) {
        throw std::runtime_error(std::string(what) + ": code " + std::to_string(m.code) + " \"" + m.text() + "\"");
    }
    return m;
}

struct Step
{
    const char* name;
    std::uint8_t code;  // of the client message this step sends
    std::function<void(Peer&)> run;
};

struct Dialogue
{
    const char* name;
    std::vector<Step> steps;
};

const std::string UploadContent = [] {
    std::mt19937 rng(7);
    const auto bytes = noise(rng, 2000);  // does not compress: two blocks
    return std::string(bytes.begin(), bytes.end());
}();

std::vector<Dialogue> dialogues()
{
    static const std::array<std::uint8_t, 16> key{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    static const std::vector<std::uint8_t> data = encipheredUpload(key, UploadContent);
    const auto block = [](std::size_t i) {
        const std::size_t at = i * 1280;
        return std::span(data).subspan(at, std::min<std::size_t>(1280, data.size() - at));
    };
    const std::string senha = crypto::EncryptProtocolText("demo");
    return {
        Dialogue{"type lists",
                 {
                     Step{"37",
                          CMD_TIPOS_ENVIO,
                          [](Peer& p) {
                              sendFrame(p.socket, CMD_TIPOS_ENVIO, {});
                              expect(p, CMD_TIPOS_ENVIO, "37");
                          }},
                     Step{"40",
                          CMD_TIPOS_DOWNLOAD,
                          [](Peer& p) {
                              sendFrame(p.socket, CMD_TIPOS_DOWNLOAD, {});
                              expect(p, CMD_TIPOS_DOWNLOAD, "40");
                          }},
                     Step{"18", CMD_PRE_VALIDACAO, [](Peer& p) { sendText(p.socket, CMD_PRE_VALIDACAO, "livre"); }},
                 }},
        Dialogue{
            "upload",
            {
                Step{"18", CMD_PRE_VALIDACAO, [](Peer& p) { sendText(p.socket, CMD_PRE_VALIDACAO, "livre"); }},
                Step{"1",
                     CMD_PEDIDO_ENVIO,
                     [senha](Peer& p) {
                         sendText(p.socket, CMD_PEDIDO_ENVIO, "4.0.8|VEK-1|123456|XML|Linux|a.xml|" + senha);
                         expect(p, CMD_ACEITO, "authorization");
                         p.modulus = expect(p, CMD_CHAVE_MODULO, "modulus").payload;
                         p.exponent = expect(p, CMD_CHAVE_EXPOENTE, "exponent").payload;
                     }},
                Step{"6",
                     CMD_CHAVE_SIMETRICA,
                     [](Peer& p) { sendFrame(p.socket, CMD_CHAVE_SIMETRICA, wrapKey(key, p.modulus, p.exponent)); }},
                Step{"43",
                     CMD_HASH_ARQUIVO,
                     [](Peer& p) {
                         sendText(p.socket, CMD_HASH_ARQUIVO, "");
                         expect(p, CMD_ACK, "after the hash");
                     }},
                Step{"7",
                     CMD_TAMANHO,
                     [](Peer& p) {
                         const auto size = header(0, static_cast<std::uint32_t>(data.size()));
                         sendFrame(p.socket, CMD_TAMANHO, std::span(size).subspan(1));
                         expect(p, CMD_ACK, "after the size");
                     }},
                Step{"9 first",
                     CMD_BLOCO,
                     [block](Peer& p) {
                         sendFrame(p.socket, CMD_BLOCO, block(0));
                         expect(p, CMD_ACK, "first block");
                     }},
                Step{"9 second",
                     CMD_BLOCO,
                     [block](Peer& p) {
                         sendFrame(p.socket, CMD_BLOCO, block(1));
                         expect(p, CMD_ACK, "second block");
                     }},
                Step{"10",
                     CMD_FIM_DADOS,
                     [](Peer& p) {
                         sendFrame(p.socket, CMD_FIM_DADOS, {});
                         expect(p, CMD_PROTOCOLO, "receipt");
                     }},
                Step{"39", CMD_ACK, [](Peer& p) { sendFrame(p.socket, CMD_ACK, {}); }},
            }},
        Dialogue{"file list",
                 {
                     Step{"30",
                          CMD_PEDIDO_LISTA,
                          [senha](Peer& p) {
                              sendText(p.socket, CMD_PEDIDO_LISTA, "4.0.8|VEK-1|RET|123456|Linux|||" + senha);
                              expect(p, CMD_ACEITO, "acceptance");
                              if (expect(p, std::nullopt, "result").text() == "0") {
                                  throw std::runtime_error("empty list");
                              }
                              expect(p, CMD_TAMANHO, "list header");
                              expect(p, CMD_BLOCO, "list block");
                          }},
                     Step{"39 block",
                          CMD_ACK,
                          [](Peer& p) {
                              sendFrame(p.socket, CMD_ACK, {});
                              expect(p, CMD_FIM_DADOS, "end of list");
                          }},
                     Step{"32",
                          CMD_LISTA_RECEBIDA,
                          [](Peer& p) {
                              sendFrame(p.socket, CMD_LISTA_RECEBIDA, {});
                              expect(p, std::nullopt, "credentials");
                          }},
                     Step{"39", CMD_ACK, [](Peer& p) { sendFrame(p.socket, CMD_ACK, {}); }},
                 }},
        Dialogue{"history",
                 {
                     Step{"13",
                          CMD_PEDIDO_HISTORICO,
                          [senha](Peer& p) {
                              sendText(p.socket,
                                       CMD_PEDIDO_HISTORICO,
                                       "4.0.8|VEK-1|123456|Linux|01/01/2000|31/12/2099|" + senha);
                              expect(p, CMD_ACEITO, "acceptance");
                              if (expect(p, std::nullopt, "result").text() == "0") {
                                  throw std::runtime_error("empty history");
                              }
                              expect(p, CMD_TAMANHO, "list header");
                              expect(p, CMD_BLOCO, "list block");
                          }},
                     Step{"39 block",
                          CMD_ACK,
                          [](Peer& p) {
                              sendFrame(p.socket, CMD_ACK, {});
                              expect(p, CMD_FIM_DADOS, "end of list");
                          }},
                     Step{"39", CMD_ACK, [](Peer& p) { sendFrame(p.socket, CMD_ACK, {}); }},
                 }},
        Dialogue{"password change",
                 {
                     Step{"99",
                          CMD_ALTERAR_SENHA,
                          [senha](Peer& p) {
                              sendText(p.socket,
                                       CMD_ALTERAR_SENHA,
                                       "4.0.8|" + p.registro + "|Linux|" + senha + "|" +
                                           crypto::EncryptProtocolText("nova"));
                              expect(p, CMD_ACEITO, "password change");
                          }},
                     Step{"39", CMD_ACK, [](Peer& p) { sendFrame(p.socket, CMD_ACK, {}); }},
                 }},
    };
}

// What the hostile client does once the valid prefix has run; `next` is the
// code of the message the exchange expects next.
struct Ending
{
    const char* name;
    bool staysOpen;  // the client keeps its end open: the server must drop it
    std::function<void(platform::TcpSocket&, std::uint8_t next)> act;
};

std::vector<Ending> endings()
{
    return {
        Ending{"close", false, [](platform::TcpSocket& s, std::uint8_t) { s.close(); }},
        Ending{"reset", false, [](platform::TcpSocket& s, std::uint8_t) { abort(s); }},
        Ending{"silence", true, [](platform::TcpSocket&, std::uint8_t) {}},
        Ending{"noise",
               true,
               [](platform::TcpSocket& s, std::uint8_t) {
                   std::mt19937 rng(11);
                   sendRaw(s, noise(rng, 300));
               }},
        Ending{"absurd length",
               true,
               [](platform::TcpSocket& s, std::uint8_t next) { sendRaw(s, header(next, 0x7FFFFFFF)); }},
        Ending{"negative length",
               true,
               [](platform::TcpSocket& s, std::uint8_t next) { sendRaw(s, header(next, 0xFFFFFFFF)); }},
        Ending{"most negative length",
               true,
               [](platform::TcpSocket& s, std::uint8_t next) { sendRaw(s, header(next, 0x80000000)); }},
        Ending{"zero length", true, [](platform::TcpSocket& s, std::uint8_t next) { sendRaw(s, header(next, 0)); }},
        Ending{"truncated frame then close",
               false,
               [](platform::TcpSocket& s, std::uint8_t next) {
                   auto bytes = header(next, 100);
                   bytes.resize(bytes.size() + 10, 'A');
                   sendRaw(s, bytes);
                   s.close();
               }},
        Ending{"half a header then close",
               false,
               [](platform::TcpSocket& s, std::uint8_t next) {
                   const auto bytes = header(next, 4);
                   sendRaw(s, std::span(bytes).first(3));
                   s.close();
               }},
        Ending{"huge text fields",
               true,
               [](platform::TcpSocket& s, std::uint8_t next) {
                   // As large as a frame may be, and made of fields.
                   std::string text(1024 * 1024, 'A');
                   for (std::size_t i = 0; i < text.size(); i += 3) {
                       text[i] = '|';
                   }
                   sendText(s, next, text);
               }},
    };
}

// One hostile client: the first `prefix` steps of the dialogue, then the
// ending. Empty when the server behaved.
std::string hostileRun(RunningServer& zebd, const Dialogue& d, std::size_t prefix, const Ending& e, Peer p)
{
    try {
        p.socket = connectTo(zebd.port());
        for (std::size_t i = 0; i < prefix; ++i) {
            d.steps[i].run(p);
        }
        const std::uint8_t next = prefix < d.steps.size() ? d.steps[prefix].code : CMD_ACK;
        try {
            e.act(p.socket, next);
        } catch (const Error& x) {
            if (x.code() == EPIPE || x.code() == ECONNRESET) {
                return {};  // the server hung up before taking it all
            }
            throw;
        }
        if (e.staysOpen && !droppedWithin(p.socket, DropBound)) {
            return "the server kept the connection open";
        }
        return {};
    } catch (const std::exception& x) {
        return x.what();
    }
}

class HostileClient : public ::testing::Test
{
protected:
    HostileClient()
        : zebd_(configure)
    {
        crypto::ensureGcrypt();
        // A cheap password hash: the cases log in by the hundred at once.
        zebd_.server().store().setOperator("123456", "demo", 1);
        publish(zebd_, "retorno.txt", "conteudo do retorno");
        // One upload so that the history has a row to send.
        UploadInput input;
        EXPECT_EQ(runUpload(zebd_.port(), input).final.value_or(Message{}).code, CMD_PROTOCOLO);
        expectServing(zebd_);
        // SQLite keeps the descriptor of a closed read-only connection for
        // the next one while the server's connection holds its locks.
        expectStoreWhole(zebd_);
        // The connections just closed end on the server side too.
        std::this_thread::sleep_for(SettleWait);
        baseline_ = openDescriptors();
    }

    void expectUnharmed()
    {
        expectNoConnectionHeld(baseline_);
        expectServing(zebd_);
        expectStoreWhole(zebd_);
    }

    RunningServer zebd_;
    std::size_t baseline_ = 0;
};

// Every valid prefix of every exchange, cut off by each hostile ending; the
// cases of one exchange run at once.
TEST_F(HostileClient, BrokenOffExchangesLeaveTheServerWhole)
{
    std::atomic<int> nextOperator{700000};
    for (const Dialogue& d : dialogues()) {
        struct Case
        {
            std::string name;
            std::future<std::string> outcome;
        };
        std::vector<Case> cases;
        for (const Ending& e : endings()) {
            for (std::size_t prefix = 0; prefix <= d.steps.size(); ++prefix) {
                Peer p;
                if (std::string(d.name) == "password change") {
                    // A password changed by one case must not refuse the next.
                    p.registro = std::to_string(nextOperator++);
                    zebd_.server().store().setOperator(p.registro, "demo", 1);
                }
                const std::string after = prefix == 0 ? "nothing" : d.steps[prefix - 1].name;
                cases.push_back(Case{std::string(d.name) + ", after " + after + ": " + e.name,
                                     std::async(std::launch::async, [&, &d = d, e, prefix, p = std::move(p)]() mutable {
                                         return hostileRun(zebd_, d, prefix, e, std::move(p));
                                     })});
            }
        }
        for (Case& c : cases) {
            EXPECT_EQ(c.outcome.get(), "") << c.name;
        }
        SCOPED_TRACE(d.name);
        expectUnharmed();
    }
}

// Connections that send only noise, of every length, some closing at once,
// some staying open.
TEST_F(HostileClient, RandomBytesOnTheMessagePort)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::vector<std::future<std::string>> runs;
    for (int i = 0; i < 120; ++i) {
        const std::size_t size = 1 + rng() % (i % 2 == 0 ? 16 : 8192);
        auto bytes = noise(rng, size);
        const bool stayOpen = i % 3 == 0;
        runs.push_back(std::async(std::launch::async, [this, bytes = std::move(bytes), stayOpen] {
            try {
                platform::TcpSocket s = connectTo(zebd_.port());
                sendRaw(s, bytes);
                if (stayOpen && !droppedWithin(s, DropBound)) {
                    return std::string("the server kept the connection open");
                }
                return std::string();
            } catch (const Error& e) {
                // The server may close while the noise is still being written.
                return e.code() == ECONNRESET || e.code() == EPIPE ? std::string() : std::string(e.what());
            }
        }));
    }
    for (auto& r : runs) {
        EXPECT_EQ(r.get(), "");
    }
    expectUnharmed();
}

// Many connections on both ports opened at once, some with half a message
// or half a command line, then all dropped, half of them with a reset.
TEST_F(HostileClient, ManyConnectionsOpenedAndDroppedAtOnce)
{
    std::vector<platform::TcpSocket> sockets;
    // More than the server serves at once: the last ones are refused.
    for (int i = 0; i < 600; ++i) {
        const bool ftp = i % 2 == 1;
        platform::TcpSocket s = connectTo(ftp ? zebd_.ftpPort() : zebd_.port());
        try {
            if (i % 3 == 0) {
                const auto half = header(CMD_PEDIDO_ENVIO, 50);
                const std::string line = "USER ABC";
                sendRaw(s,
                        ftp ? std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size())
                            : std::span<const std::uint8_t>(half));
            }
        } catch (const Error&) {
            // refused beyond the connection bound: the server closed it already
        }
        sockets.push_back(std::move(s));
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        if (i % 2 == 0) {
            abort(sockets[i]);
        } else {
            sockets[i].close();
        }
    }
    sockets.clear();
    expectUnharmed();
}

// A burst of clients connecting at the same moment, more than a small
// listen queue holds but within the server's bound on sessions: every one is
// answered.
TEST_F(HostileClient, ABurstOfClientsIsServed)
{
    std::vector<std::future<std::string>> clients;
    std::promise<void> go;
    const std::shared_future<void> start = go.get_future().share();
    for (int i = 0; i < 60; ++i) {
        clients.push_back(std::async(std::launch::async, [this, start] {
            start.wait();
            platform::TcpSocket s = connectTo(zebd_.port());
            sendFrame(s, CMD_TIPOS_ENVIO, {});
            return readFrame(s, ReplyWait).text();
        }));
    }
    go.set_value();
    const std::string expected = platform::toWin1252(zebd_.server().store().tiposEnvio());
    for (auto& c : clients) {
        EXPECT_EQ(c.get(), expected);
    }
    expectUnharmed();
}

// ---------------------------------------------------------------------------
// The FTP face.

std::string enc(const std::string& text)
{
    return crypto::EncryptProtocolText(text);
}

struct FtpCase
{
    const char* name;
    bool login;                      // log in with valid credentials first
    std::vector<std::string> lines;  // sent as they are, each followed by CRLF
    std::string lastReply;           // the code of the last reply line; "" when the server closes
};

// The code of the last complete reply line, or "" when the server closed
// without one after the lines were sent.
std::string ftpRun(RunningServer& zebd, const server::DownloadCredentials& login, const FtpCase& c)
{
    platform::TcpSocket s = connectTo(zebd.ftpPort());
    std::string received;
    std::string last;
    std::size_t seen = 0;
    bool closed = false;
    // Reads reply lines until `count` more arrived or the server closed.
    const auto replies = [&](std::size_t count) {
        std::array<std::uint8_t, 4096> buffer{};
        while (!closed && count > 0) {
            const auto end = received.find("\r\n", seen);
            if (end != std::string::npos) {
                const std::string line = received.substr(seen, end - seen);
                seen = end + 2;
                if (line.size() >= 4 && line[3] == ' ') {
                    last = line.substr(0, 3);
                    --count;
                }
                continue;
            }
            try {
                const std::size_t n = s.readSome(buffer, DropBound);
                closed = n == 0;
                received.append(reinterpret_cast<const char*>(buffer.data()), n);
            } catch (const Error& e) {
                if (e.code() != ECONNRESET) {
                    throw;
                }
                closed = true;
            }
        }
    };
    const auto send = [&](const std::string& line) {
        const std::string bytes = line + "\r\n";
        try {
            sendRaw(s, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        } catch (const Error&) {
            closed = true;  // the server hung up before taking it all
        }
    };
    replies(1);  // greeting
    if (c.login) {
        send("USER " + enc(login.user));
        send("PASS " + enc(login.password));
        replies(2);
        if (last != "230") {
            return "login: " + last;
        }
    }
    for (const auto& line : c.lines) {
        last.clear();
        send(line);
        replies(1);
        if (closed) {
            break;
        }
    }
    if (!closed && c.lastReply.empty()) {
        // The server is expected to hang up; nothing more is sent.
        if (!droppedWithin(s, DropBound)) {
            return "still open";
        }
        closed = true;
    }
    return closed && c.lastReply.empty() ? std::string() : last;
}

TEST_F(HostileClient, FtpFaceTakesMalformedAndHostileCommands)
{
    const auto login = zebd_.server().store().issueDownloadCredentials("123456", std::chrono::hours(1));
    std::mt19937 rng(5);
    const auto noiseText = [&rng](std::size_t n) {
        std::string out;
        for (const auto b : noise(rng, n)) {
            out += b == '\n' ? 'x' : static_cast<char>(b);
        }
        return out;
    };
    const std::string longLine(100 * 1024, 'A');
    const std::vector<FtpCase> cases{
        {"noise lines", false, {noiseText(50), noiseText(3000), noiseText(1)}, "502"},
        {"NUL bytes in a command", false, {std::string("US\0ER x", 7)}, "502"},
        {"an empty line", false, {""}, "502"},
        {"a line longer than any command, without end", false, {longLine}, ""},
        {"PASS before USER", false, {"PASS " + enc("x")}, "503"},
        {"three failed logins", false, {"USER A", "PASS B", "USER A", "PASS B", "USER A", "PASS B"}, ""},
        {"USER and PASS as noise", false, {"USER " + noiseText(200), "PASS " + noiseText(200)}, "530"},
        {"RETR before the login", false, {"RETR " + enc("a|b|c|d|e|f|g")}, "530"},
        {"PORT with five numbers", true, {"PORT 127,0,0,1,4"}, "501"},
        {"PORT with numbers beyond a byte", true, {"PORT 127,0,0,1,300,1"}, "501"},
        {"PORT with signs and blanks", true, {"PORT 127,0,0,1,-4,+1", "PORT  , , , , , "}, "501"},
        {"PORT to a system port", true, {"PORT 127,0,0,1,0,21"}, "501"},
        {"PORT to another host", true, {"PORT 10,0,0,1,100,1"}, "501"},
        {"RETR of noise", true, {"RETR " + noiseText(500)}, "550"},
        {"RETR without PORT of nothing", true, {"RETR"}, "550"},
        {"RETR with fields of bars only", true, {"RETR " + enc("||||||||||")}, "550"},
        {"RETR with a huge identifier", true, {"RETR " + enc("123456|demo|a|99999999999999999999|RET|x|y")}, "550"},
        {"end notice with too few fields", true, {"RETR " + enc("ENDFILE ")}, "550"},
        {"end notice of a file never sent", true, {"RETR " + enc("ENDFILE 123456|a|RET|1|" + login.identifier)}, "550"},
        {"SIZE of bars", true, {"SIZE " + enc("|||||||")}, "550"},
        {"TYPE of noise", true, {"TYPE " + noiseText(30)}, "504"},
        {"silence after the greeting", false, {}, ""},
    };
    std::vector<std::future<std::string>> runs;
    for (const auto& c : cases) {
        runs.push_back(std::async(std::launch::async, [&, &c = c] {
            try {
                return ftpRun(zebd_, login, c);
            } catch (const std::exception& e) {
                return std::string(e.what());
            }
        }));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(runs[i].get(), cases[i].lastReply) << cases[i].name;
    }
    expectUnharmed();
}

}  // namespace
}  // namespace vek::test
