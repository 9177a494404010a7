#include "crypto/TBlowfishQv.h"
#include "crypto/TDecryptFile.h"
#include "dataset/ListTable.h"
#include "ftp/TZebFTP.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "server/ListRows.h"
#include "server/Store.h"
#include "tests/fixtures/Process.h"
#include "tests/server/ServerTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace vek::test {
namespace {

using namespace std::chrono_literals;

constexpr auto ReplyWait = 5s;

std::string enc(const std::string& utf8)
{
    return crypto::EncryptProtocolText(platform::toWin1252(utf8));
}

// Bytes that differ from one position to the next, so a lost or repeated piece shows.
std::string patternBytes(std::size_t size)
{
    std::string out(size, '\0');
    std::uint32_t x = 0x2545F491u;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return out;
}

std::string decipher(const std::filesystem::path& enciphered, const std::string& key)
{
    const auto plain = enciphered.string() + ".claro";
    crypto::TDecryptFile d;
    d.SetArquivoOriginal(enciphered.string());
    d.SetArquivoDestino(plain);
    d.SetSenha(key);
    d.UsarSenha = true;
    d.ExcecaoErro = true;
    d.Executar();
    return readFile(plain);
}

// The texts of the download, field for field.
struct Request
{
    std::string registro = "123456";
    std::string senha = "demo";
    std::string nome;
    std::string id;
    std::string tipo = "RET";
    std::string caminho;
    std::string identificador;

    [[nodiscard]] std::string text() const
    {
        return registro + "|" + senha + "|" + nome + "|" + id + "|" + tipo + "|" + caminho + "|" + identificador;
    }
    [[nodiscard]] std::string notice() const
    {
        return "ENDFILE " + registro + "|" + nome + "|" + tipo + "|" + id + "|" + identificador;
    }
};

Request requestFor(const server::AvailableFile& f, const server::DownloadCredentials& login)
{
    Request r;
    r.nome = f.fileName;
    r.id = std::to_string(f.id);
    r.tipo = f.fileType;
    r.caminho = server::serverPathOf(f);
    r.identificador = login.identifier;
    return r;
}

struct FtpClient
{
    FtpClient(RunningServer& zebd, const std::string& user, const std::string& password)
    {
        ftp.Host = "127.0.0.1";
        ftp.Port = zebd.ftpPort();
        ftp.Username = enc(user);
        ftp.Password = enc(password);
        ftp.ReadTimeout = 5000;
        ftp.waits.quitReply = 1000ms;
    }
    ftp::TZebFTP ftp;
};

// A control connection typed by hand, for what the download client never sends.
class Control
{
public:
    explicit Control(std::uint16_t port)
        : socket_(connectTo(port))
    {
        greeting = read();
    }
    // The reply's last line (the one with the code and a blank).
    std::string send(const std::string& line)
    {
        const std::string bytes = line + "\r\n";
        socket_.writeAll(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), ReplyWait);
        return read();
    }
    std::string read()
    {
        for (;;) {
            const auto end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                if (line.size() >= 4 && line[3] == ' ') {
                    return line;
                }
                continue;
            }
            std::uint8_t chunk[512];
            const std::size_t n = socket_.readSome(chunk, ReplyWait);
            if (n == 0) {
                return "(fechada)";
            }
            buffer_.append(reinterpret_cast<const char*>(chunk), n);
        }
    }
    void login(const server::DownloadCredentials& c)
    {
        ASSERT_EQ(send("USER " + enc(c.user)).substr(0, 3), "331");
        ASSERT_EQ(send("PASS " + enc(c.password)).substr(0, 3), "230");
    }

    std::string greeting;

private:
    platform::TcpSocket socket_;
    std::string buffer_;
};

