#include "crypto/TBlowfishQv.h"
#include "dataset/DataPacket.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "server/ListRows.h"
#include "server/RequestFields.h"
#include "server/Session.h"
#include "server/Store.h"
#include "server/ZebServer.h"
#include "wire/MessageCodes.h"

#include <algorithm>

namespace vek::server {
namespace {

// Version, application, file type, operator, system name, competence month,
// availability month and the enciphered password. The system name may hold
// bars, so the last three fields are taken from the end.
constexpr std::size_t ListRequestFields = 8;

}  // namespace

struct Session::ListRequest
{
    std::string fileType;
    std::string operatorId;
    std::string competence;
    std::string availability;
};

// ← 30, then 3 → and the result (94 when refused); when files are listed, the
// list file, ← 32, the credentials →, ← 39.
void Session::runListQuery(const wire::Message& message)
{
    using namespace wire;
    const auto request = acceptListRequest(message);
    if (!request) {
        return;
    }
    const auto files = context_.store.availableFiles(
        request->operatorId, request->fileType, request->competence, request->availability);
    if (files.empty()) {
        send(CMD_ACEITO);
        send(CMD_ACEITO, "0");
        return;
    }
    // Everything that can fail is done before the acceptance, so a failure
    // still reaches the operator as a refusal.
    std::string document;
    try {
        document = dataset::writeDataPacket(dataset::ListTable::definition(), listRows(files));
    } catch (const Error& e) {
        log(std::string("lista da operadora ") + request->operatorId + ": " + e.what());
        deny("Erro interno do servidor ao montar a lista de arquivos. Tente novamente mais tarde.");
        return;
    }
    send(CMD_ACEITO);
    send(CMD_ACEITO, std::to_string(files.size()));
    if (!sendListFile("lista-" + request->operatorId + ".zeb", document)) {
        return;
    }
    Message m = read();
    if (m.code != CMD_LISTA_RECEBIDA) {
        log("esperada a confirmação da lista, recebida " + debugName(m.code) + "; conexão encerrada");
        return;
    }
    const DownloadCredentials login =
        context_.store.issueDownloadCredentials(request->operatorId, context_.config.downloadCredentialLifetime);
    send(CMD_ACEITO,
         crypto::EncryptProtocolText(platform::toWin1252(login.user + "|" + login.password + "|" + login.identifier)));
    m = read();
    if (m.code != CMD_ACK) {
        log("credenciais de download confirmadas com " + debugName(m.code));
    }
}

// The request names an operator whose password matches, a file type it may
// receive and well-formed months; otherwise it is refused with the reason.
std::optional<Session::ListRequest> Session::acceptListRequest(const wire::Message& message)
{
    const auto f = splitFields(message.text());
    if (f.size() < ListRequestFields) {
        deny("Pedido de lista inválido: são esperados " + std::to_string(ListRequestFields) + " campos.");
        return std::nullopt;
    }
    ListRequest r{platform::upperText(platform::fromWin1252(f[2])),
                  platform::fromWin1252(f[3]),
                  platform::fromWin1252(f[f.size() - 3]),
                  platform::fromWin1252(f[f.size() - 2])};
    const std::string password = crypto::DecryptProtocolText(f.back());

    if (r.operatorId.empty() || !context_.store.checkOperator(r.operatorId, password)) {
        log("lista recusada: registro ou senha inválidos para a operadora " + r.operatorId);
        deny("Registro ZEB ou senha de transmissão inválidos.");
        return std::nullopt;
    }
    const auto codes = listCodes(context_.store.tiposDownload());
    if (std::find(codes.begin(), codes.end(), r.fileType) == codes.end()) {
        deny("Tipo de arquivo \"" + r.fileType + "\" não disponível para download.");
        return std::nullopt;
    }
    if (!r.competence.empty() && !isMonthText(r.competence)) {
        deny("Mês de competência inválido: \"" + r.competence + "\" (use MM/AAAA).");
        return std::nullopt;
    }
    if (!r.availability.empty() && !isMonthText(r.availability)) {
        deny("Mês de disponibilização inválido: \"" + r.availability + "\" (use MM/AAAA).");
        return std::nullopt;
    }
    return r;
}

}  // namespace vek::server
