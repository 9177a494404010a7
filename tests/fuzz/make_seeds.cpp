// Writes the seed corpus of every fuzz target under <fuzz dir>/corpus/<target>/
// with the project's own writers: a demo zebd in this process answers the
// real client (both type lists, list and history queries, a download, a
// password change, an upload) through a relay that records both directions;
// the recorded bytes are the seeds of the client's and zebd's targets. The
// data packets, gzip files, parameter files and INI files come from their
// writers. zebd's RSA key is kept beside the corpus (chave-rsa.sexp, made
// once), so the recorded upload unwraps in the zebd session target.
//
//   vek_fuzz_seeds <fuzz dir>       (scripts/fuzz.sh --seeds)

#include "app/ParameterFile.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TCrc32.h"
#include "crypto/TDecryptFile.h"
#include "crypto/TGzip.h"
#include "dataset/DataPacket.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "platform/IniFile.h"
#include "server/ServerKey.h"
#include "server/Store.h"
#include "server/ZebServer.h"
#include "tests/fuzz/FuzzSupport.h"

#include <arpa/inet.h>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vek;
namespace fs = std::filesystem;

namespace {

// What went each way on one connection through the relay.
struct Conversation
{
    std::string fromClient;
    std::string fromServer;
};

// Accepts connections on a free loopback port and relays each to `target`,
// recording both directions.
class Relay
{
public:
    explicit Relay(std::uint16_t target)
        : target_(target)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            throw std::runtime_error("relay: cannot listen");
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~Relay()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    [[nodiscard]] std::uint16_t port() const { return port_; }
    // The conversations finished so far, forgotten here.
    std::vector<Conversation> take()
    {
        // A conversation ends when both sides have closed; give the last one time to.
        for (int i = 0; i < 200 && busy_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard lock(mutex_);
        return std::exchange(done_, {});
    }

private:
    void run()
    {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            busy_ = true;
            const int server = fuzz::connectLoopback(target_);
            Conversation c;
            if (server >= 0) {
                pump(client, server, c);
                ::close(server);
            }
            ::close(client);
            {
                std::lock_guard lock(mutex_);
                done_.push_back(std::move(c));
            }
            busy_ = false;
        }
    }

