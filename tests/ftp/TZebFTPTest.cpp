#include "ftp/TZebFTP.h"

#include "ftp/TZebSimpleServer.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/fixtures/FakeFtpServer.h"
#include "tests/ftp/FtpTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <initializer_list>
#include <utility>

namespace vek::ftp {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::FakeFtpServer;
using test::FtpScript;
using test::FtpStep;
using test::Sandbox;
using Lines = std::vector<std::string>;

const char* const Waiting1 = "Aguardando conexão do servidor da ZEB...";
const char* const Waiting2 = "Aguardando dados do arquivo...";

struct Report
{
    std::int32_t percent;
    std::string text;
    bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Report& r)
{
    return os << "(" << r.percent << ", \"" << r.text << "\")";
}

// Replies and texts are formatted under the C locale unless a test says otherwise.
class FtpTest : public ::testing::Test
{
protected:
    void SetUp() override { std::setlocale(LC_ALL, "C"); }

    // A client for the fake server with short waits; the data listener takes a free port.
    void configure(TZebFTP& ftp, const FakeFtpServer& server)
    {
        ftp.Host = "127.0.0.1";
        ftp.Port = server.port();
        ftp.Username = "usuario";
        ftp.Password = "senha";
        ftp.ReadTimeout = 2000;
        ftp.ProxySettings.ProxyType = fpcmTransparent;
        ftp.waits.acceptPoll = 50ms;
        ftp.waits.dataConnection = 2000ms;
        ftp.waits.dataInactivity = 3000ms;
        ftp.reportarDownload = [this](std::int32_t p, const std::string& t) { reports.push_back({p, t}); };
    }

    std::vector<Report> reports;
};

FtpScript with(FtpScript s, std::initializer_list<FtpStep> more)
{
    s.insert(s.end(), more);
    return s;
}

// Greeting, USER 331, PASS 230, a four-line FEAT, TYPE I, SYST.
FtpScript loggedIn()
{
    return {FtpStep::reply("220 Servidor FTP pronto\r\n"),
            FtpStep::command("USER usuario"),
            FtpStep::reply("331 Senha, por favor\r\n"),
            FtpStep::command("PASS senha"),
            FtpStep::reply("230 Bem-vindo\r\n"),
            FtpStep::command("FEAT"),
            FtpStep::reply("211-Extensions supported:\r\n MDTM\r\n SIZE\r\n211 End\r\n"),
            FtpStep::command("TYPE I"),
            FtpStep::reply("200 Type set to I\r\n"),
            FtpStep::command("SYST"),
            FtpStep::reply("215 UNIX Type: L8\r\n")};
}

const Lines LoginCommands{"USER usuario", "PASS senha", "FEAT", "TYPE I", "SYST"};

Lines plus(Lines a, std::initializer_list<std::string> more)
{
    a.insert(a.end(), more);
    return a;
}

// --- replies -----------------------------------------------------------------

TEST_F(FtpTest, ReadReplyFollowsTheContinuationRules)
{
    struct Case
    {
        const char* name;
        std::string raw;
        int code;
        Lines text;
    };
    const std::array<Case, 8> cases{{
        {.name = "one line", .raw = "200 OK\r\n", .code = 200, .text = {"OK"}},
        {.name = "same code on every line",
         .raw = "211-First\r\n211-Second\r\n211 End\r\n",
         .code = 211,
         .text = {"First", "Second", "End"}},
        {.name = "continuation lines without the code lose their leading blanks",
         .raw = "214-Help\r\n   USER PASS\r\nRETR\r\n214 Done\r\n",
         .code = 214,
         .text = {"Help", "USER PASS", "RETR", "Done"}},
        {.name = "last line is the three digits alone",
         .raw = "211-Features\r\n MDTM\r\n211\r\n",
         .code = 211,
         .text = {"Features", "MDTM", ""}},
        {.name = "a line of digits and a blank ends the reply, whatever its code",
         .raw = "250-First\r\n123 other code\r\n",
         .code = 250,
         .text = {"First", "123 other code"}},
        {.name = "four digits do not end the reply",
         .raw = "200-Start\r\n2001 still going\r\n200 End\r\n",
         .code = 200,
         .text = {"Start", " still going", "End"}},
        {.name = "one or two digits alone end the reply",
         .raw = "230-Welcome\r\n42\r\n",
         .code = 230,
         .text = {"Welcome", "42"}},
        {.name = "empty lines before a blank-padded first line, bare line feeds",
         .raw = "\r\n\n   220 Ready   \n",
         .code = 220,
         .text = {"Ready"}},
    }};

    FtpScript script{FtpStep::reply("220 ok\r\n")};
    for (const Case& c : cases) {
        script.push_back(FtpStep::command("NOOP"));
        script.push_back(FtpStep::reply(c.raw));
    }
    FakeFtpServer server(script);
    TZebFTP ftp;
    configure(ftp, server);
    ftp.AutoLogin = false;
    ftp.Connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each reply must end exactly where the rules say, or the next one is read out of step.
        EXPECT_EQ(ftp.SendCommand("NOOP"), c.code);
        EXPECT_EQ(ftp.lastReply().text, c.text);
    }
    EXPECT_TRUE(server.problems().empty());
}

