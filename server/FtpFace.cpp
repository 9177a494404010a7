#include "server/FtpFace.h"

#include "crypto/TBlowfishQv.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Win1252.h"
#include "server/ListRows.h"
#include "server/RequestFields.h"
#include "server/Session.h"
#include "server/ZebServer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

namespace vek::server {
namespace {

using namespace std::chrono_literals;

constexpr auto StopPoll = 100ms;
// An enciphered request takes two letters per byte; no honest line comes near this.
constexpr std::size_t MaxLineLength = 16 * 1024;
constexpr int MaxFailedLogins = 3;
constexpr std::size_t FilePiece = 64 * 1024;
// Ports below this are refused in PORT: the data connection must not be
// turned against a system service of the client's host.
constexpr int LowestDataPort = 1024;
constexpr std::string_view EndFileMarker = "ENDFILE ";

// Operator, password, file name, file identifier, file type, server path,
// query identifier. The password and the name may hold bars; the name is
// known from the identifier, so what lies between them is still told apart.
constexpr std::size_t RequestFields = 7;
// Operator, file name, file type, file identifier, query identifier.
constexpr std::size_t NoticeFields = 5;

std::optional<std::int64_t> idOf(const std::string& text)
{
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v <= 0) {
        return std::nullopt;
    }
    return v;
}

}  // namespace

FtpSession::FtpSession(const ServerContext& context, platform::TcpSocket socket)
    : context_(context)
    , socket_(std::move(socket))
    , peer_(socket_.peerAddress())
{
    if (peer_.empty()) {
        peer_ = "?";  // the peer left before its address could be read
    }
}

void FtpSession::run()
{
    try {
        reply(220, "zebd: servidor FTP da ZEB pronto.");
        while (const auto line = readLine()) {
            const auto blank = line->find(' ');
            const std::string verb = platform::upperAZ(line->substr(0, blank));
            const std::string argument = blank == std::string::npos ? std::string() : line->substr(blank + 1);
            if (!dispatch(verb, argument)) {
                return;
            }
        }
    } catch (const Error& e) {
        log(e.what());
    } catch (const std::exception& e) {
        log(std::string("erro inesperado: ") + e.what());
    }
}

bool FtpSession::dispatch(const std::string& verb, const std::string& argument)
{
    if (verb == "QUIT") {
        reply(221, "Até logo.");
        return false;
    }
    if (verb == "USER") {
        user(argument);
        return true;
    }
    if (verb == "PASS") {
        return pass(argument);
    }
    if (verb == "FEAT") {
        replyLines("211-Recursos:\r\n SIZE\r\n211 Fim\r\n");
        return true;
    }
    if (verb == "SYST") {
        reply(215, "UNIX Type: L8");
        return true;
    }
    if (verb == "NOOP") {
        reply(200, "OK.");
        return true;
    }
    static const std::set<std::string> known{
        "TYPE", "PORT", "RETR", "SIZE", "PWD", "CWD", "MODE", "STRU", "PASV", "EPSV", "EPRT", "LIST", "NLST"};
    if (known.count(verb) == 0) {
        reply(502, "Comando não implementado.");
        return true;
    }
    if (!login_) {
        reply(530, "Faça o login primeiro.");
        return true;
    }
    if (verb == "TYPE") {
        type(argument);
    } else if (verb == "PORT") {
        port(argument);
    } else if (verb == "RETR") {
        retr(argument);
    } else if (verb == "SIZE") {
        size(argument);
    } else if (verb == "PWD") {
        reply(257, "\"/\" é o diretório atual.");
    } else if (verb == "CWD") {
        reply(argument == "/" ? 250 : 550, argument == "/" ? "Diretório atual: /." : "Diretório inexistente.");
    } else if (verb == "MODE") {
        reply(platform::upperAZ(argument) == "S" ? 200 : 504,
              platform::upperAZ(argument) == "S" ? "Modo S." : "Somente o modo S.");
    } else if (verb == "STRU") {
        reply(platform::upperAZ(argument) == "F" ? 200 : 504,
              platform::upperAZ(argument) == "F" ? "Estrutura F." : "Somente a estrutura F.");
    } else {
        // Passive mode and listings: the download needs neither.
        reply(502, "Comando não implementado; use PORT e RETR.");
    }
    return true;
}

void FtpSession::user(const std::string& argument)
{
    user_ = argument;
    login_.reset();
    reply(331, "Informe a senha.");
}