    static void pump(int client, int server, Conversation& c)
    {
        bool clientOpen = true;
        bool serverOpen = true;
        char buffer[65536];
        while (clientOpen || serverOpen) {
            pollfd p[2] = {{client, static_cast<short>(clientOpen ? POLLIN : 0), 0},
                           {server, static_cast<short>(serverOpen ? POLLIN : 0), 0}};
            if (::poll(p, 2, 20000) <= 0) {
                return;
            }
            if (clientOpen && (p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    clientOpen = false;
                    ::shutdown(server, SHUT_WR);
                } else {
                    c.fromClient.append(buffer, static_cast<std::size_t>(n));
                    ::send(server, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
                }
            }
            if (serverOpen && (p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    serverOpen = false;
                    ::shutdown(client, SHUT_WR);
                } else {
                    c.fromServer.append(buffer, static_cast<std::size_t>(n));
                    ::send(client, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
                }
            }
        }
    }

    std::uint16_t target_;
    std::uint16_t port_ = 0;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> busy_{false};
    std::mutex mutex_;
    std::vector<Conversation> done_;
    std::thread thread_;
};

class Corpus
{
public:
    explicit Corpus(fs::path root)
        : root_(std::move(root))
    {}

    void add(const std::string& target, const std::string& name, std::string_view bytes)
    {
        const auto dir = root_ / target;
        fs::create_directories(dir);
        fuzz::writeFile(dir / name, bytes);
        std::cout << target << "/" << name << " (" << bytes.size() << " bytes)\n";
    }
    // A seed whose first byte chooses something in the target.
    void add(const std::string& target, const std::string& name, char selector, std::string_view bytes)
    {
        add(target, name, std::string(1, selector) + std::string(bytes));
    }

private:
    fs::path root_;
};

// The payload of the first frame of a stream.
std::string firstPayload(const std::string& stream)
{
    if (stream.size() < wire::HeaderSize) {
        return {};
    }
    const auto h = wire::decodeHeader(
        std::span<const std::uint8_t, wire::HeaderSize>(reinterpret_cast<const std::uint8_t*>(stream.data()), 5));
    return stream.substr(wire::HeaderSize, static_cast<std::size_t>(std::max(h.length, 0)));
}

Conversation only(Relay& relay, const char* what)
{
    auto all = relay.take();
    if (all.size() != 1) {
        throw std::runtime_error(std::string(what) + ": " + std::to_string(all.size()) + " connections instead of 1");
    }
    return all.front();
}

void exchangeSeeds(Corpus& corpus, const fs::path& work, const fs::path& keyFile)
{
    server::ServerConfig config;
    config.dataDir = work / "zeb-dados";
    fs::create_directories(config.dataDir);
    fs::copy_file(keyFile, config.dataDir / server::KeyFileName);
    config.messagePort = 0;
    config.ftpPort = 0;
    config.demo = true;
    server::ZebServer zebd;
    zebd.start(config);
    Relay messages(zebd.ports().mensagens);
    Relay ftp(zebd.ports().ftp);

    fuzz::writeFile(work / "vek.INI",
                    "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" + std::to_string(messages.port()) +
                        "\r\nPortaFTP=" + std::to_string(ftp.port()) + "\r\nPortaDados=0\r\nDepuracao=N\r\n");
    channel::TCanalZEBCliente client;
    client.CD_Operadora = "123456";
    client.Senha = "demo";

    std::string lista;
    client.ListarTiposArquivoEnvio(lista);
    const auto tiposEnvio = only(messages, "type list");
    client.ListarTiposArquivoDownload(lista);
    const auto tiposDownload = only(messages, "download type list");

    std::string listFile;
    client.ConsultarListaDownload("RET", "", "", listFile);
    const auto list = only(messages, "list query");
    try {
        std::string none;
        client.ConsultarListaDownload("RET", "01/1999", "", none);
    } catch (const Error&) {
    }
    const auto emptyList = only(messages, "empty list query");

    // The demo's history lies in the last days.
    const auto dayText = [](std::chrono::sys_days day) {
        const std::chrono::year_month_day d(day);
        char text[16];
        std::snprintf(text, sizeof text, "%02u/%02u/%04d", unsigned(d.day()), unsigned(d.month()), int(d.year()));
        return std::string(text);
    };
    const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    std::string historyFile;
    client.ConsultarHistoricoTx(
        dayText(today - std::chrono::days(30)), dayText(today + std::chrono::days(1)), historyFile);
    const auto history = only(messages, "history query");

    dataset::ListTable table;
    table.load(listFile);
    const auto row = [&](const char* field) { return table.asText(0, field); };
    const auto kb = static_cast<std::int32_t>(table.expectedSizeKb(0));
    client.ReceberArquivo(row("NM_ARQUIVO"),
                          row("DE_PATH_ARQUIVO"),
                          row("ID_ARQUIVO_DISPONIVEL"),
                          row("CD_TIPO_ARQUIVO"),
                          row("CD_CHAVE_CRIPTOGRAFIA"),
                          "",
                          kb);
    const auto download = only(ftp, "download");

    client.Senha = "errada";
    (void)client.AlterarSenha("nova");
    const auto passwordRefused = only(messages, "refused password change");
    client.Senha = "demo";
    (void)client.AlterarSenha("demo");
    const auto passwordChanged = only(messages, "password change");

    const auto toSend = work / "movimento.xml";
    fuzz::writeFile(toSend, "<?xml version=\"1.0\"?>\n<movimento lote=\"7\"><registro numero=\"1\"/></movimento>\n");
    crypto::TCrc32 crc;
    crc.Crc32FileName = toSend.string();
    client.HashArquivo = crc.Crc32Hex();
    client.Arquivo = toSend.string();
    client.SetTipo_Arquivo("XML");
    channel::TResultadoEnvio resultado;
    client.EnviarArquivo(resultado);
    const auto upload = only(messages, "upload");

    // The client's message reading: every server stream, with buffers of 5, 1225 and 15560 bytes.
    corpus.add("message_reading", "lista", '\0', list.fromServer);
    corpus.add("message_reading", "historico", '\x14', history.fromServer);
    corpus.add("message_reading", "envio", '\xff', upload.fromServer);
    corpus.add("message_reading", "tipos", '\x14', tiposEnvio.fromServer);

    corpus.add("list_history_query", "lista", '\0', list.fromServer);
    corpus.add("list_history_query", "lista-vazia-filtrada", '\x02', emptyList.fromServer);
    corpus.add("list_history_query", "historico", '\x01', history.fromServer);

    corpus.add("channel_operations", "tipos-envio", '\0', tiposEnvio.fromServer);
    corpus.add("channel_operations", "tipos-download", '\x01', tiposDownload.fromServer);
    corpus.add("channel_operations", "senha-recusada", '\x02', passwordRefused.fromServer);
    corpus.add("channel_operations", "senha-alterada", '\x02', passwordChanged.fromServer);
    corpus.add("channel_operations", "envio", '\x03', upload.fromServer);

    corpus.add("ftp_replies", "download", download.fromServer);

    // The download harness deciphers with its own key; the file is the one zebd served.
    const auto plain = work / "plain.txt";
    const auto enciphered = work / "cifrado.bin";
    fuzz::writeFile(plain, fuzz::readFile(work / "temp" / row("NM_ARQUIVO")));
    crypto::TEncryptFile cipher;
    cipher.SetArquivoOriginal(plain.string());
    cipher.SetArquivoDestino(enciphered.string());
    cipher.SetSenha("chave-do-arquivo");
    cipher.ExcecaoErro = true;
    cipher.Executar();
    corpus.add("download_session",
               "download",
               static_cast<char>(std::min(kb, 255)),
               download.fromServer + "\r\n--DADOS--\r\n" + fuzz::readFile(enciphered));

    corpus.add("zebd_session", "tipos-envio", '\0', tiposEnvio.fromClient);
    corpus.add("zebd_session", "lista", '\0', list.fromClient);
    corpus.add("zebd_session", "historico", '\0', history.fromClient);
    corpus.add("zebd_session", "senha", '\0', passwordChanged.fromClient);
    corpus.add("zebd_session", "envio", '\0', upload.fromClient);
    corpus.add("zebd_session", "ftp-download", '\x01', download.fromClient);

    corpus.add("zebd_request_fields", "lista", firstPayload(list.fromClient));
    corpus.add("zebd_request_fields", "historico", firstPayload(history.fromClient));
    corpus.add("zebd_request_fields", "envio", firstPayload(upload.fromClient));

    corpus.add("data_packet", "lista", '\0', fuzz::readFile(listFile));
    corpus.add("data_packet", "historico", '\x01', fuzz::readFile(historyFile));
}

void fileSeeds(Corpus& corpus, const fs::path& work)
{
    // A list packet in Windows-1252 with every field type, from the writer.
    std::vector<dataset::Row> rows;
    const auto& fields = dataset::ListTable::definition();
    dataset::Row row(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].computed) {
            continue;
        }
        switch (fields[i].type) {
        case dataset::FieldType::String:
        case dataset::FieldType::FixedString:
            row[i] = std::string(fields[i].size >= 4 ? "ação" : "a");
            break;
        case dataset::FieldType::Timestamp:
            row[i] = dataset::Timestamp{2026, 12, 9, 14, 5, 9, 0};
            break;
        case dataset::FieldType::Decimal:
            row[i] = *dataset::Decimal::parse("12.5");
            break;
        case dataset::FieldType::Boolean:
            break;
        }
    }
    rows.push_back(row);
    std::string packet = dataset::writeDataPacket(fields, rows);
    corpus.add("data_packet", "lista-escrita", '\0', packet);