TEST_F(FtpTest, EveryReplyLineHasItsOwnTimeLimit)
{
    struct Case
    {
        const char* name;
        std::chrono::milliseconds gap;
        bool fails;
    };
    // Four lines 800 ms apart take 2.4 s in all, more than the limit of 2 s
    // per line; each gap leaves 1.2 s for a busy machine. The late line is
    // far later than the limit, so a client that starts reading late still
    // waits out its limit first.
    const std::array<Case, 2> cases{{
        {.name = "each line within the limit", .gap = 800ms, .fails = false},
        {.name = "one line late", .gap = 10s, .fails = true},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFtpServer server({FtpStep::reply("220 ok\r\n"),
                              FtpStep::command("HELP"),
                              FtpStep::reply("214-a\r\n"),
                              FtpStep::pause(c.gap),
                              FtpStep::reply("214-b\r\n"),
                              FtpStep::pause(c.gap),
                              FtpStep::reply("214-c\r\n"),
                              FtpStep::pause(c.gap),
                              FtpStep::reply("214 d\r\n")});
        TZebFTP ftp;
        configure(ftp, server);
        ftp.AutoLogin = false;
        ftp.ReadTimeout = 2000;
        ftp.Connect();
        if (c.fails) {
            try {
                ftp.SendCommand("HELP");
                FAIL() << "a line that came after the limit was accepted";
            } catch (const Error& e) {
                EXPECT_EQ(e.code(), ETIMEDOUT) << e.what();
            }
        } else {
            EXPECT_EQ(ftp.SendCommand("HELP"), 214);
            EXPECT_EQ(ftp.lastReply().text, (Lines{"a", "b", "c", "d"}));
        }
    }
}

TEST_F(FtpTest, ServerClosingWhileAReplyIsAwaitedFailsTheCommand)
{
    FakeFtpServer server(
        {FtpStep::reply("220 ok\r\n"), FtpStep::command("NOOP"), FtpStep::reply("200-half\r\n"), FtpStep::close()});
    TZebFTP ftp;
    configure(ftp, server);
    ftp.AutoLogin = false;
    ftp.Connect();
    try {
        ftp.SendCommand("NOOP");
        FAIL() << "a reply cut off by the close passed";
    } catch (const Error& e) {
        // The close itself ends the wait, not the time limit.
        EXPECT_STREQ(e.what(), "Erro de leitura: a conexão foi encerrada pelo outro lado");
        EXPECT_EQ(e.code(), 0);
    }
}

TEST_F(FtpTest, SendCommandChecksTheAllowedCodes)
{
    FakeFtpServer server({FtpStep::reply("220 ok\r\n"),
                          FtpStep::command("RETR AAAB"),
                          FtpStep::reply("550-Arquivo\r\n550 inexistente\r\n"),
                          FtpStep::command("RETR AAAC"),
                          FtpStep::reply("550 inexistente\r\n")});
    TZebFTP ftp;
    configure(ftp, server);
    ftp.AutoLogin = false;
    ftp.Connect();
    // Any code: the end-of-file notice of the download.
    EXPECT_EQ(ftp.SendCommand("RETR AAAB"), 550);
    try {
        ftp.SendCommand("RETR AAAC", {200});
        FAIL() << "a refused command passed";
    } catch (const FtpReplyError& e) {
        EXPECT_STREQ(e.what(), "inexistente");
        EXPECT_EQ(e.reply().code, 550);
    }
    // A line break inside a command would smuggle a second command to the server.
    EXPECT_THROW(ftp.SendCommand("RETR x\r\nDELE y"), Error);
    ftp.Disconnect();
    EXPECT_EQ(server.finish(), (Lines{"RETR AAAB", "RETR AAAC", "QUIT"}));
}

// --- connect and login ------------------------------------------------------

TEST_F(FtpTest, LoginSequences)
{
    struct Case
    {
        const char* name;
        FtpScript script{};
        std::string account{};
        TIdFTPTransferType type = ftBinary;
        Lines commands{};
        Lines capabilities{};
        std::optional<int> zone{};
    };
    const FtpStep feat500 = FtpStep::reply("500 FEAT not understood\r\n");
    const std::vector<Case> cases{
        {.name = "331 then 230, four-line FEAT",
         .script = loggedIn(),
         .commands = LoginCommands,
         .capabilities = {"MDTM", "SIZE"}},
        {.name = "FEAT refused in one line",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("331 ok\r\n"),
                    FtpStep::command("PASS"),
                    FtpStep::reply("230 ok\r\n"),
                    FtpStep::command("FEAT"),
                    feat500,
                    FtpStep::command("TYPE I"),
                    FtpStep::reply("200 ok\r\n"),
                    FtpStep::command("SYST"),
                    FtpStep::reply("215 UNIX\r\n")},
         .commands = LoginCommands},
        {.name = "USER 230 sends no PASS",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("230 ok\r\n"),
                    FtpStep::command("FEAT"),
                    feat500,
                    FtpStep::command("TYPE I"),
                    FtpStep::reply("200 ok\r\n"),
                    FtpStep::command("SYST"),
                    FtpStep::reply("215 UNIX\r\n")},
         .commands = {"USER usuario", "FEAT", "TYPE I", "SYST"}},
        {.name = "USER 232 sends no PASS",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("232 ok\r\n"),
                    FtpStep::command("FEAT"),
                    feat500,
                    FtpStep::command("TYPE I"),
                    FtpStep::reply("200 ok\r\n"),
                    FtpStep::command("SYST"),
                    FtpStep::reply("215 UNIX\r\n")},
         .commands = {"USER usuario", "FEAT", "TYPE I", "SYST"}},
        {.name = "PASS 332 sends the account",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("331 ok\r\n"),
                    FtpStep::command("PASS"),
                    FtpStep::reply("332 Need account\r\n"),
                    FtpStep::command("ACCT"),
                    FtpStep::reply("230 ok\r\n"),
                    FtpStep::command("FEAT"),
                    feat500,
                    FtpStep::command("TYPE I"),
                    FtpStep::reply("200 ok\r\n"),
                    FtpStep::command("SYST"),
                    FtpStep::reply("215 UNIX\r\n")},
         .account = "conta",
         .commands = {"USER usuario", "PASS senha", "ACCT conta", "FEAT", "TYPE I", "SYST"}},
        {.name = "ASCII type",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("230 ok\r\n"),
                    FtpStep::command("FEAT"),
                    feat500,
                    FtpStep::command("TYPE A"),
                    FtpStep::reply("200 ok\r\n"),
                    FtpStep::command("SYST"),
                    FtpStep::reply("215 UNIX\r\n")},
         .type = ftASCII,
         .commands = {"USER usuario", "FEAT", "TYPE A", "SYST"}},
        {.name = "SITE ZONE offered in FEAT",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("230 ok\r\n"),
                    FtpStep::command("FEAT"),
                    FtpStep::reply("211-Features\r\n SIZE\r\n SITE PSWD;ZONE;SET\r\n211 End\r\n"),
                    FtpStep::command("TYPE I"),
                    FtpStep::reply("200 ok\r\n"),
                    FtpStep::command("SYST"),
                    FtpStep::reply("215 UNIX\r\n"),
                    FtpStep::command("SITE ZONE"),
                    FtpStep::reply("210 UTC-180\r\n")},
         .commands = {"USER usuario", "FEAT", "TYPE I", "SYST", "SITE ZONE"},
         .capabilities = {"SIZE", "SITE PSWD;ZONE;SET"},
         .zone = -180},
        {.name = "SITE ZONE by the server's greeting",
         .script = {FtpStep::reply("220 Serv-U FTP Server v6.4 ready\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("230 ok\r\n"),
                    FtpStep::command("FEAT"),
                    feat500,
                    FtpStep::command("TYPE I"),
                    FtpStep::reply("200 ok\r\n"),
                    FtpStep::command("SYST"),
                    FtpStep::reply("215 UNIX\r\n"),
                    FtpStep::command("SITE ZONE"),
                    FtpStep::reply("500 no\r\n")},
         .commands = {"USER usuario", "FEAT", "TYPE I", "SYST", "SITE ZONE"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFtpServer server(c.script);
        TZebFTP ftp;
        configure(ftp, server);
        ftp.Account = c.account;
        ftp.TransferType = c.type;
        ftp.Connect();
        EXPECT_TRUE(ftp.connected());
        EXPECT_EQ(ftp.greeting().code, 220);
        EXPECT_EQ(ftp.capabilities(), c.capabilities);
        EXPECT_EQ(ftp.serverTimeZoneOffset(), c.zone);
        EXPECT_EQ(ftp.systemDescription().code, 215);
        ftp.Disconnect();
        EXPECT_EQ(server.finish(), plus(c.commands, {"QUIT"}));
        EXPECT_TRUE(server.problems().empty());
    }
}

TEST_F(FtpTest, ConnectFailuresCloseTheConnection)
{
    struct Case
    {
        const char* name;
        FtpScript script;
        std::string message;
        Lines commands;
    };
    const std::vector<Case> cases{
        {.name = "greeting other than 220",
         .script = {FtpStep::reply("421 Too many users\r\n")},
         .message = "Too many users",
         .commands = {"QUIT"}},
        {.name = "user refused",
         .script = {FtpStep::reply("220 ok\r\n"), FtpStep::command("USER"), FtpStep::reply("530 Not allowed\r\n")},
         .message = "Not allowed",
         .commands = {"USER usuario", "QUIT"}},
        {.name = "password refused",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("331 ok\r\n"),
                    FtpStep::command("PASS"),
                    FtpStep::reply("530 Login incorrect\r\n")},
         .message = "Login incorrect",
         .commands = {"USER usuario", "PASS senha", "QUIT"}},
        {.name = "account asked for, none set",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("331 ok\r\n"),
                    FtpStep::command("PASS"),
                    FtpStep::reply("332 Need account\r\n")},
         .message = "Need account",
         .commands = {"USER usuario", "PASS senha", "QUIT"}},
        {.name = "binary type refused",
         .script = {FtpStep::reply("220 ok\r\n"),
                    FtpStep::command("USER"),
                    FtpStep::reply("230 ok\r\n"),
                    FtpStep::command("FEAT"),
                    FtpStep::reply("500 no\r\n"),
                    FtpStep::command("TYPE I"),
                    FtpStep::reply("504 Type not implemented\r\n")},
         .message = "Type not implemented",
         .commands = {"USER usuario", "FEAT", "TYPE I", "QUIT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFtpServer server(c.script);
        TZebFTP ftp;
        configure(ftp, server);
        try {
            ftp.Connect();
            FAIL() << "Connect passed";
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), c.message);
        }
        EXPECT_FALSE(ftp.connected());
        EXPECT_EQ(server.finish(), c.commands);
    }
}

