#include "tests/server/ServerTestSupport.h"

#include "crypto/Gcrypt.h"
#include "crypto/TBlowfishQv.h"
#include "crypto/UploadPreparation.h"
#include "platform/Error.h"
#include "server/Availability.h"
#include "server/ServerKey.h"
#include "server/Store.h"
#include "wire/MessageCodes.h"

#include <gcrypt.h>
#include <zlib.h>

#include <stdexcept>

namespace vek::test {
namespace {

using namespace std::chrono_literals;

constexpr auto TestTimeout = 10s;
constexpr std::size_t BlockSize = 1280;

std::vector<std::uint8_t> gzipOf(const std::string& content)
{
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(content.size())) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = static_cast<uInt>(content.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    out.resize(z.total_out);
    return out;
}

}  // namespace

std::vector<std::uint8_t> wrapKey(const std::array<std::uint8_t, 16>& key,
                                  const std::vector<std::uint8_t>& modulus,
                                  const std::vector<std::uint8_t>& exponent)
{
    std::vector<std::uint8_t> x{0x07};
    x.insert(x.end(), key.begin(), key.end());
    gcry_mpi_t mx = nullptr;
    gcry_mpi_t mn = nullptr;
    gcry_mpi_t me = nullptr;
    gcry_mpi_scan(&mx, GCRYMPI_FMT_USG, x.data(), x.size(), nullptr);
    gcry_mpi_scan(&mn, GCRYMPI_FMT_USG, modulus.data(), modulus.size(), nullptr);
    gcry_mpi_scan(&me, GCRYMPI_FMT_USG, exponent.data(), exponent.size(), nullptr);
    gcry_mpi_t c = gcry_mpi_new(0);
    gcry_mpi_powm(c, mx, me, mn);
    unsigned char* buffer = nullptr;
    std::size_t length = 0;
    gcry_mpi_aprint(GCRYMPI_FMT_USG, &buffer, &length, c);
    std::vector<std::uint8_t> out(buffer, buffer + length);
    gcry_free(buffer);
    for (gcry_mpi_t m : {mx, mn, me, c}) {
        gcry_mpi_release(m);
    }
    return out;
}

std::vector<std::uint8_t> encipheredUpload(const std::array<std::uint8_t, 16>& key, const std::string& content)
{
    crypto::ensureGcrypt();
    crypto::UploadEncipherer encipherer(key);
    const auto gz = gzipOf(content);
    const auto body = encipherer.update(gz);
    std::vector<std::uint8_t> enciphered(body.begin(), body.end());
    const auto tail = encipherer.finish();
    enciphered.insert(enciphered.end(), tail.begin(), tail.end());
    return enciphered;
}

const std::filesystem::path& sharedServerKey()
{
    static Sandbox keyDir(false);
    static const std::filesystem::path file = [] {
        const auto path = keyDir.path() / server::KeyFileName;
        (void)server::ServerKey::loadOrCreate(path);
        return path;
    }();
    return file;
}

RunningServer::RunningServer(const std::function<void(server::ServerConfig&)>& adjust)
{
    std::filesystem::copy_file(sharedServerKey(), sandbox_.path() / server::KeyFileName);
    server::ServerConfig config;
    config.dataDir = sandbox_.path();
    config.messagePort = 0;
    config.ftpPort = 0;
    config.demo = true;
    // The operator and the lists only; a test that wants the demo files and
    // history turns demoContent back on.
    config.demoContent = false;
    config.timeouts.streamTimeout = TestTimeout;
    config.idleTimeout = TestTimeout;
    config.log = [this](const std::string& line) {
        std::lock_guard lock(logMutex_);
        log_.push_back(line);
    };
    if (adjust) {
        adjust(config);
    }
    server_.start(config);
}

RunningServer::~RunningServer()
{
    server_.stop();
}

std::vector<std::string> RunningServer::logLines() const
{
    std::lock_guard lock(logMutex_);
    return log_;
}

ClientOf::ClientOf(RunningServer& zebd)
{
    box.write("vek.INI",
              "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" + std::to_string(zebd.port()) +
                  "\r\nPortaFTP=" + std::to_string(zebd.ftpPort()) + "\r\nDepuracao=N\r\n");
    canal.CD_Operadora = "123456";
    canal.Senha = "demo";
    canal.timeouts.streamTimeout = TestTimeout;
    canal.timeouts.waitForData = TestTimeout;
    canal.timeouts.listPause = 0ms;
    canal.timeouts.downloadPause = 0ms;
}

std::string ClientOf::listar(const std::string& tipo,
                             std::string& arquivo,
                             const std::string& competencia,
                             const std::string& disponibilizacao)
{
    try {
        canal.ConsultarListaDownload(tipo, competencia, disponibilizacao, arquivo);
        return {};
    } catch (const Error& e) {
        return e.what();
    }
}

std::string ClientOf::historico(const std::string& inicio, const std::string& fim, std::string& arquivo)
{
    try {
        canal.ConsultarHistoricoTx(inicio, fim, arquivo);
        return {};
    } catch (const Error& e) {
        return e.what();
    }
}

std::vector<std::string> ClientOf::boxes() const
{
    std::vector<std::string> out;
    for (const auto& m : ui.messages()) {
        out.push_back(m.text);
    }
    return out;
}

server::AvailableFile publish(RunningServer& zebd,
                              const std::string& name,
                              const std::string& content,
                              const std::string& type,
                              const std::string& competence,
                              const std::string& registro)
{
    const auto dir = zebd.dataDir() / "origem";
    std::filesystem::create_directories(dir);
    writeFile(dir / name, content);
    return server::makeFileAvailable(
        zebd.server().store(), zebd.dataDir(), {registro, type, dir / name, "Arquivo " + name, competence, {}});
}

platform::TcpSocket connectTo(std::uint16_t port)
{
    platform::TcpSocket s;
    s.connect("127.0.0.1", port, TestTimeout);
    return s;
}

void sendFrame(platform::TcpSocket& socket, std::uint8_t code, std::span<const std::uint8_t> payload)
{
    wire::writeFrame(
        socket, wire::MontarMensagem(code, static_cast<std::int32_t>(payload.size()), payload), TestTimeout);
}

void sendText(platform::TcpSocket& socket, std::uint8_t code, const std::string& win1252)
{
    wire::writeFrame(socket, wire::frameOf(code, win1252), TestTimeout);
}

wire::Message receive(platform::TcpSocket& socket)
{
    return wire::readFrame(socket, TestTimeout);
}

bool closedByPeer(platform::TcpSocket& socket)
{
    std::array<std::uint8_t, 64> buffer{};
    try {
        // Whatever the server still had queued is read past; then the end.
        for (;;) {
            if (socket.readSome(buffer, TestTimeout) == 0) {
                return true;
            }
        }
    } catch (const Error& e) {
        return e.code() == ECONNRESET;
    }
}

UploadOutcome runUpload(std::uint16_t port, const UploadInput& input)
{
    using namespace wire;
    crypto::ensureGcrypt();
    UploadOutcome out;
    platform::TcpSocket s = connectTo(port);
    if (!input.validacao.empty()) {
        sendText(s, CMD_PRE_VALIDACAO, input.validacao);
    }
    const std::string request = "4.0.8|VEK|" + input.registro + "|" + input.tipo + "|Linux 6.1 (teste)|" + input.nome +
                                "|" + crypto::EncryptProtocolText(input.senha);
    sendText(s, CMD_PEDIDO_ENVIO, request);
    out.authorization = receive(s);
    if (out.authorization.code != CMD_ACEITO) {
        out.closedEarly = closedByPeer(s);
        return out;
    }
    Message m = receive(s);
    out.modulus = m.payload;
    m = receive(s);
    out.exponent = m.payload;

    std::array<std::uint8_t, 16> key{};
    gcry_randomize(key.data(), key.size(), GCRY_STRONG_RANDOM);
    std::vector<std::uint8_t> enciphered = encipheredUpload(key, input.content);

    try {
        sendFrame(s, CMD_CHAVE_SIMETRICA, wrapKey(input.wrappedKey.value_or(key), out.modulus, out.exponent));
        sendText(s, CMD_HASH_ARQUIVO, input.hash);
        out.replies.push_back(receive(s).code);
        const std::int32_t size = input.announced.value_or(static_cast<std::int32_t>(enciphered.size()));
        const auto u = static_cast<std::uint32_t>(size);
        const std::array<std::uint8_t, 4> sizeBytes{static_cast<std::uint8_t>(u),
                                                    static_cast<std::uint8_t>(u >> 8),
                                                    static_cast<std::uint8_t>(u >> 16),
                                                    static_cast<std::uint8_t>(u >> 24)};
        sendFrame(s, CMD_TAMANHO, sizeBytes);
        out.replies.push_back(receive(s).code);

        enciphered.insert(enciphered.end(), input.trailing.begin(), input.trailing.end());
        std::vector<std::uint8_t> together;
        std::size_t blocks = 0;
        for (std::size_t at = 0; at < enciphered.size(); at += BlockSize, ++blocks) {
            const std::size_t n = std::min(BlockSize, enciphered.size() - at);
            if (!input.blocksTogether) {
                sendFrame(s, CMD_BLOCO, std::span(enciphered).subspan(at, n));
                out.replies.push_back(receive(s).code);
                continue;
            }
            const auto frame =
                MontarMensagem(CMD_BLOCO, static_cast<std::int32_t>(n), std::span(enciphered).subspan(at, n));
            together.insert(together.end(), frame.begin(), frame.end());
        }
        for (int i = 0; i < input.emptyBlocksAfterData; ++i) {
            sendFrame(s, CMD_BLOCO, {});
            out.replies.push_back(receive(s).code);
        }
        if (input.blocksTogether) {
            const auto last = MontarMensagem(input.afterBlocks, 0);
            together.insert(together.end(), last.begin(), last.end());
            s.writeAll(together, std::chrono::seconds(30));
            for (std::size_t i = 0; i < blocks; ++i) {
                out.replies.push_back(receive(s).code);
            }
        } else {
            sendFrame(s, input.afterBlocks, {});
        }
        if (input.afterBlocks != CMD_FIM_DADOS) {
            out.closedEarly = closedByPeer(s);
            return out;
        }
        out.final = receive(s);
        if (out.final->code == CMD_PROTOCOLO) {
            sendFrame(s, CMD_ACK, {});
        }
    } catch (const Error&) {
        out.closedEarly = true;
    }
    return out;
}

}  // namespace vek::test
