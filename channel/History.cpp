#include "channel/Exchange.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/MessageCodes.h"

namespace vek::channel {

void TCanalZEBCliente::ConsultarHistoricoTx(const std::string& dataInicio,
                                            const std::string& dataFim,
                                            std::string& arquivoLista)
{
    if (CD_Operadora.empty()) {
        throw Error("O registro da Operadora não foi informado.");
    }
    if (Senha.empty()) {
        throw Error("A Senha não foi informada !");
    }
    aplicarNomeTraceLinhaComando();
    LerConfiguracao();
    arquivoLista.clear();
    // The code is named also when it is 0.
    Exchange exchange(*this, [](int code) {
        return Error("Erro ao buscar a lista de arquivos para download. Código de erro do windows: " +
                         std::to_string(code),
                     code);
    });
    exchange.run([&] { arquivoLista = queryHistory(exchange, dataInicio, dataFim); });
}

// 13 →, ← 3, ← result (not "0"), the list file, 39 →, a pause, close.
// Returns the list file's path, or nothing when there is no list.
std::string
TCanalZEBCliente::queryHistory(Exchange& exchange, const std::string& dataInicio, const std::string& dataFim)
{
    using namespace wire;
    const auto report = [this](TTipoStatusEtapa s, int p, const std::string& t) {
        notificarConsulta(AoConsultaHistoricoTx, s, p, t);
    };
    const std::string endereco = host_ + ":" + std::to_string(porta_);
    report(tseExecutando, 0, "Tentando abrir conexão TCP com o endereço " + endereco);
    GravarTrace("Tentando abrir conexão com endereço: " + endereco);
    exchange.connect();
    const std::string pedido = VersaoTransmissor() + "|" + ID_Aplicacao_no_Servidor() + "|" + CD_Operadora + "|" +
                               NomeSistemaOperacional() + "|" + dataInicio + "|" + dataFim + "|";
    report(tseExecutando, 10, "Solicitando a lista de protocolos...");
    const auto resultado =
        pedirLista(frameOf(CMD_PEDIDO_HISTORICO,
                           platform::toWin1252(pedido) + crypto::EncryptProtocolText(platform::toWin1252(Senha))),
                   "Enviada mensagem de autenticação para a consulta ao histórico de transmissões.",
                   AoConsultaHistoricoTx);
    if (!resultado) {
        return {};
    }
    if (resultado->text() == "0") {
        const std::string vazia = "Lista de protocolos vazia (não há transmissões efetuadas no período informado)";
        report(tseErro, 100, vazia);
        GravarTrace(vazia);
        exchange.close();
        platform::ui().showMessage("Não há transmissões efetuadas no período informado.",
                                   platform::MessageKind::Information);
        return {};
    }
    report(tseExecutando, 20, "Recebendo a lista de protocolos... ");
    const std::string caminho = ReceberArquivoLista(AoConsultaHistoricoTx);
    EnviarAck();
    platform::sleepFor(timeouts.downloadPause);
    return caminho;
}

}  // namespace vek::channel
