#include "crypto/TBlowfishQv.h"
#include "platform/AsciiText.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "server/Authenticator.h"
#include "server/RequestFields.h"
#include "server/ServerKey.h"
#include "server/Session.h"
#include "server/Store.h"
#include "server/UploadDecoder.h"
#include "server/ZebServer.h"
#include "wire/Frame.h"
#include "wire/MessageCodes.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string.h>
#include <vector>

namespace vek::server {
namespace {

constexpr std::size_t RequestFields = 7;
constexpr std::size_t MaxStoredNameBytes = 200;
constexpr std::size_t CrcTextLength = 8;
constexpr std::size_t TigerTextLength = 48;

struct UploadRequest
{
    std::string version;
    std::string application;
    std::string operatorId;
    std::string fileType;
    std::string systemName;
    std::string fileName;
    std::string password;  // deciphered, Windows-1252
};

// Version, application, operator, file type, system name, file name and the
// enciphered password. Fields carry no escaping: a "|" inside the file name
// would split it, so whatever lies between the system name and the password
// is taken as the name.
std::optional<UploadRequest> parseRequest(const std::string& text)
{
    const auto f = splitFields(text);
    if (f.size() < RequestFields) {
        return std::nullopt;
    }
    UploadRequest r;
    r.version = platform::fromWin1252(f[0]);
    r.application = platform::fromWin1252(f[1]);
    r.operatorId = platform::fromWin1252(f[2]);
    r.fileType = platform::upperText(platform::fromWin1252(f[3]));
    r.systemName = platform::fromWin1252(f[4]);
    std::string name = f[5];
    for (std::size_t i = 6; i + 1 < f.size(); ++i) {
        name += "|" + f[i];
    }
    r.fileName = platform::fromWin1252(name);
    r.password = crypto::DecryptProtocolText(f.back());
    return r;
}

// The operator's file name made safe to store: no directories, no control
// characters, not too long for the file system.
std::string storedNameOf(const std::string& fileName)
{
    std::string name = fileName;
    if (const auto slash = name.find_last_of("/\\"); slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '_';
        }
    }
    if (name.size() > MaxStoredNameBytes) {
        std::size_t cut = MaxStoredNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    if (name.empty() || name == "." || name == "..") {
        name = "arquivo";
    }
    return name;
}

bool isHexText(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string randomTag()
{
    std::array<std::uint8_t, 8> nonce{};
    gcry_create_nonce(nonce.data(), nonce.size());
    return platform::toHex(nonce, platform::HexCase::Lower);
}

std::string isoText(const platform::LocalDateTime& t)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

// What the client is told when a block or the end of its file fails. A
// failure of the content is its own to know; one of the server's storage
// carries a system error code and names the server's own paths, so the client
// gets what it means and the log keeps the rest.
std::string refusalOf(const Error& e)
{
    switch (e.code()) {
    case 0:
        return e.what();
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return "Não há espaço no servidor para guardar o arquivo. Tente novamente mais tarde.";
    default:
        return "Erro interno do servidor ao receber o arquivo. Tente novamente mais tarde.";
    }
}

}  // namespace

// What one upload gathers from the client's messages. From the symmetric key
// on, a refusal can only reach the operator as the reply to the end of data;
// it is also given at once to each message, so that a client that looks at
// the replies can stop early. The data that still comes is read and dropped.
struct Session::Upload
{
    UploadRequest request;
    std::vector<std::uint8_t> key;
    std::string refusal;
    std::string hashText;
    bool hashIsCrc = false;
    bool hashIsTiger = false;
    std::int64_t announced = 0;
    std::optional<UploadDecoder> decoder;

    Upload() = default;
    Upload(const Upload&) = delete;
    Upload& operator=(const Upload&) = delete;
    ~Upload()
    {
        if (!key.empty()) {
            explicit_bzero(key.data(), key.size());
        }
    }

