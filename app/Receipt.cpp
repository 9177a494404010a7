#include "app/Receipt.h"

#include "app/Text.h"
#include "channel/TCanalZEBCliente.h"
#include "platform/UiServices.h"

#include <filesystem>

namespace vek::app {

namespace {

std::string semDiretorios(const std::string& caminho)
{
    return std::filesystem::path(caminho).filename().string();
}

}  // namespace

ValoresRecibo reciboDoEnvio(const AppState& estado, const channel::TCanalZEBCliente& canal)
{
    return {linhaProtocoloRecibo(
                estado.protocolo, canal.VersaoTransmissor(), estado.modoParametros, canal.ID_Aplicacao_no_Servidor()),
            estado.registro,
            semDiretorios(estado.arquivo),
            estado.dataRecebimento,
            estado.informacoesAdicionais,
            estado.enderecoIP,
            estado.autenticacao};
}

std::optional<ValoresRecibo> reciboDoRegistro(const dataset::RegistroTransmissao& registro)
{
    if (trimmed(registro.protocoloTX).empty()) {
        return std::nullopt;
    }
    // The record keeps the transmitter's version and the application's id as
    // the channel had them when the upload ended, which is what the window's
    // receipt reads.
    return ValoresRecibo{
        linhaProtocoloRecibo(
            registro.protocoloTX, registro.clienteTransmissao, registro.modoParametros, registro.aplicativo),
        registro.operadora,
        semDiretorios(registro.arquivo),
        registro.dataTransmissao,
        registro.informacoesArquivo,
        registro.enderecoIP,
        registro.autenticacao};
}

bool registroCompleto(const dataset::RegistroTransmissao& registro)
{
    return !registro.enderecoIP.empty() || !registro.autenticacao.empty();
}

std::optional<ValoresRecibo> reciboParaImprimir(const dataset::RegistroTransmissao& registro)
{
    auto valores = reciboDoRegistro(registro);
    if (!valores) {
        platform::ui().showMessage(MsgRegistroSemRecibo, platform::MessageKind::Warning);
    } else if (!registroCompleto(registro)) {
        platform::ui().showMessage(MsgRegistroIncompleto, platform::MessageKind::Information);
    }
    return valores;
}

std::string nomeArquivoRecibo(const std::string& protocolo)
{
    std::string nome;
    for (const char c : protocolo) {
        const bool seguro = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                            c == '_' || c == '.';
        nome += seguro ? c : '_';
    }
    return "Recibo-" + nome + ".pdf";
}

}  // namespace vek::app