bool FtpSession::pass(const std::string& argument)
{
    if (user_.empty()) {
        reply(503, "Informe o usuário (USER) antes da senha.");
        return true;
    }
    const std::string user = crypto::DecryptProtocolText(user_);
    user_.clear();
    login_ = context_.store.findDownloadCredentials(user, crypto::DecryptProtocolText(argument));
    if (login_) {
        reply(230, "Usuário conectado.");
        return true;
    }
    log("login FTP recusado para o usuário " + platform::fromWin1252(user));
    if (++failedLogins_ >= MaxFailedLogins) {
        reply(421, "Tentativas de login esgotadas; conexão encerrada.");
        return false;
    }
    reply(530, "Usuário ou senha inválidos.");
    return true;
}

void FtpSession::port(const std::string& argument)
{
    // A refused PORT leaves no earlier one behind for the next transfer.
    dataTarget_.reset();
    std::vector<int> n;
    for (const std::string& part : splitFields([&] {
             std::string s = argument;
             std::replace(s.begin(), s.end(), ',', '|');
             return s;
         }())) {
        int v = -1;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() || v < 0 || v > 255) {
            reply(501, "Argumento de PORT inválido.");
            return;
        }
        n.push_back(v);
    }
    if (n.size() != 6) {
        reply(501, "Argumento de PORT inválido.");
        return;
    }
    const std::string address =
        std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." + std::to_string(n[3]);
    const int dataPort = n[4] * 256 + n[5];
    if (address != peer_) {
        log("PORT para " + address + " recusado (conexão de " + peer_ + ")");
        reply(501, "O endereço do PORT deve ser o de origem desta conexão.");
        return;
    }
    if (dataPort < LowestDataPort) {
        reply(501, "Porta de dados inválida: " + std::to_string(dataPort) + ".");
        return;
    }
    dataTarget_ = DataTarget{address, static_cast<std::uint16_t>(dataPort)};
    reply(200, "Comando PORT aceito.");
}

void FtpSession::type(const std::string& argument)
{
    const std::string t = platform::upperAZ(argument);
    if (t == "I" || t == "L 8") {
        reply(200, "Tipo definido como I.");
    } else {
        // The files are enciphered bytes: a text conversion would corrupt them.
        reply(504, "Somente o tipo I (binário) é suportado.");
    }
}

void FtpSession::size(const std::string& argument)
{
    std::string why;
    const auto file = checkedRequest(platform::fromWin1252(crypto::DecryptProtocolText(argument)), why);
    std::error_code ec;
    const auto bytes = file ? std::filesystem::file_size(file->storedPath, ec) : 0;
    if (!file || ec) {
        log("SIZE recusado: " + (file ? ec.message() : why));
        reply(550, "Arquivo não disponível.");
        return;
    }
    reply(213, std::to_string(bytes));
}

void FtpSession::retr(const std::string& argument)
{
    const std::string text = crypto::DecryptProtocolText(argument);
    if (text.rfind(EndFileMarker, 0) == 0) {
        endOfFileNotice(text.substr(EndFileMarker.size()));
        return;
    }
    std::string why;
    const auto file = checkedRequest(text, why);
    if (!file) {
        log("RETR recusado: " + why);
        reply(550, "Arquivo não disponível.");
        return;
    }
    if (!dataTarget_) {
        reply(425, "Use PORT antes de RETR.");
        return;
    }
    sendFile(*file);
}

void FtpSession::sendFile(const AvailableFile& file)
{
    const DataTarget target = *dataTarget_;
    // Each PORT serves one transfer.
    dataTarget_.reset();
    platform::StdioFile in;
    if (!in.open(file.storedPath, "rb")) {
        log("arquivo " + std::to_string(file.id) + " ilegível: " + file.storedPath);
        reply(550, "Arquivo não disponível.");
        return;
    }
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(file.storedPath, ec);
    reply(150,
          "Abrindo conexão de dados em modo binário para " + file.fileName + " (" + std::to_string(ec ? 0 : bytes) +
              " bytes).");
    platform::TcpSocket data;
    try {
        data.connect(target.address, target.port, context_.config.ftpDataConnect);
    } catch (const Error& e) {
        log("conexão de dados com " + target.address + ":" + std::to_string(target.port) + ": " + e.what());
        reply(425, "Não foi possível abrir a conexão de dados.");
        return;
    }
    std::vector<std::uint8_t> piece(FilePiece);
    try {
        for (;;) {
            const std::size_t n = std::fread(piece.data(), 1, piece.size(), in.get());
            if (n > 0) {
                data.writeAll(std::span(piece.data(), n), context_.config.timeouts.streamTimeout);
            }
            if (n < piece.size()) {
                if (std::ferror(in.get()) != 0) {
                    log("erro de leitura em " + file.storedPath);
                    reply(451, "Erro local ao ler o arquivo; transferência abortada.");
                    return;
                }
                break;
            }
        }
    } catch (const Error& e) {
        log("conexão de dados interrompida: " + std::string(e.what()));
        reply(426, "Conexão de dados interrompida; transferência abortada.");
        return;
    }
    // The client takes the end of the data connection as the end of the file.
    data.close();
    served_.insert(file.id);
    reply(226, "Transferência concluída.");
}