    // gzip files from the gzip component.
    const auto source = work / "lista.xml";
    fuzz::writeFile(source, packet);
    for (const int level : {1, 9}) {
        crypto::TGzip gzip;
        gzip.FileSource = source.string();
        gzip.FileDestination = (work / "lista.xml.gz").string();
        gzip.CompressionLevel = level;
        gzip.GzipHeader.comment = level == 9;
        gzip.Comments = "lista";
        gzip.WindowOnError = false;
        if (gzip.Compress() != 0) {
            throw std::runtime_error("gzip failed");
        }
        const std::string gz = fuzz::readFile(work / "lista.xml.gz");
        corpus.add("gzip_expansion", "nivel-" + std::to_string(level), gz);
        corpus.add("zebd_upload_decoder", "blocos-1280-nivel-" + std::to_string(level), std::string("\xb6\0", 2) + gz);
    }
    const auto empty = work / "vazio.txt";
    fuzz::writeFile(empty, "");
    crypto::TGzip gzip;
    gzip.FileSource = empty.string();
    gzip.FileDestination = (work / "vazio.gz").string();
    gzip.WindowOnError = false;
    (void)gzip.Compress();
    corpus.add("gzip_expansion", "vazio", fuzz::readFile(work / "vazio.gz"));
    corpus.add("zebd_upload_decoder", "vazio-blocos-8", std::string("\x01\0", 2) + fuzz::readFile(work / "vazio.gz"));