TEST_F(FtpTest, RefusedConnectionCarriesTheSystemErrorCode)
{
    platform::TcpListener closed;
    closed.listen("127.0.0.1", 0);
    const std::uint16_t port = closed.localPort();
    closed.close();

    TZebFTP ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = port;
    try {
        ftp.Connect();
        FAIL() << "connected to a closed port";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ECONNREFUSED) << e.what();
    }
    EXPECT_FALSE(ftp.connected());
}

TEST_F(FtpTest, UnsupportedModesAreRefused)
{
    TZebFTP ftp;
    EXPECT_THROW(ftp.SetPassive(true), Error);
    EXPECT_NO_THROW(ftp.SetPassive(false));
    EXPECT_FALSE(ftp.Passive());

    // Refused before any connection is tried: nothing listens on the port.
    ftp.Host = "127.0.0.1";
    ftp.Port = 1;
    ftp.ProxySettings.ProxyType = static_cast<TIdFtpProxyType>(3);
    try {
        ftp.Connect();
        FAIL() << "an unsupported proxy type passed";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), EINVAL) << e.what();
    }
}

// --- transfers --------------------------------------------------------------

TEST_F(FtpTest, TransferWritesEveryPieceAndReportsProgress)
{
    const std::string content = test::patternBytes(70000);
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 PORT ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("150 Opening BINARY mode data connection\r\n"),
                               FtpStep::sendData(content, {32768, 32768, 4464}, 100ms),
                               FtpStep::reply("226 Transfer complete\r\n")}));
    Sandbox dir{false};
    const auto local = (dir.path() / "arquivo.tmp").string();
    test::writeFile(local, std::string(100000, 'x'));  // a stale, longer file of that name

    TZebFTP ftp;
    configure(ftp, server);
    ftp.TamanhoEsperadoKB = 68;
    ftp.Connect();
    ftp.RetrieveFile("ABCDEFGHIJKLMNOP", local);
    EXPECT_EQ(ftp.lastReply().code, 226);
    ftp.Disconnect();

    EXPECT_EQ(test::readFile(local), content);
    // 32 + 32 + 4: the 368 bytes below a whole kilobyte of the last piece are not counted.
    EXPECT_EQ(ftp.RecebidoKB, 68);
    // 32 KB of 68 is 47 % (percent 10 + 33), 64 KB is 94 % (10 + 66), 68 KB is 100 % (10 + 70).
    EXPECT_EQ(reports,
              (std::vector<Report>{{-1, Waiting1},
                                   {-1, Waiting2},
                                   {43, "Recebendo dados do arquivo: 47.00%"},
                                   {76, "Recebendo dados do arquivo: 94.00%"},
                                   {80, "Recebendo dados do arquivo: 100.00%"}}));
    const Lines commands = server.finish();
    ASSERT_EQ(commands.size(), LoginCommands.size() + 3);
    EXPECT_EQ(commands[LoginCommands.size() + 1], "RETR ABCDEFGHIJKLMNOP");
    EXPECT_TRUE(server.problems().empty());
}

