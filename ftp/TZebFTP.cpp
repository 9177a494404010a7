#include "ftp/TZebFTP.h"

#include "ftp/TZebSimpleServer.h"
#include "platform/AsciiText.h"
#include "wire/UserMessage.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <string_view>

namespace vek::ftp {

// The excess-data text stays a C-string constant of the header; it still
// begins with the prefix every layer shares.
static_assert(std::string_view(TZebFTP::ExcessDataMessage).starts_with(wire::UserMessagePrefix));

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The data connection is read, and the file written, in pieces of this size.
constexpr std::size_t DataPieceSize = 32768;
// A reply line, and a whole reply, that grow beyond these are not FTP.
constexpr std::size_t MaxLineLength = 64 * 1024;
constexpr std::size_t MaxReplyLength = 1024 * 1024;
// Stands for "no limit" in a poll (below the 24.8 days that poll's int holds).
constexpr std::chrono::milliseconds NoLimit = std::chrono::hours(24 * 20);
// With an unknown expected size, a text-only report every this many kilobytes.
constexpr std::int32_t UnknownSizeReportStepKB = 1024;

constexpr std::array<int, 1> GreetingCodes{220};
constexpr std::array<int, 3> RetrCodes{125, 150, 154};

const char* const WaitingConnectionText = "Aguardando conexão do servidor da ZEB...";
const char* const WaitingDataText = "Aguardando dados do arquivo...";
const char* const ReceivingText = "Recebendo dados do arquivo: ";

// Greetings of servers known to answer SITE ZONE.
constexpr std::array<const char*, 4> SiteZoneGreetings{
    "Serv-U ", "BPFTP Server ", "TitanFTP server ", "Titan FTP Server "};

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

std::string trimLeft(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i])) {
        ++i;
    }
    return s.substr(i);
}

std::string trim(const std::string& s)
{
    std::string t = trimLeft(s);
    while (!t.empty() && isBlank(t.back())) {
        t.pop_back();
    }
    return t;
}

bool allDigits(const std::string& s, std::size_t count)
{
    if (s.size() < count) {
        return false;
    }
    return std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(count), [](unsigned char c) {
        return std::isdigit(c) != 0;
    });
}

// A line that ends a reply: one to three digits alone, or three digits and a blank.
bool endsReply(const std::string& line)
{
    if (!line.empty() && line.size() <= 3 && allDigits(line, line.size())) {
        return true;
    }
    return line.size() >= 4 && allDigits(line, 3) && line[3] == ' ';
}

bool contains(std::span<const int> codes, int code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

std::int32_t clampToInt32(double v)
{
    if (v >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (v <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(v);
}

std::string portCommand(const std::string& address, std::uint16_t port)
{
    in_addr a{};
    if (::inet_pton(AF_INET, address.c_str(), &a) != 1) {
        throw Error("Endereço IPv4 inválido para o comando PORT: " + address, EINVAL);
    }
    const auto* b = reinterpret_cast<const unsigned char*>(&a.s_addr);
    return "PORT " + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," + std::to_string(b[2]) + "," +
           std::to_string(b[3]) + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

std::string durationText(std::chrono::milliseconds d)
{
    if (d.count() % 1000 == 0) {
        const auto s = d.count() / 1000;
        return std::to_string(s) + (s == 1 ? " segundo" : " segundos");
    }
    return std::to_string(d.count()) + " milissegundos";
}

std::string inactivityMessage(std::chrono::milliseconds limit)
{
    return wire::userMessage("A conexão de dados com o servidor da ZEB ficou " + durationText(limit) +
                             " sem receber dados. Download interrompido.");
}

void checkCommandLine(const std::string& line)
{
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        throw Error("Comando FTP inválido: o texto contém uma quebra de linha", EINVAL);
    }
}

}  // namespace

std::string FtpReply::joinedText() const
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i > 0) {
            out += '\n';
        }
        out += text[i];
    }
    return out;
}

double roundHalfEven(double x)
{
    const double lower = std::floor(x);
    const double diff = x - lower;
    if (diff < 0.5) {
        return lower;
    }
    if (diff > 0.5) {
        return lower + 1.0;
    }
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

std::string
formatGrouped(std::int64_t value, int decimals, const std::string& decimalPoint, const std::string& thousandsSep)
{
    const bool negative = value < 0;
    // Via unsigned, so the most negative value has a magnitude too.
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const std::string digits = std::to_string(magnitude);
    std::string out = negative ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += thousandsSep;
        }
        out += digits[i];
    }
    if (decimals > 0) {
        out += decimalPoint;
        out.append(static_cast<std::size_t>(decimals), '0');
    }
    return out;
}