// The whole download as the program runs it: the list query through the real
// channel gives the row and the login; the real FTP client logs in with the
// enciphered credentials, fetches the file over an active-mode data
// connection and sends the end-of-file notice. The bytes decipher with the
// listed key to the published file, and the list then shows the download.
TEST(FtpFace, ServesTheListedFileAndRecordsTheNotice)
{
    RunningServer zebd;
    const std::string content = patternBytes(700 * 1024 + 3);
    const auto published = publish(zebd, "retorno.bin", content, "RET", "03/2026");

    ClientOf client(zebd);
    std::string listPath;
    ASSERT_EQ(client.listar("RET", listPath), "");
    dataset::ListTable table;
    table.load(listPath);
    const auto row = table.findById(std::to_string(published.id));
    ASSERT_TRUE(row.has_value());

    FtpClient c(zebd, client.canal.UsuarioDownload, client.canal.SenhaDownload);
    c.ftp.Connect();
    EXPECT_EQ(c.ftp.greeting().code, 220);
    EXPECT_EQ(c.ftp.capabilities(), std::vector<std::string>{"SIZE"});
    EXPECT_EQ(c.ftp.systemDescription().code, 215);
    Request r;
    r.nome = table.asText(*row, "NM_ARQUIVO");
    r.id = table.asText(*row, "ID_ARQUIVO_DISPONIVEL");
    r.tipo = table.asText(*row, "CD_TIPO_ARQUIVO");
    r.caminho = table.asText(*row, "DE_PATH_ARQUIVO");
    r.identificador = client.canal.IdentificadorDownload;
    const auto local = client.box.path() / "retorno.tmp";
    c.ftp.RetrieveFile(enc(r.text()), local.string());
    EXPECT_EQ(c.ftp.lastReply().code, 226);
    EXPECT_EQ(c.ftp.SendCommand("RETR " + enc(r.notice())), 226);
    c.ftp.Disconnect();

    EXPECT_EQ(std::filesystem::file_size(local), content.size() + 1);
    EXPECT_EQ(decipher(local, table.asText(*row, "CD_CHAVE_CRIPTOGRAFIA")), content);
    EXPECT_FALSE(zebd.server().store().availableFile(published.id)->lastDownload.empty());
    ASSERT_EQ(client.listar("RET", listPath), "");
    table.load(listPath);
    EXPECT_NE(table.asText(*table.findById(r.id), "ULT_DOWNLOAD"), "");
}

// Every field of the request is checked against the login and the store; a
// mismatch is a plain 550 with no data connection.
TEST(FtpFace, RequestsThatDoNotMatchAreRefused)
{
    RunningServer zebd;
    zebd.server().store().setOperator("654321", "outra");
    const auto mine = publish(zebd, "meu.xml", "<meu/>");
    const auto theirs = publish(zebd, "deles.xml", "<deles/>", "RET", {}, "654321");
    const auto login = zebd.server().store().issueDownloadCredentials("123456", 1h);
    const auto otherLogin = zebd.server().store().issueDownloadCredentials("654321", 1h);
    const Request good = requestFor(mine, login);

    struct Case
    {
        const char* name;
        Request request;
    };
    std::vector<Case> cases;
    const auto with = [&](const char* name, auto change) {
        Request r = good;
        change(r);
        cases.push_back({name, r});
    };
    with("wrong password", [](Request& r) { r.senha = "errada"; });
    with("another operator", [](Request& r) { r.registro = "654321"; });
    with("another query's identifier", [&](Request& r) { r.identificador = otherLogin.identifier; });
    with("another operator's file", [&](Request& r) { r = requestFor(theirs, login); });
    with("unknown file", [](Request& r) { r.id = "999"; });
    with("wrong type", [](Request& r) { r.tipo = "REL"; });
    with("wrong server path", [](Request& r) { r.caminho = "disponiveis/../zeb.sqlite3"; });
    with("wrong name", [](Request& r) { r.nome = "outro.xml"; });
    with("identifier that is no number", [](Request& r) { r.id = "1 OR 1=1"; });

    FtpClient c(zebd, login.user, login.password);
    c.ftp.Connect();
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        try {
            c.ftp.RetrieveFile(enc(k.request.text()), (zebd.dataDir() / "x.tmp").string());
            ADD_FAILURE() << "served";
        } catch (const ftp::FtpReplyError& e) {
            EXPECT_EQ(e.reply().code, 550);
        }
    }
    // The same connection still serves the file the login may have.
    c.ftp.RetrieveFile(enc(good.text()), (zebd.dataDir() / "x.tmp").string());
    EXPECT_EQ(decipher(zebd.dataDir() / "x.tmp", mine.cipherKey), "<meu/>");
    c.ftp.Disconnect();
}

// A notice for a file this connection did not send records nothing.
TEST(FtpFace, ANoticeWithoutTheTransferIsRefused)
{
    RunningServer zebd;
    const auto f = publish(zebd, "meu.xml", "<meu/>");
    const auto login = zebd.server().store().issueDownloadCredentials("123456", 1h);
    Control control(zebd.ftpPort());
    control.login(login);
    EXPECT_EQ(control.send("RETR " + enc(requestFor(f, login).notice())).substr(0, 3), "550");
    EXPECT_TRUE(zebd.server().store().availableFile(f.id)->lastDownload.empty());
}

