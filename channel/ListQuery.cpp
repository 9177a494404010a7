#include "channel/Exchange.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/TBlowfishQv.h"
#include "platform/Error.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"
#include "wire/MessageCodes.h"

#include <algorithm>

namespace vek::channel {
namespace {

using namespace wire;

constexpr const char* MsgOperadoraNaoInformada = "O registro da Operadora não foi informado.";
constexpr const char* MsgSenhaNaoInformada = "A Senha não foi informada !";
constexpr const char* MascaraMesVazia = "  /    ";

std::string withoutEmptyMask(const std::string& mes)
{
    return mes == MascaraMesVazia ? std::string() : mes;
}

Error genericError(int code)
{
    if (code == 0) {
        return Error("Erro inesperado ao buscar a lista de arquivos para download.");
    }
    return Error("Erro ao buscar a lista de arquivos para download. Código de erro do windows: " + std::to_string(code),
                 code);
}

}  // namespace

void TCanalZEBCliente::ConsultarListaDownload(const std::string& tipoArquivo,
                                              const std::string& competencia,
                                              const std::string& disponibilizacao,
                                              std::string& arquivoLista)
{
    if (CD_Operadora.empty()) {
        throw Error(MsgOperadoraNaoInformada);
    }
    if (Senha.empty()) {
        throw Error(MsgSenhaNaoInformada);
    }
    aplicarNomeTraceLinhaComando();
    const std::string mesCompetencia = withoutEmptyMask(competencia);
    const std::string mesDisponibilizacao = withoutEmptyMask(disponibilizacao);
    LerConfiguracao();
    arquivoLista.clear();
    Exchange exchange(*this, genericError);
    exchange.run([&] { arquivoLista = queryList(exchange, tipoArquivo, mesCompetencia, mesDisponibilizacao); });
}

// 30 →, ← 3, ← result (not "0"), the list file, 32 →, ← credentials, 39 →.
// Returns the list file's path, or nothing when there is no list.
std::string TCanalZEBCliente::queryList(Exchange& exchange,
                                        const std::string& tipoArquivo,
                                        const std::string& mesCompetencia,
                                        const std::string& mesDisponibilizacao)
{
    // Blank: nothing but spaces and control characters.
    if (std::none_of(
            tipoArquivo.begin(), tipoArquivo.end(), [](char c) { return static_cast<unsigned char>(c) > ' '; })) {
        throw Error("CARO DESENVOLVEDOR: é obrigatório informar os arquivos de qual aplicativo deseja baixar...");
    }
    const auto report = [this](TTipoStatusEtapa s, int p, const std::string& t) {
        notificarConsulta(AoConsultarListaDownload, s, p, t);
    };
    report(tseExecutando, 0, "Tentando abrir conexão TCP com o endereço " + host_ + ":" + std::to_string(porta_));
    exchange.connect();
    const std::string pedido = VersaoTransmissor() + "|" + ID_Aplicacao_no_Servidor() + "|" +
                               platform::upperText(tipoArquivo) + "|" + CD_Operadora + "|" + NomeSistemaOperacional() +
                               "|" + mesCompetencia + "|" + mesDisponibilizacao + "|";
    report(tseExecutando, 10, "Solicitando a lista de arquivos...");
    const auto resultado =
        pedirLista(frameOf(CMD_PEDIDO_LISTA,
                           platform::toWin1252(pedido) + crypto::EncryptProtocolText(platform::toWin1252(Senha))),
                   "Enviada mensagem de autenticação para o Download",
                   AoConsultarListaDownload);
    if (!resultado) {
        return {};
    }
    if (resultado->text() == "0") {
        const std::string vazia = "Lista de arquivos vazia (não há arquivos disponíveis para o filtro especificado)";
        report(tseErro, 100, vazia + "\rExperimente reduzir as opções de filtro.");
        GravarTrace(vazia);
        exchange.close();
        showEmptyList(!mesCompetencia.empty() || !mesDisponibilizacao.empty());
        return {};
    }
    report(tseExecutando, 20, "Recebendo a lista de arquivos... ");
    const std::string caminho = ReceberArquivoLista(AoConsultarListaDownload);
    enviarMensagem(MontarMensagem(CMD_LISTA_RECEBIDA, 0));
    LerCredenciaisDownload();
    return caminho;
}

void TCanalZEBCliente::showEmptyList(bool filtered)
{
    if (filtered) {
        platform::ui().showMessage(
            "A consulta efetuada, com os parâmetros informados, não retornou nenhum arquivo disponível.\r"
            "Os filtros de competencia e geração do arquivo são opcionais, experimente consultar novamente \rsem "
            "preenchê-los.",
            platform::MessageKind::Information);
    } else {
        platform::ui().showMessage(
            "A consulta efetuada, com os parâmetros informados, não retornou nenhum arquivo disponível.",
            platform::MessageKind::Information);
    }
}

void TCanalZEBCliente::LerCredenciaisDownload()
{
    const Message m = LerMensagem();
    std::string d = platform::fromWin1252(crypto::DecryptProtocolText(m.text()));
    const auto take = [&d] {
        const auto bar = d.find('|');
        if (bar == std::string::npos) {
            return std::string();
        }
        std::string field = d.substr(0, bar);
        d.erase(0, bar + 1);
        return field;
    };
    UsuarioDownload = take();
    SenhaDownload = take();
    IdentificadorDownload = d;
    EnviarAck();
}

}  // namespace vek::channel