std::string formatGroupedLocale(std::int64_t value, int decimals)
{
    const lconv* lc = std::localeconv();
    const std::string point =
        lc != nullptr && lc->decimal_point != nullptr && *lc->decimal_point != '\0' ? lc->decimal_point : ".";
    const std::string sep = lc != nullptr && lc->thousands_sep != nullptr ? lc->thousands_sep : "";
    return formatGrouped(value, decimals, point, sep);
}

TZebFTP::~TZebFTP() = default;

void TZebFTP::SetPassive(bool passive)
{
    if (passive) {
        throw Error("O modo passivo do FTP não é suportado; use o modo ativo.", EINVAL);
    }
}

std::chrono::milliseconds TZebFTP::lineTimeout() const
{
    return ReadTimeout > 0 ? std::chrono::milliseconds(ReadTimeout) : NoLimit;
}

void TZebFTP::report(std::int32_t percent, const std::string& text) const
{
    if (reportarDownload) {
        reportarDownload(percent, text);
    }
}

void TZebFTP::writeLine(const std::string& line)
{
    if (!control_.connected()) {
        throw Error("Não há conexão com o servidor FTP", ENOTCONN);
    }
    checkCommandLine(line);
    const std::string wire = line + "\r\n";
    control_.writeAll({reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()}, lineTimeout());
}

std::string TZebFTP::readLine()
{
    if (!control_.connected()) {
        throw Error("Não há conexão com o servidor FTP", ENOTCONN);
    }
    const auto deadline = Clock::now() + lineTimeout();
    std::array<std::uint8_t, 4096> buf{};
    for (;;) {
        if (const auto pos = inBuffer_.find('\n'); pos != std::string::npos) {
            std::string line = inBuffer_.substr(0, pos);
            inBuffer_.erase(0, pos + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (inBuffer_.size() > MaxLineLength) {
            throw Error("Resposta inválida do servidor FTP: linha longa demais", EPROTO);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms || !control_.waitReadable(left)) {
            throw Error("Tempo esgotado aguardando a resposta do servidor FTP", ETIMEDOUT);
        }
        const std::size_t n = control_.readSome(buf, left);
        if (n == 0) {
            throw Error("Erro de leitura: a conexão foi encerrada pelo outro lado", 0);
        }
        inBuffer_.append(reinterpret_cast<const char*>(buf.data()), n);
    }
}

int TZebFTP::ReadReply()
{
    std::string first;
    std::size_t total = 0;
    do {
        first = readLine();
        total += first.size() + 1;
        if (total > MaxReplyLength) {
            throw Error("Resposta inválida do servidor FTP: resposta longa demais", EPROTO);
        }
        first = trim(first);
    } while (first.empty());

    std::vector<std::string> lines{first};
    while (!endsReply(lines.back())) {
        lines.push_back(readLine());
        total += lines.back().size();
        if (total > MaxReplyLength) {
            throw Error("Resposta inválida do servidor FTP: resposta longa demais", EPROTO);
        }
    }

    const std::string codeText = first.substr(0, std::min<std::size_t>(3, first.size()));
    FtpReply reply;
    reply.code = allDigits(codeText, codeText.size()) ? std::stoi(codeText) : 0;
    reply.text.push_back(first.size() > 4 ? first.substr(4) : std::string());
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (codeText.size() == 3 && line.compare(0, 3, codeText) == 0) {
            reply.text.push_back(line.size() > 4 ? line.substr(4) : std::string());
        } else {
            reply.text.push_back(trimLeft(line));
        }
    }
    lastReply_ = std::move(reply);
    return lastReply_.code;
}

void TZebFTP::checkAllowed(const std::vector<int>& allowed) const
{
    if (!allowed.empty() && !contains(allowed, lastReply_.code)) {
        throw FtpReplyError(lastReply_);
    }
}

int TZebFTP::SendCommand(const std::string& line, const std::vector<int>& allowed)
{
    writeLine(line);
    ReadReply();
    checkAllowed(allowed);
    return lastReply_.code;
}

void TZebFTP::Connect()
{
    if (ProxySettings.ProxyType != fpcmNone && ProxySettings.ProxyType != fpcmTransparent) {
        throw Error("Tipo de proxy FTP não suportado: " + std::to_string(ProxySettings.ProxyType), EINVAL);
    }
    if (Port <= 0 || Port > 65535) {
        throw Error("Porta FTP inválida: " + std::to_string(Port), EINVAL);
    }
    // A fresh connection: nothing of a previous one is kept.
    control_.close();
    inBuffer_.clear();
    greeting_ = {};
    lastReply_ = {};
    systemDescription_ = {};
    capabilities_.clear();
    timeZoneOffset_.reset();

    try {
        control_.setEventPump(eventPump);
        control_.connect(Host, static_cast<std::uint16_t>(Port), waits.connect);
        ReadReply();
        checkAllowed({GreetingCodes.begin(), GreetingCodes.end()});
        greeting_ = lastReply_;
        if (AutoLogin) {
            Login();
            SendCommand("SYST");
            systemDescription_ = lastReply_;
            if (serverHasSiteZone() && SendCommand("SITE ZONE") == 210) {
                const std::string t = lastReply_.joinedText();
                if (const auto pos = platform::upperAZ(t).find("UTC"); pos != std::string::npos) {
                    try {
                        timeZoneOffset_ = std::stoi(t.substr(pos + 3));
                    } catch (const std::exception&) {
                        // An offset we cannot read is simply not kept.
                    }
                }
            }
        }
    } catch (...) {
        disconnectQuietly();
        throw;
    }
}

bool TZebFTP::serverHasSiteZone() const
{
    if (!greeting_.text.empty()) {
        for (const char* prefix : SiteZoneGreetings) {
            if (greeting_.text.front().rfind(prefix, 0) == 0) {
                return true;
            }
        }
    }
    for (const std::string& cap : capabilities_) {
        const std::string line = trim(cap);
        const auto blank = line.find(' ');
        if (blank == std::string::npos || platform::upperAZ(line.substr(0, blank)) != "SITE") {
            continue;
        }
        const std::string rest = line.substr(blank + 1);
        std::size_t start = 0;
        for (;;) {
            const auto semi = rest.find(';', start);
            if (platform::upperAZ(trim(rest.substr(start, semi - start))) == "ZONE") {
                return true;
            }
            if (semi == std::string::npos) {
                break;
            }
            start = semi + 1;
        }
    }
    return false;
}

void TZebFTP::Login()
{
    if (ProxySettings.ProxyType == fpcmTransparent && !ProxySettings.UserName.empty()) {
        if (SendCommand("USER " + ProxySettings.UserName, {230, 331}) == 331) {
            SendCommand("PASS " + ProxySettings.Password, {230, 332});
        }
    }
    const int user = SendCommand("USER " + Username, {230, 232, 331});
    if (user == 331) {
        SendCommand("PASS " + Password, {230, 332});
        const bool accountNeeded =
            lastReply_.code == 332 ||
            (platform::upperAZ(lastReply_.joinedText()).find("ACCOUNT") != std::string::npos && !Account.empty());
        if (accountNeeded) {
            if (Account.empty()) {
                throw FtpReplyError(lastReply_);
            }
            SendCommand("ACCT " + Account, {202, 230, 500});
        }
    }

    SendCommand("FEAT");
    capabilities_.clear();
    const auto& lines = lastReply_.text;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        capabilities_.push_back(lines[i]);
    }

    SendCommand(TransferType == ftASCII ? "TYPE A" : "TYPE I", {200});
}