TEST_F(FtpTest, PortCommandNamesTheAnnouncedAddressAndPort)
{
    struct Case
    {
        const char* name;
        std::string externalIp;
        std::string address;
    };
    const std::array<Case, 2> cases{{
        {.name = "listener's own address", .externalIp = "", .address = "127,0,0,1,"},
        {.name = "external address", .externalIp = "10.0.0.5", .address = "10,0,0,5,"},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A data port picked from the free ones; another program may take it
        // before the listener binds it, and then another one is picked.
        bool done = false;
        for (int attempt = 0; attempt < 10 && !done; ++attempt) {
            platform::TcpListener probe;
            probe.listen("127.0.0.1", 0);
            const int dataPort = probe.localPort();
            probe.close();
            const std::string p1p2 = std::to_string(dataPort / 256) + "," + std::to_string(dataPort % 256);

            FakeFtpServer server(
                with(loggedIn(), {FtpStep::command("PORT"), FtpStep::reply("500 Illegal PORT command\r\n")}));
            Sandbox dir{false};
            TZebFTP ftp;
            configure(ftp, server);
            ftp.DataPort = ftp.DataPortMin = ftp.DataPortMax = dataPort;
            ftp.ExternalIP = c.externalIp;
            ftp.Connect();
            try {
                ftp.RetrieveFile("X", (dir.path() / "x.tmp").string());
                ADD_FAILURE() << "a refused PORT passed";
            } catch (const FtpReplyError&) {
                done = true;
            } catch (const Error& e) {
                if (e.code() != EADDRINUSE) {
                    throw;
                }
            }
            ftp.Disconnect();
            const auto commands = server.finish();
            if (done) {
                EXPECT_EQ(commands, plus(LoginCommands, {"PORT " + c.address + p1p2, "QUIT"}));
            }
        }
        EXPECT_TRUE(done) << "no free data port could be held";
    }
}

TEST_F(FtpTest, RefusedRetrFailsWithItsTextAndReadsNoFinalReply)
{
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("550 Arquivo não encontrado.\r\n"),
                               FtpStep::command("NOOP"),
                               FtpStep::reply("200 NOOP ok\r\n")}));
    Sandbox dir{false};
    TZebFTP ftp;
    configure(ftp, server);
    ftp.Connect();
    try {
        ftp.RetrieveFile("X", (dir.path() / "x.tmp").string());
        FAIL() << "a refused RETR passed";
    } catch (const FtpReplyError& e) {
        EXPECT_STREQ(e.what(), "Arquivo não encontrado.");
    }
    EXPECT_EQ(ftp.lastReply().code, 550);
    // The control connection is still in step.
    EXPECT_EQ(ftp.SendCommand("NOOP", {200}), 200);
    ftp.Disconnect();
    server.finish();
    EXPECT_TRUE(server.problems().empty());
}