    // Parameter files as gerar-parametros writes them.
    app::ParametrosEnvio p;
    p.formato = "1";
    p.registro = "123456";
    p.senha = "demo";
    p.arquivo = "/home/operadora/envios/movimento.xml";
    p.arquivoResposta = "resposta.xml";
    p.aplicacao = "SISOP";
    p.versao = "2.1";
    p.informacoes = "lote de maio";
    p.crcEsperado = "0A1B2C3D";
    corpus.add("parameter_file", "formato-1", app::cifrarParametros(p));
    p.formato = "2";
    p.crcEsperado.clear();
    p.hashEsperado = std::string(48, 'A');
    p.validacaoLivre = "validação livre";
    corpus.add("parameter_file", "formato-2-validacao", app::cifrarParametros(p));

    // vek.INI as the program and an integrator leave it.
    const auto ini = work / "vek.INI";
    fuzz::writeFile(ini, "; configuração do VEK\r\n[Outros]\r\nChave=valor\r\n");
    platform::IniFile file(ini);
    file.write("Defaults", "ServidorInternet", "zeb.example.org");
    file.write("Defaults", "PortaServico", "8080");
    file.write("Defaults", "Depuracao", "S");
    corpus.add("ini_reader", "vek", fuzz::readFile(ini));

    corpus.add("zebd_request_fields", "datas-e-meses", "01/2026|31/12/2025|29/02/2024|00/13/0000||");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: vek_fuzz_seeds <tests/fuzz directory>\n";
        return 2;
    }
    const fs::path fuzzDir = argv[1];
    try {
        const fs::path keyFile = fuzzDir / "chave-rsa.sexp";
        if (!fs::exists(keyFile)) {
            (void)server::ServerKey::loadOrCreate(keyFile, 1024);
        }
        fs::remove_all(fuzzDir / "corpus");
        Corpus corpus(fuzzDir / "corpus");
        const fs::path work = fuzz::scratchDir();
        exchangeSeeds(corpus, work, keyFile);
        fileSeeds(corpus, work);
    } catch (const std::exception& e) {
        std::cerr << "vek_fuzz_seeds: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