void TZebFTP::RetrieveFile(const std::string& remoteName, const std::string& localPath)
{
    if (!control_.connected()) {
        throw Error("Não há conexão com o servidor FTP", ENOTCONN);
    }
    const std::string command = "RETR " + remoteName;
    checkCommandLine(command);

    // Replace a file of that name; anything that is not a plain file (a
    // directory, a device) is left alone and the creation below fails or writes to it.
    std::error_code ec;
    const std::filesystem::path path(localPath);
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec)) ||
        std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        std::filesystem::remove(path, ec);
    }

    TZEBFileStream stream(path);
    stream.OnWrite = [this](TZEBFileStream& sender, std::int64_t count) { ReportTransferProgress(sender, count); };
    lastUnknownSizeReportKB_ = -1;
    transferActive(command, stream);
    stream.close();
}

void TZebFTP::transferActive(const std::string& command, TZEBFileStream& stream)
{
    TZebSimpleServer listener;
    listener.AcceptWait = waits.acceptPoll;
    listener.acceptLimit = waits.dataConnection;
    listener.setEventPump(eventPump);

    // Ends the data operation. The final reply comes only for a command the
    // server took; before that, waiting for one would only turn the first
    // failure into a read time-out.
    auto finish = [&](bool readFinalReply) {
        listener.connection().close();
        if (readFinalReply) {
            ReadReply();
            checkAllowed({226, 225, 250});
        }
    };

    try {
        listener.BoundIP = control_.localAddress();
        listener.BoundPort = DataPort;
        listener.BoundPortMin = DataPortMin;
        listener.BoundPortMax = DataPortMax;
        report(-1, WaitingConnectionText);
        listener.StartListening();
        report(-1, WaitingDataText);
        SendCommand(portCommand(ExternalIP.empty() ? listener.boundAddress() : ExternalIP, listener.boundPort()),
                    {200});
        SendCommand(command, {RetrCodes.begin(), RetrCodes.end()});
    } catch (...) {
        finish(false);
        throw;
    }

    // A failed wait releases the listener and goes on without a final reply.
    listener.AcceptConnection();

    const std::chrono::milliseconds limit = TransferTimeout > 0          ? std::chrono::milliseconds(TransferTimeout)
                                            : waits.dataInactivity > 0ms ? waits.dataInactivity
                                                                         : NoLimit;
    try {
        platform::TcpSocket& data = listener.connection();
        // Whole pieces of the buffer size go to the file (the last may be
        // shorter), however the network happened to cut the stream.
        std::vector<std::uint8_t> piece(DataPieceSize);
        const std::int64_t bound = LimiteBytes();
        std::int64_t kept = 0;
        // Writes what arrived, never past the bound: the rest is refused.
        const auto keep = [&](std::size_t n) {
            if (bound > 0 && kept + static_cast<std::int64_t>(n) > bound) {
                stream.write({piece.data(), static_cast<std::size_t>(bound - kept)});
                kept = bound;
                throw Error(ExcessDataMessage, EFBIG);
            }
            stream.write({piece.data(), n});
            kept += static_cast<std::int64_t>(n);
        };
        bool ended = false;
        while (!ended) {
            std::size_t filled = 0;
            try {
                while (filled < piece.size()) {
                    if (!data.waitReadable(limit)) {
                        throw Error(inactivityMessage(limit), ETIMEDOUT);
                    }
                    const std::size_t n = data.readSome(std::span(piece).subspan(filled), limit);
                    if (n == 0) {
                        ended = true;
                        break;
                    }
                    filled += n;
                }
            } catch (...) {
                // What arrived before the failure stays in the file.
                if (filled > 0) {
                    keep(filled);
                }
                throw;
            }
            if (filled > 0) {
                keep(filled);
            }
        }
    } catch (...) {
        // The server will answer the aborted transfer; read that answer so the
        // control connection stays in step, but the first failure is what goes on.
        try {
            finish(true);
        } catch (...) {
        }
        throw;
    }
    finish(true);
}