// A transfer is bounded by the expected size: a real file off its rounded
// listed size passes, a server that goes on sending is cut off at the bound
// (twice the size and 64 KB), with only the bytes up to it kept.
TEST_F(FtpTest, TransferIsBoundedByTheExpectedSize)
{
    struct Case
    {
        const char* name;
        std::int32_t expectedKB;
        std::size_t sent;
        bool passes;
    };
    const std::array cases{
        Case{"somewhat larger than listed", 1, 1700, true},
        Case{"just at the bound", 1, (2 + 64) * 1024, true},
        Case{"one byte past the bound", 1, (2 + 64) * 1024 + 1, false},
        Case{"listed as 1 KB, sending 9 MB", 1, 9 * 1024 * 1024, false},
        Case{"unknown size", 0, 300000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content = test::patternBytes(c.sent);
        FakeFtpServer server(with(loggedIn(),
                                  {FtpStep::command("PORT"),
                                   FtpStep::reply("200 ok\r\n"),
                                   FtpStep::command("RETR"),
                                   FtpStep::reply("150 ok\r\n"),
                                   FtpStep::sendData(content, {content.size()}, 0ms),
                                   FtpStep::reply(c.passes ? "226 ok\r\n" : "426 Transfer aborted\r\n")}));
        Sandbox dir{false};
        const auto local = (dir.path() / "x.tmp").string();
        TZebFTP ftp;
        configure(ftp, server);
        ftp.TamanhoEsperadoKB = c.expectedKB;
        ftp.Connect();
        if (c.passes) {
            ftp.RetrieveFile("X", local);
            EXPECT_EQ(test::readFile(local), content);
        } else {
            try {
                ftp.RetrieveFile("X", local);
                ADD_FAILURE() << "the excess was accepted";
            } catch (const Error& e) {
                EXPECT_STREQ(e.what(), TZebFTP::ExcessDataMessage);
                EXPECT_EQ(e.code(), EFBIG);
            }
            EXPECT_EQ(test::readFile(local), content.substr(0, ftp.LimiteBytes()));
            EXPECT_EQ(ftp.lastReply().code, 426) << "the answer to the cut-off transfer was left unread";
        }
        ftp.Disconnect();
    }
}

TEST_F(FtpTest, ErrorReplyAfterTheDataFailsTheTransferWithTheFileWritten)
{
    const std::string content = test::patternBytes(70000);
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("150 ok\r\n"),
                               FtpStep::sendData(content, {70000}, 0ms),
                               FtpStep::reply("426 Connection closed; transfer aborted.\r\n")}));
    Sandbox dir{false};
    const auto local = (dir.path() / "x.tmp").string();
    TZebFTP ftp;
    configure(ftp, server);
    ftp.TamanhoEsperadoKB = 68;
    ftp.Connect();
    try {
        ftp.RetrieveFile("X", local);
        FAIL() << "a transfer answered 426 passed";
    } catch (const FtpReplyError& e) {
        EXPECT_STREQ(e.what(), "Connection closed; transfer aborted.");
    }
    EXPECT_EQ(test::readFile(local), content);
}

