#pragma once

#include "ftp/TZEBFileStream.h"
#include "platform/Error.h"
#include "platform/Socket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vek::ftp {

enum TIdFTPTransferType : int
{
    ftASCII = 0,
    ftBinary = 1,
};

// Only the two kinds of proxy login the download meets; the client refuses
// any other value.
enum TIdFtpProxyType : int
{
    fpcmNone = 0,
    fpcmTransparent = 5,
};

struct TIdFtpProxySettings
{
    TIdFtpProxyType ProxyType = fpcmNone;
    std::string Host;
    std::string UserName;
    std::string Password;
    int Port = 0;
};

// One FTP reply: the three-digit code and its text lines.
struct FtpReply
{
    int code = 0;
    std::vector<std::string> text;

    // The text lines joined with line feeds.
    [[nodiscard]] std::string joinedText() const;
};

// A reply whose code the command did not allow. what() is the reply's text.
class FtpReplyError : public Error
{
public:
    explicit FtpReplyError(const FtpReply& reply)
        : Error(reply.joinedText(), 0)
        , reply_(reply)
    {}
    [[nodiscard]] const FtpReply& reply() const { return reply_; }

private:
    FtpReply reply_;
};

// Waits of the client that are not published properties. Tests shorten them.
struct FtpWaits
{
    // One connection attempt; longer than the system's own limit, so that one applies.
    std::chrono::milliseconds connect{std::chrono::minutes(3)};
    // Disconnect reads the QUIT reply only when it is readable this soon.
    std::chrono::milliseconds quitReply{10};
    // The data listener's poll interval and its limit for the server to connect back.
    std::chrono::milliseconds acceptPoll{1000};
    std::chrono::milliseconds dataConnection{15000};
    // A data connection silent for this long fails the transfer (0: no limit).
    // A TransferTimeout above 0 takes its place.
    std::chrono::milliseconds dataInactivity{60000};
};

// The FTP client (RFC 959) of the download: one control connection, login,
// one file fetched over an active-mode data connection, one more command,
// QUIT. Blocking calls on the caller's thread; one transfer at a time per object.
//
// How the download drives it:
//   TZebFTP ftp;
//   ftp.ReadTimeout = 6000; ftp.DataPort = ftp.DataPortMin = ftp.DataPortMax = 20001;
//   ftp.TransferType = ftBinary; ftp.ProxySettings.ProxyType = fpcmTransparent;
//   ftp.Host = ...; ftp.Username = ...; ftp.Password = ...;
//   ftp.reportarDownload = [&](std::int32_t p, const std::string& t) { canal.ReportarDownload(p, t); };
//   ftp.TamanhoEsperadoKB = expected size in KB;   // RecebidoKB starts at 0
//   ftp.Connect(); ftp.RetrieveFile(request, tmpPath); ftp.SendCommand(notice); ftp.Disconnect();
class TZebFTP
{
public:
    TZebFTP() = default;
    // Closes the control connection without QUIT; call Disconnect first for a clean end.
    ~TZebFTP();
    TZebFTP(const TZebFTP&) = delete;
    TZebFTP& operator=(const TZebFTP&) = delete;

    // --- published properties ---
    std::string Host;
    int Port = 21;
    std::string Username;
    std::string Password;
    std::string Account;
    bool AutoLogin = true;
    int DataPort = 0;     // local port of the data listener (0: the range below, or any free port)
    int DataPortMin = 0;  // range tried when DataPort is 0
    int DataPortMax = 0;
    std::string ExternalIP;  // announced in PORT instead of the listener's address when set
    TIdFTPTransferType TransferType = ftBinary;
    std::int32_t TransferTimeout = 0;  // ms per data read; 0: waits.dataInactivity applies
    std::int32_t ReadTimeout = 60000;  // ms per control-connection line; 0 or less: no limit
    TIdFtpProxySettings ProxySettings;

    // Only active mode is carried: SetPassive(true) fails.
    [[nodiscard]] bool Passive() const { return false; }
    void SetPassive(bool passive);

    // Progress of a transfer, in the channel's ReportarDownload form: percent
    // -1 for a text-only report. An empty function is skipped.
    std::function<void(std::int32_t percent, const std::string& text)> reportarDownload;