std::int64_t TZebFTP::LimiteBytes() const
{
    if (TamanhoEsperadoKB <= 0) {
        return 0;
    }
    return (2 * static_cast<std::int64_t>(TamanhoEsperadoKB) + 64) * 1024;
}

void TZebFTP::ReportTransferProgress(TZEBFileStream& sender, std::int64_t count)
{
    if (onBytesReceived) {
        onBytesReceived(sender.position());
    }
    const std::int64_t kb = static_cast<std::int64_t>(RecebidoKB) + count / 1024;
    RecebidoKB = static_cast<std::int32_t>(std::min<std::int64_t>(kb, std::numeric_limits<std::int32_t>::max()));

    if (TamanhoEsperadoKB <= 0) {
        // No size to divide by: show what arrived, now and then.
        if (lastUnknownSizeReportKB_ < 0 || RecebidoKB - lastUnknownSizeReportKB_ >= UnknownSizeReportStepKB) {
            lastUnknownSizeReportKB_ = RecebidoKB;
            report(-1, ReceivingText + formatGroupedLocale(RecebidoKB, 0) + " KB");
        }
        return;
    }
    const double p = roundHalfEven(static_cast<double>(RecebidoKB) * 100.0 / static_cast<double>(TamanhoEsperadoKB));
    const std::string text = ReceivingText + formatGroupedLocale(static_cast<std::int64_t>(p), 2) + "%";
    const std::int32_t percent = clampToInt32(roundHalfEven(p / 100.0 * 70.0) + 10.0);
    report(percent, text);
}

void TZebFTP::Disconnect()
{
    if (!control_.connected()) {
        return;
    }
    std::exception_ptr failure;
    try {
        writeLine("QUIT");
        if (inBuffer_.find('\n') != std::string::npos || control_.waitReadable(waits.quitReply)) {
            ReadReply();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    control_.close();
    inBuffer_.clear();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TZebFTP::disconnectQuietly() noexcept
{
    try {
        Disconnect();
    } catch (...) {
        control_.close();
        inBuffer_.clear();
    }
}

}  // namespace vek::ftp