    // Acknowledged when nothing is wrong so far, else refused with the reason.
    [[nodiscard]] bool refused() const { return !refusal.empty(); }
};

// ← 1, then 3, 4, 5 → (or 94); ← 6; ← 43, 39 →; ← 7, 39 →; ← 9 and 39 → per
// block; ← 10; then 12 → with the receipt, ← 39. A step that finds the client
// out of the sequence logs why and the connection ends.
void Session::runUpload(const wire::Message& message)
{
    using namespace wire;
    Upload u;
    if (!authorizeUpload(message, u)) {
        return;
    }
    send(CMD_ACEITO);
    send(CMD_CHAVE_MODULO, context_.key.modulus());
    send(CMD_CHAVE_EXPOENTE, context_.key.publicExponent());

    if (!receiveSymmetricKey(u) || !receiveHash(u) || !receiveSize(u) || !receiveBlocks(u)) {
        return;
    }
    checkReceivedFile(u);
    if (u.refused()) {
        log("envio da operadora " + u.request.operatorId + " recusado: " + u.refusal);
        u.decoder.reset();  // its partial file is gone before the client hears the refusal
        deny(u.refusal);
        return;
    }
    storeAndSendReceipt(u);
}

// The request names an operator whose password matches and a file type it may send.
bool Session::authorizeUpload(const wire::Message& message, Upload& u)
{
    auto request = parseRequest(message.text());
    if (!request) {
        deny("Pedido de envio inválido: são esperados " + std::to_string(RequestFields) + " campos.");
        return false;
    }
    if (request->operatorId.empty() || !context_.store.checkOperator(request->operatorId, request->password)) {
        log("envio recusado: registro ou senha inválidos para a operadora " + request->operatorId);
        deny("Registro ZEB ou senha de transmissão inválidos.");
        return false;
    }
    const auto codes = listCodes(context_.store.tiposEnvio());
    if (std::find(codes.begin(), codes.end(), request->fileType) == codes.end()) {
        log("envio recusado: tipo " + request->fileType + " fora da lista");
        deny("Tipo de arquivo \"" + request->fileType + "\" não permitido para envio.");
        return false;
    }
    u.request = std::move(*request);
    return true;
}

bool Session::receiveSymmetricKey(Upload& u)
{
    using namespace wire;
    const Message m = read();
    if (m.code != CMD_CHAVE_SIMETRICA) {
        log("esperada a chave simétrica, recebida " + debugName(m.code) + "; conexão encerrada");
        return false;
    }
    try {
        u.key = context_.key.unwrap(m.payload, UploadDecoder::KeySize);
    } catch (const Error& e) {
        u.refusal = e.what();
    }
    return true;
}

bool Session::receiveHash(Upload& u)
{
    using namespace wire;
    const Message m = read();
    if (m.code != CMD_HASH_ARQUIVO) {
        log("esperado o hash do arquivo, recebido " + debugName(m.code) + "; conexão encerrada");
        return false;
    }
    u.hashText = platform::upperAZ(m.text());
    u.hashIsCrc = u.hashText.size() == CrcTextLength && isHexText(u.hashText);
    u.hashIsTiger = u.hashText.size() == TigerTextLength && isHexText(u.hashText);
    if (!u.refused() && !u.hashText.empty() && !u.hashIsCrc && !u.hashIsTiger) {
        // Only the start of what came is quoted back.
        const std::string recebido = platform::utf8Left(platform::fromWin1252(m.text()), 64);
        u.refusal = "Hash do arquivo em formato não reconhecido: \"" + recebido +
                    "\" (esperados 8 dígitos hexadecimais do CRC-32 ou 48 do hash Tiger).";
    }
    acknowledgeOrRefuse(u);
    return true;
}

// The size, and with it the decoder that deciphers, expands and checks the
// blocks as they come; the key is wiped once the decoder holds it.
bool Session::receiveSize(Upload& u)
{
    using namespace wire;
    const ServerConfig& config = context_.config;
    const Message m = read();
    if (m.code != CMD_TAMANHO) {
        log("esperado o tamanho do arquivo, recebido " + debugName(m.code) + "; conexão encerrada");
        return false;
    }
    if (m.payload.size() != Int32Size) {
        log("tamanho do arquivo com " + std::to_string(m.payload.size()) + " bytes; conexão encerrada");
        return false;
    }
    u.announced = decodeInt32(std::span<const std::uint8_t, Int32Size>(m.payload.data(), Int32Size));
    if (u.announced < 0) {
        log("tamanho negativo anunciado; conexão encerrada");
        return false;
    }
    if (!u.refused() && u.announced > config.maxUploadSize) {
        u.refusal = "Arquivo de " + std::to_string(u.announced) + " bytes cifrados maior que o limite de " +
                    std::to_string(config.maxUploadSize) + " bytes aceito pelo servidor.";
    }
    if (!u.refused()) {
        try {
            u.decoder.emplace(std::span<const std::uint8_t, UploadDecoder::KeySize>(u.key.data(), u.key.size()),
                              u.announced,
                              config.dataDir / ReceivedDirName / (".recebendo-" + randomTag()),
                              config.maxExpandedSize,
                              u.hashIsTiger);
        } catch (const Error& e) {
            log(e.what());
            u.refusal = "Erro interno do servidor ao receber o arquivo. Tente novamente mais tarde.";
        }
    }
    std::fill(u.key.begin(), u.key.end(), 0);
    acknowledgeOrRefuse(u);
    return true;
}

// Until the end of data, each block is acknowledged (or refused) before it is
// deciphered and written, so the client sends the next one meanwhile; a
// failure there is refused at the next block or in the final reply.
bool Session::receiveBlocks(Upload& u)
{
    using namespace wire;
    std::int64_t arrived = 0;
    bool emptyBlockSeen = false;
    for (;;) {
        const Message m = read();
        if (m.code == CMD_FIM_DADOS) {
            return true;
        }
        if (m.code != CMD_BLOCO) {
            log("esperado um bloco, recebida " + debugName(m.code) + "; conexão encerrada");
            return false;
        }
        if (m.payload.empty()) {
            // A size that is a multiple of both block sizes ends with one
            // empty block after all the data; it is acknowledged like any
            // other. Any other empty block would keep an upload open for ever
            // without bringing it closer to its end.
            if (arrived != u.announced || emptyBlockSeen) {
                log("bloco vazio antes do fim dos dados; conexão encerrada");
                return false;
            }
            emptyBlockSeen = true;
            acknowledgeOrRefuse(u);
            continue;
        }
        arrived += static_cast<std::int64_t>(m.payload.size());
        if (arrived > u.announced) {
            // Nothing the client could still send would be kept.
            log("dados além do tamanho anunciado; conexão encerrada");
            u.decoder.reset();
            if (!u.refused()) {
                deny("O cliente enviou mais dados que o tamanho anunciado (" + std::to_string(u.announced) +
                     " bytes).");
            }
            return false;
        }
        acknowledgeOrRefuse(u);
        if (!u.refused()) {
            try {
                u.decoder->feed(m.payload);
            } catch (const Error& e) {
                log(e.what());
                u.refusal = refusalOf(e);
            }
        }
    }
}

void Session::acknowledgeOrRefuse(const Upload& u)
{
    if (u.refused()) {
        queue(wire::CMD_NEGADO, platform::toWin1252(u.refusal));
    } else {
        queue(wire::CMD_ACK);
    }
    // Out before the block is deciphered and written, unless the client's
    // next frame is already here and the reply can go with the next ones.
    if (!reader_.hasWholeFrame()) {
        flush();
    }
}

// The end of the stream, and the checksum the client announced.
void Session::checkReceivedFile(Upload& u)
{
    if (u.refused()) {
        return;
    }
    try {
        u.decoder->finish();
    } catch (const Error& e) {
        log(e.what());
        u.refusal = refusalOf(e);
        return;
    }
    if (u.hashIsCrc && u.decoder->crc32Text() != u.hashText) {
        u.refusal = "O CRC-32 do arquivo recebido (" + u.decoder->crc32Text() + ") não confere com o informado (" +
                    u.hashText + ").";
    } else if (u.hashIsTiger && u.decoder->tigerText() != u.hashText) {
        u.refusal = "O hash Tiger do arquivo recebido (" + u.decoder->tigerText() + ") não confere com o informado (" +
                    u.hashText + ").";
    }
}

// The file is in its place before its row exists, and the receipt goes out
// only after both. The client acknowledges the receipt; the upload is stored
// whatever it does.
void Session::storeAndSendReceipt(Upload& u)
{
    using namespace wire;
    const platform::LocalDateTime now = platform::localNow();
    const auto record = storeUpload(u, now);
    if (!record) {
        return;
    }
    send(CMD_PROTOCOLO,
         platform::toWin1252(std::to_string(record->protocol) + "|" + platform::formatTimestamp(now) + "|" +
                             record->clientAddress + "|" + record->authentication));
    log("protocolo " + std::to_string(record->protocol) + ": " + record->fileName + " da operadora " +
        record->operatorId);
    try {
        const Message m = read();
        if (m.code != CMD_ACK) {
            log("confirmação do protocolo com " + debugName(m.code));
        }
    } catch (const Error& e) {
        log(std::string("sem confirmação do protocolo: ") + e.what());
    }
}

std::optional<UploadRecord> Session::storeUpload(Upload& u, const platform::LocalDateTime& now)
{
    UploadRecord record;
    std::filesystem::path finalPath;
    try {
        record.protocol = context_.store.nextProtocol();
        finalPath = context_.config.dataDir / ReceivedDirName /
                    (std::to_string(record.protocol) + "-" + storedNameOf(u.request.fileName));
        u.decoder->commitTo(finalPath);
        record.operatorId = u.request.operatorId;
        record.fileType = u.request.fileType;
        record.fileName = u.request.fileName;
        record.size = u.decoder->expandedSize();
        record.storedPath = finalPath.string();
        record.receivedAt = isoText(now);
        record.clientAddress = peer_;
        record.authentication = context_.authenticator.code(record.protocol, record.operatorId, u.decoder->sha256());
        record.hashText = u.hashText;
        record.validationText = validationText_;
        record.application = u.request.application;
        record.version = u.request.version;
        record.systemName = u.request.systemName;
        context_.store.addUpload(record);
    } catch (const Error& e) {
        log(std::string("falha ao guardar o envio: ") + e.what());
        if (!finalPath.empty()) {
            std::error_code ignored;
            std::filesystem::remove(finalPath, ignored);
        }
        deny("Erro interno do servidor ao guardar o arquivo. Tente novamente mais tarde.");
        return std::nullopt;
    }
    return record;
}

}  // namespace vek::server