TEST(FtpFace, LoginNeedsTheCredentialsOfAListQuery)
{
    RunningServer zebd;
    auto& store = zebd.server().store();
    const auto login = store.issueDownloadCredentials("123456", 1h);
    const auto expired = store.issueDownloadCredentials("123456", 0s);
    struct Case
    {
        const char* name;
        std::string user;
        std::string password;
    };
    const std::array cases{
        Case{"wrong password", login.user, "errada"},
        Case{"unknown user", "ninguem", login.password},
        Case{"the operator's own password", "123456", "demo"},
        Case{"expired", expired.user, expired.password},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        FtpClient c(zebd, k.user, k.password);
        try {
            c.ftp.Connect();
            ADD_FAILURE() << "logged in";
        } catch (const ftp::FtpReplyError& e) {
            EXPECT_EQ(e.reply().code, 530);
        }
        EXPECT_FALSE(c.ftp.connected());
    }
    // Credentials that arrive in the clear are not the enciphered ones.
    Control control(zebd.ftpPort());
    EXPECT_EQ(control.send("USER " + login.user).substr(0, 3), "331");
    EXPECT_EQ(control.send("PASS " + login.password).substr(0, 3), "530");
    EXPECT_EQ(control.send("RETR " + enc("x")).substr(0, 3), "530");
    // A few failures end the connection.
    EXPECT_EQ(control.send("USER a").substr(0, 3), "331");
    EXPECT_EQ(control.send("PASS b").substr(0, 3), "530");
    EXPECT_EQ(control.send("USER a").substr(0, 3), "331");
    EXPECT_EQ(control.send("PASS b").substr(0, 3), "421");
}

std::string portArgument(std::uint16_t port)
{
    return "127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

// The data connection only ever goes back to the address the control
// connection came from, and never to a system port.
TEST(FtpFace, PortTowardsAnotherAddressIsRefused)
{
    RunningServer zebd;
    const auto f = publish(zebd, "meu.xml", "<meu/>");
    const auto login = zebd.server().store().issueDownloadCredentials("123456", 1h);
    platform::TcpListener data;
    data.listen("127.0.0.1", 0);
    Control control(zebd.ftpPort());
    EXPECT_EQ(control.greeting.substr(0, 3), "220");
    EXPECT_EQ(control.send("PORT " + portArgument(data.localPort())).substr(0, 3), "530");
    control.login(login);
    struct Case
    {
        const char* name;
        std::string argument;
        const char* code;
    };
    const std::array cases{
        Case{"another host", "10,0,0,5,78,33", "501"},
        Case{"another loopback address", "127,0,0,2,78,33", "501"},
        Case{"a system port", "127,0,0,1,0,25", "501"},
        Case{"five numbers", "127,0,0,1,78", "501"},
        Case{"a number above 255", "127,0,0,1,300,1", "501"},
        Case{"the peer itself", portArgument(data.localPort()), "200"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(control.send("PORT " + k.argument).substr(0, 3), k.code);
    }
    const std::string retr = "RETR " + enc(requestFor(f, login).text());
    // A refused PORT also drops the accepted one before it: nothing is connected.
    EXPECT_EQ(control.send("PORT 10,0,0,5,78,33").substr(0, 3), "501");
    EXPECT_EQ(control.send(retr).substr(0, 3), "425");
    EXPECT_FALSE(data.accept(200ms).connected());

    EXPECT_EQ(control.send("PORT " + portArgument(data.localPort())).substr(0, 3), "200");
    EXPECT_EQ(control.send(retr).substr(0, 3), "150");
    platform::TcpSocket incoming = data.accept(ReplyWait);
    ASSERT_TRUE(incoming.connected());
    std::string bytes;
    std::uint8_t chunk[4096];
    while (const std::size_t n = incoming.readSome(chunk, ReplyWait)) {
        bytes.append(reinterpret_cast<const char*>(chunk), n);
    }
    EXPECT_EQ(control.read().substr(0, 3), "226");
    EXPECT_EQ(bytes, readFile(f.storedPath));
    // Each PORT serves one transfer.
    EXPECT_EQ(control.send(retr).substr(0, 3), "425");
    EXPECT_EQ(control.send("TYPE A").substr(0, 3), "504");
    EXPECT_EQ(control.send("PASV").substr(0, 3), "502");
    EXPECT_EQ(control.send("QUIT").substr(0, 3), "221");
}

std::string programInPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const auto candidate = std::filesystem::path(dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return {};
}

// An FTP client nobody here wrote, in active mode, fetches a file with the
// enciphered login and request; the bytes decipher to the published file.
TEST(FtpFace, CurlDownloadsInActiveMode)
{
    const std::string curl = programInPath("curl");
    if (curl.empty()) {
        GTEST_SKIP() << "curl is not installed";
    }
    RunningServer zebd;
    const std::string content = patternBytes(2 * 1024 * 1024 + 17);
    const auto f = publish(zebd, "conferencia.csv", content, "CNF");
    const auto login = zebd.server().store().issueDownloadCredentials("123456", 1h);
    const auto out = zebd.dataDir() / "curl.cpt";
    const ProcessResult r =
        runProcess({curl,
                    "-s",
                    "-S",
                    "--max-time",
                    "60",
                    "-P",
                    "127.0.0.1",
                    "--disable-eprt",
                    "--user",
                    enc(login.user) + ":" + enc(login.password),
                    "ftp://127.0.0.1:" + std::to_string(zebd.ftpPort()) + "/" + enc(requestFor(f, login).text()),
                    "-o",
                    out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(decipher(out, f.cipherKey), content);
}

}  // namespace
}  // namespace vek::test