    // The expected size of the file in kilobytes, and the kilobytes counted so
    // far (whole kilobytes of each write). The caller sets both before
    // RetrieveFile; ReportTransferProgress advances RecebidoKB. An expected
    // size of 0 or less is an unknown size: progress then shows the kilobytes
    // received.
    std::int32_t TamanhoEsperadoKB = 0;
    std::int32_t RecebidoKB = 0;
    // Every write of a transfer, with the bytes written so far in it; for
    // displays that measure the speed. An empty function is skipped.
    std::function<void(std::int64_t bytes)> onBytesReceived;

    // The most a transfer may deliver: with a known expected size, twice that
    // size and 64 KB more (the listed size is rounded in its own unit, so a
    // real file may be well off it, never twice as large); with an unknown
    // size, no bound. A transfer that goes past it fails with
    // ExcessDataMessage, keeping only the bytes up to the bound.
    [[nodiscard]] std::int64_t LimiteBytes() const;
    static constexpr const char* ExcessDataMessage =
        "<<CANAL_ZEB>> O servidor da ZEB enviou mais dados do que o tamanho informado para o arquivo. "
        "Download interrompido.";

    FtpWaits waits;
    // Lets the window process its events during every wait of the sockets.
    bool eventPump = false;

    // --- operations ---
    // Opens the control connection, reads the greeting (220) and, with
    // AutoLogin, logs in and asks SYST (and SITE ZONE where offered). On any
    // failure the connection is closed (after QUIT) and the error goes on.
    void Connect();
    void Login();
    // Fetches remoteName into localPath (replaced) over an active-mode data connection.
    void RetrieveFile(const std::string& remoteName, const std::string& localPath);
    // Writes one command line and reads one reply; returns its code. Fails with
    // FtpReplyError when allowed is not empty and does not hold the code.
    int SendCommand(const std::string& line, const std::vector<int>& allowed = {});
    // Reads one reply (continuation lines included); returns its code.
    int ReadReply();
    // QUIT (its reply read only when it arrives within waits.quitReply), then
    // close. The connection is closed also when QUIT fails; that error goes on.
    void Disconnect();
    // The OnWrite handler of the file stream.
    void ReportTransferProgress(TZEBFileStream& sender, std::int64_t count);

    // --- state ---
    [[nodiscard]] bool connected() const { return control_.connected(); }
    [[nodiscard]] const FtpReply& greeting() const { return greeting_; }
    [[nodiscard]] const FtpReply& lastReply() const { return lastReply_; }
    [[nodiscard]] const std::vector<std::string>& capabilities() const { return capabilities_; }
    [[nodiscard]] const FtpReply& systemDescription() const { return systemDescription_; }
    // Minutes east of UTC as the server reported them to SITE ZONE, if asked.
    [[nodiscard]] std::optional<int> serverTimeZoneOffset() const { return timeZoneOffset_; }

private:
    void writeLine(const std::string& line);
    std::string readLine();
    void checkAllowed(const std::vector<int>& allowed) const;
    void report(std::int32_t percent, const std::string& text) const;
    void disconnectQuietly() noexcept;
    bool serverHasSiteZone() const;
    void transferActive(const std::string& command, TZEBFileStream& stream);
    [[nodiscard]] std::chrono::milliseconds lineTimeout() const;

    platform::TcpSocket control_;
    std::string inBuffer_;
    FtpReply greeting_;
    FtpReply lastReply_;
    FtpReply systemDescription_;
    std::vector<std::string> capabilities_;
    std::optional<int> timeZoneOffset_;
    std::int32_t lastUnknownSizeReportKB_ = -1;
};

// "#,##0.00"-style text of a whole number with the given separators (an empty
// thousands separator means no grouping).
std::string
formatGrouped(std::int64_t value, int decimals, const std::string& decimalPoint, const std::string& thousandsSep);
// The same with the separators of the program's current numeric locale.
std::string formatGroupedLocale(std::int64_t value, int decimals);
// Nearest integer, halves to the even neighbour.
double roundHalfEven(double x);

}  // namespace vek::ftp