TEST_F(FtpTest, ServerThatNeverConnectsFailsWithTheWaitMessage)
{
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("150 ok\r\n"),
                               FtpStep::command("NOOP"),
                               FtpStep::reply("200 ok\r\n")}));
    Sandbox dir{false};
    TZebFTP ftp;
    configure(ftp, server);
    ftp.waits.dataConnection = 300ms;
    ftp.Connect();
    try {
        ftp.RetrieveFile("X", (dir.path() / "x.tmp").string());
        FAIL() << "a transfer without a data connection passed";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), TZebSimpleServer::WaitFailedMessage);
    }
    // No final reply was awaited after the failed wait: the next reply read
    // is the answer to NOOP (a wait would have failed on the read time-out).
    EXPECT_EQ(ftp.lastReply().code, 150);
    EXPECT_EQ(ftp.SendCommand("NOOP"), 200);
    EXPECT_TRUE(std::filesystem::exists((dir.path() / "x.tmp").string()));
    ftp.Disconnect();
    server.finish();
    EXPECT_TRUE(server.problems().empty());
}

// On the real clock: the wait is the kernel's, in one-second polls.
using RealTimeFtpTest = FtpTest;
TEST_F(RealTimeFtpTest, ServerThatNeverConnectsFailsAfterFifteenSeconds)
{
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("150 ok\r\n")}));
    Sandbox dir{false};
    TZebFTP ftp;
    configure(ftp, server);
    ftp.waits = FtpWaits{};  // the program's waits
    ftp.Connect();
    const auto start = Clock::now();
    try {
        ftp.RetrieveFile("X", (dir.path() / "x.tmp").string());
        FAIL() << "a transfer without a data connection passed";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), TZebSimpleServer::WaitFailedMessage);
    }
    const auto waited = Clock::now() - start;
    // The first one-second poll that ends past 15 s; the upper figure only
    // guards against a wait that never ends.
    EXPECT_GE(waited, 15s);
    EXPECT_LT(waited, 120s);
}

TEST_F(FtpTest, BusyDataPortFailsBeforePortIsSent)
{
    platform::TcpListener holder;
    holder.listen("127.0.0.1", 0);
    FakeFtpServer server(loggedIn());
    Sandbox dir{false};
    TZebFTP ftp;
    configure(ftp, server);
    ftp.ReadTimeout = 3000;
    ftp.DataPort = ftp.DataPortMin = ftp.DataPortMax = holder.localPort();
    ftp.Connect();
    try {
        ftp.RetrieveFile("X", (dir.path() / "x.tmp").string());
        FAIL() << "the data listener bound a busy port";
    } catch (const Error& e) {
        // The bind failure itself reaches the caller, not a read time-out after it.
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
        EXPECT_EQ(e.code(), EADDRINUSE);
    }
    EXPECT_EQ(reports, (std::vector<Report>{{-1, Waiting1}}));
    ftp.Disconnect();
    EXPECT_EQ(server.finish(), plus(LoginCommands, {"QUIT"}));
}

TEST_F(FtpTest, SilentDataConnectionFailsAfterTheInactivityLimit)
{
    const std::string first = test::patternBytes(1000);
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("150 ok\r\n"),
                               FtpStep::holdData(first),
                               FtpStep::reply("426 Transfer aborted\r\n")}));
    Sandbox dir{false};
    const auto local = (dir.path() / "x.tmp").string();
    TZebFTP ftp;
    configure(ftp, server);
    // Long enough for the server's thread to send its first bytes on a busy
    // machine: the limit also counts the wait for them.
    ftp.waits.dataInactivity = 1500ms;
    ftp.Connect();
    try {
        ftp.RetrieveFile("X", local);
        FAIL() << "a silent data connection passed";
    } catch (const Error& e) {
        // The inactivity, not the server's answer to the abort, is what the user learns.
        EXPECT_STREQ(e.what(),
                     "<<CANAL_ZEB>> A conexão de dados com o servidor da ZEB ficou 1500 milissegundos sem receber "
                     "dados. Download interrompido.");
        EXPECT_EQ(e.code(), ETIMEDOUT);
    }
    EXPECT_EQ(ftp.lastReply().code, 426) << "the answer to the abort was left unread";
    EXPECT_EQ(test::readFile(local), first);
}

