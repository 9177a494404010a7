#include "crypto/TBlowfishQv.h"
#include "dataset/DataPacket.h"
#include "dataset/HistoryTable.h"
#include "platform/Error.h"
#include "platform/Win1252.h"
#include "server/ListRows.h"
#include "server/RequestFields.h"
#include "server/Session.h"
#include "server/Store.h"
#include "wire/MessageCodes.h"

namespace vek::server {
namespace {

// Version, application, operator, system name, start date, end date and the
// enciphered password; the last three are taken from the end.
constexpr std::size_t HistoryRequestFields = 7;

}  // namespace

void Session::runHistory(const wire::Message& message)
{
    using namespace wire;
    const auto f = splitFields(message.text());
    if (f.size() < HistoryRequestFields) {
        deny("Pedido de histórico inválido: são esperados " + std::to_string(HistoryRequestFields) + " campos.");
        return;
    }
    const std::string operatorId = platform::fromWin1252(f[2]);
    const std::string start = platform::fromWin1252(f[f.size() - 3]);
    const std::string end = platform::fromWin1252(f[f.size() - 2]);
    const std::string password = crypto::DecryptProtocolText(f.back());

    if (operatorId.empty() || !context_.store.checkOperator(operatorId, password)) {
        log("histórico recusado: registro ou senha inválidos para a operadora " + operatorId);
        deny("Registro ZEB ou senha de transmissão inválidos.");
        return;
    }
    const auto from = isoDayOf(start);
    const auto to = isoDayOf(end);
    if (!from || !to) {
        deny("Período inválido: \"" + start + "\" a \"" + end + "\" (use DD/MM/AAAA).");
        return;
    }
    if (*from > *to) {
        deny("Período inválido: a data final " + end + " é anterior à inicial " + start + ".");
        return;
    }

    const auto uploads = context_.store.uploadsOf(operatorId, *from, *to);
    if (uploads.empty()) {
        send(CMD_ACEITO);
        send(CMD_ACEITO, "0");
        return;
    }
    std::string document;
    try {
        document = dataset::writeDataPacket(dataset::HistoryTable::definition(), historyRows(uploads));
    } catch (const Error& e) {
        log(std::string("histórico da operadora ") + operatorId + ": " + e.what());
        deny("Erro interno do servidor ao montar o histórico. Tente novamente mais tarde.");
        return;
    }
    send(CMD_ACEITO);
    send(CMD_ACEITO, std::to_string(uploads.size()));
    if (!sendListFile("historico-" + operatorId + ".zeb", document)) {
        return;
    }
    const Message m = read();
    if (m.code != CMD_ACK) {
        log("histórico confirmado com " + debugName(m.code));
    }
}

}  // namespace vek::server