void FtpSession::endOfFileNotice(const std::string& text)
{
    const auto f = splitFields(text);
    std::string why;
    std::optional<AvailableFile> file;
    if (f.size() < NoticeFields) {
        why = "aviso com " + std::to_string(f.size()) + " campos";
    } else {
        const std::string& operatorId = f[0];
        const std::string name = platform::fromWin1252(joinFields(f, 1, f.size() - 3));
        const std::string& fileType = f[f.size() - 3];
        const auto id = idOf(f[f.size() - 2]);
        const std::string& identifier = f.back();
        file = id ? context_.store.availableFile(*id) : std::nullopt;
        if (operatorId != login_->operatorId || identifier != login_->identifier) {
            why = "operadora ou identificador diferentes dos do login";
        } else if (!file || file->operatorId != operatorId || platform::upperAZ(fileType) != file->fileType ||
                   name != file->fileName) {
            why = "arquivo inexistente ou de outra operadora";
        } else if (served_.count(file->id) == 0) {
            why = "arquivo " + std::to_string(file->id) + " não transferido nesta conexão";
        }
    }
    if (!why.empty()) {
        log("aviso de recebimento recusado: " + why);
        reply(550, "Aviso de recebimento não aceito.");
        return;
    }
    context_.store.recordDownload(file->id);
    log("arquivo " + std::to_string(file->id) + " recebido pela operadora " + file->operatorId);
    reply(226, "Recebimento do arquivo registrado.");
}

std::optional<AvailableFile> FtpSession::checkedRequest(const std::string& text, std::string& why) const
{
    const auto f = splitFields(text);
    if (f.size() < RequestFields) {
        why = "pedido com " + std::to_string(f.size()) + " campos";
        return std::nullopt;
    }
    const std::string& operatorId = f[0];
    const auto id = idOf(f[f.size() - 4]);
    const std::string& fileType = f[f.size() - 3];
    const std::string serverPath = platform::fromWin1252(f[f.size() - 2]);
    const std::string& identifier = f.back();
    if (operatorId != login_->operatorId || identifier != login_->identifier) {
        why = "operadora ou identificador diferentes dos do login";
        return std::nullopt;
    }
    const auto file = id ? context_.store.availableFile(*id) : std::nullopt;
    if (!file || file->operatorId != operatorId || platform::upperAZ(fileType) != file->fileType ||
        serverPath != serverPathOf(*file)) {
        why = "arquivo inexistente, de outra operadora ou com tipo ou caminho diferentes";
        return std::nullopt;
    }
    // Password and name: what lies between the operator and the identifier.
    const std::string middle = joinFields(f, 1, f.size() - 4);
    const std::string name = "|" + platform::toWin1252(file->fileName);
    if (middle.size() <= name.size() || middle.compare(middle.size() - name.size(), name.size(), name) != 0) {
        why = "nome do arquivo diferente do listado";
        return std::nullopt;
    }
    if (!context_.store.checkOperator(operatorId, middle.substr(0, middle.size() - name.size()))) {
        why = "senha inválida para a operadora " + operatorId;
        return std::nullopt;
    }
    return file;
}

std::optional<std::string> FtpSession::readLine()
{
    for (;;) {
        const auto end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (buffer_.size() > MaxLineLength) {
            reply(500, "Linha longa demais.");
            return std::nullopt;
        }
        const auto deadline = std::chrono::steady_clock::now() + context_.config.idleTimeout;
        bool readable = false;
        while (!context_.stopping.load()) {
            if (socket_.waitReadable(StopPoll)) {
                readable = true;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                reply(421, "Tempo de espera esgotado; conexão encerrada.");
                return std::nullopt;
            }
        }
        if (!readable) {
            return std::nullopt;
        }
        std::uint8_t chunk[4096];
        const std::size_t n = socket_.readSome(chunk, context_.config.timeouts.streamTimeout);
        if (n == 0) {
            return std::nullopt;
        }
        buffer_.append(reinterpret_cast<const char*>(chunk), n);
    }
}

void FtpSession::reply(int code, const std::string& text)
{
    replyLines(std::to_string(code) + " " + platform::toWin1252(text) + "\r\n");
}

void FtpSession::replyLines(const std::string& lines)
{
    socket_.writeAll(std::span(reinterpret_cast<const std::uint8_t*>(lines.data()), lines.size()),
                     context_.config.timeouts.streamTimeout);
}

void FtpSession::log(const std::string& line) const
{
    if (context_.config.log) {
        context_.config.log("ftp " + peer_ + ": " + line);
    }
}

}  // namespace vek::server