TEST_F(FtpTest, InactivityMessageCountsWholeSeconds)
{
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("150 ok\r\n"),
                               FtpStep::holdData("x"),
                               FtpStep::reply("426 no\r\n")}));
    Sandbox dir{false};
    TZebFTP ftp;
    configure(ftp, server);
    ftp.TransferTimeout = 1000;  // takes the place of the inactivity limit
    ftp.Connect();
    try {
        ftp.RetrieveFile("X", (dir.path() / "x.tmp").string());
        FAIL() << "a silent data connection passed";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "<<CANAL_ZEB>> A conexão de dados com o servidor da ZEB ficou 1 segundo sem receber dados. "
                     "Download interrompido.");
    }
}

TEST_F(FtpTest, UnknownExpectedSizeShowsTheKilobytesReceived)
{
    const std::string content = test::patternBytes(3 * 1024 * 1024 + 5000);
    std::vector<std::size_t> pieces(content.size() / 32768, 32768);
    pieces.push_back(content.size() % 32768);
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("150 ok\r\n"),
                               FtpStep::sendData(content, {content.size()}, 0ms),
                               FtpStep::reply("226 ok\r\n")}));
    Sandbox dir{false};
    const auto local = (dir.path() / "x.tmp").string();
    TZebFTP ftp;
    configure(ftp, server);
    ftp.TamanhoEsperadoKB = 0;
    ftp.Connect();
    ftp.RetrieveFile("X", local);
    EXPECT_EQ(test::readFile(local), content);
    ASSERT_GE(reports.size(), 4u);
    // Text-only reports, the first on the first piece, then one per megabyte at least.
    for (std::size_t i = 2; i < reports.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reports[i].percent, -1);
        EXPECT_EQ(reports[i].text.rfind("Recebendo dados do arquivo: ", 0), 0u);
        EXPECT_TRUE(reports[i].text.ends_with(" KB")) << reports[i].text;
    }
    EXPECT_LE(reports.size(), 2u + 4u);
}

TEST_F(FtpTest, PartlyStoredPieceFailsTheTransfer)
{
    const std::string content = test::patternBytes(70000);
    FakeFtpServer server(with(loggedIn(),
                              {FtpStep::command("PORT"),
                               FtpStep::reply("200 ok\r\n"),
                               FtpStep::command("RETR"),
                               FtpStep::reply("150 ok\r\n"),
                               FtpStep::sendData(content, {32768, 32768, 4464}, 50ms),
                               FtpStep::reply("226 Transfer complete\r\n")}));
    Sandbox dir{false};
    const auto local = (dir.path() / "x.tmp").string();
    TZebFTP ftp;
    configure(ftp, server);
    ftp.TamanhoEsperadoKB = 68;
    ftp.Connect();
    {
        // The second piece fits only in part, as on a disk that fills up.
        test::FileSizeLimit limit(50000);
        try {
            ftp.RetrieveFile("X", local);
            FAIL() << "a transfer whose file lost data passed";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), EFBIG) << e.what();
        }
    }
    EXPECT_EQ(test::readFile(local).size(), 50000u);
}

TEST_F(FtpTest, QuitReplyIsReadOnlyWhenItComesAtOnce)
{
    struct Case
    {
        const char* name;
        FtpScript tail;
        int lastCode;
    };
    const std::array<Case, 2> cases{{
        // Already in the client's buffer when QUIT is written: it came in the
        // same write as the reply to SYST, so no scheduling can delay it.
        {.name = "reply at once", .tail = {FtpStep::command("QUIT")}, .lastCode = 221},
        {.name = "slow reply",
         .tail = {FtpStep::command("QUIT"), FtpStep::pause(500ms), FtpStep::reply("221 Goodbye\r\n")},
         .lastCode = 215},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FtpScript script = loggedIn();
        if (c.lastCode == 221) {
            script.back() = FtpStep::reply("215 UNIX Type: L8\r\n221 Goodbye\r\n");
        }
        script.insert(script.end(), c.tail.begin(), c.tail.end());
        FakeFtpServer server(script);
        TZebFTP ftp;
        configure(ftp, server);
        ftp.Connect();
        ftp.Disconnect();
        // The last reply read tells whether Disconnect waited for the answer to QUIT.
        EXPECT_FALSE(ftp.connected());
        EXPECT_EQ(ftp.lastReply().code, c.lastCode);
        EXPECT_EQ(server.finish(), plus(LoginCommands, {"QUIT"}));
        EXPECT_TRUE(server.problems().empty());
    }
}

// --- progress -----------------------------------------------------------------

TEST_F(FtpTest, TransferProgressRounding)
{
    struct Case
    {
        const char* name;
        std::int32_t expectedKB;
        std::vector<std::int64_t> writes;
        std::int32_t receivedKB;
        Report last;
    };
    const std::vector<Case> cases{
        {.name = "32 KB of 1000: 3 %, percent 12",
         .expectedKB = 1000,
         .writes = {32768},
         .receivedKB = 32,
         .last = {12, "Recebendo dados do arquivo: 3.00%"}},
        {.name = "bytes below a kilobyte are not carried over",
         .expectedKB = 1000,
         .writes = {1023, 1023, 1023},
         .receivedKB = 0,
         .last = {10, "Recebendo dados do arquivo: 0.00%"}},
        {.name = "12.5 % rounds to 12",
         .expectedKB = 8,
         .writes = {1024},
         .receivedKB = 1,
         .last = {18, "Recebendo dados do arquivo: 12.00%"}},
        {.name = "37.5 % rounds to 38",
         .expectedKB = 8,
         .writes = {3072},
         .receivedKB = 3,
         .last = {37, "Recebendo dados do arquivo: 38.00%"}},
        {.name = "25 % gives 17.5, rounded to 18",
         .expectedKB = 4,
         .writes = {1024},
         .receivedKB = 1,
         .last = {28, "Recebendo dados do arquivo: 25.00%"}},
        {.name = "75 % gives 52.5, rounded to 52",
         .expectedKB = 4,
         .writes = {3072},
         .receivedKB = 3,
         .last = {62, "Recebendo dados do arquivo: 75.00%"}},
        {.name = "a file larger than listed goes past 100 %",
         .expectedKB = 10,
         .writes = {204800},
         .receivedKB = 200,
         .last = {1410, "Recebendo dados do arquivo: 2000.00%"}},
    };
    Sandbox dir{false};
    TZEBFileStream stream((dir.path() / "x.tmp").string());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reports.clear();
        TZebFTP ftp;
        ftp.reportarDownload = [this](std::int32_t p, const std::string& t) { reports.push_back({p, t}); };
        ftp.TamanhoEsperadoKB = c.expectedKB;
        for (const auto n : c.writes) {
            ftp.ReportTransferProgress(stream, n);
        }
        EXPECT_EQ(ftp.RecebidoKB, c.receivedKB);
        ASSERT_EQ(reports.size(), c.writes.size());
        EXPECT_EQ(reports.back(), c.last);
    }
}

TEST(FormatGrouped, UsesTheGivenSeparators)
{
    struct Case
    {
        const char* name;
        std::int64_t value;
        int decimals;
        const char* point;
        const char* sep;
        const char* text;
    };
    const std::array<Case, 8> cases{{
        {.name = "decimal comma", .value = 3, .decimals = 2, .point = ",", .sep = ".", .text = "3,00"},
        {.name = "three digits, no group", .value = 100, .decimals = 2, .point = ",", .sep = ".", .text = "100,00"},
        {.name = "one group", .value = 2000, .decimals = 2, .point = ",", .sep = ".", .text = "2.000,00"},
        {.name = "two groups", .value = 1234567, .decimals = 0, .point = ",", .sep = ".", .text = "1.234.567"},
        {.name = "six digits", .value = 123456, .decimals = 2, .point = ".", .sep = ",", .text = "123,456.00"},
        {.name = "no separator", .value = 1234, .decimals = 2, .point = ".", .sep = "", .text = "1234.00"},
        {.name = "multibyte separator",
         .value = 12345,
         .decimals = 2,
         .point = ",",
         .sep = "\u202f",
         .text = "12\u202f345,00"},
        {.name = "negative", .value = -1234, .decimals = 2, .point = ".", .sep = ",", .text = "-1,234.00"},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(formatGrouped(c.value, c.decimals, c.point, c.sep), c.text);
    }
}

TEST(RoundHalfEven, RoundsHalvesToTheEvenNeighbour)
{
    const std::array<std::pair<double, double>, 8> cases{
        {{0.5, 0.0}, {1.5, 2.0}, {2.5, 2.0}, {3.5, 4.0}, {2.4999, 2.0}, {2.5001, 3.0}, {-0.5, 0.0}, {-1.5, -2.0}}};
    for (const auto& [x, expected] : cases) {
        SCOPED_TRACE(x);
        EXPECT_EQ(roundHalfEven(x), expected);
    }
}

}  // namespace
}  // namespace vek::ftp
