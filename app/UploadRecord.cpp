#include "app/UploadRecord.h"

#include "channel/TCanalZEBCliente.h"
#include "dataset/TransmissionRecord.h"
#include "platform/BaseDir.h"

namespace vek::app {

DadosRegistro dadosRegistro(const AppState& estado)
{
    return {estado.registro, estado.tipoArquivo, estado.arquivo, estado.informacoesAdicionais, estado.modoParametros};
}

std::optional<std::filesystem::path> gravarRegistroEnvio(const DadosRegistro& dados,
                                                         const channel::TResultadoEnvio& resultado,
                                                         const channel::TCanalZEBCliente& canal,
                                                         const std::string& nomeArquivo)
{
    // Only a successful upload has a receipt (protocol, reception date,
    // address, authentication): a failed attempt may still carry the ones the
    // server sent before it broke off, and a record holding them would read
    // as a receipt.
    const bool enviado = resultado.Sucesso;
    const dataset::RegistroTransmissao registro{.operadora = dados.registro,
                                                .tipo_Arquivo = dados.tipoArquivo,
                                                .arquivo = dados.arquivo,
                                                .dataTransmissao = enviado ? resultado.DataHora : std::string(),
                                                .protocoloTX = enviado ? resultado.Protocolo : std::string(),
                                                .aplicativo = canal.ID_Aplicacao_no_Servidor(),
                                                .informacoesArquivo = dados.informacoes,
                                                .clienteTransmissao = canal.VersaoTransmissor(),
                                                .enderecoIP = enviado ? resultado.EnderecoIP : std::string(),
                                                .autenticacao = enviado ? resultado.Autenticacao : std::string(),
                                                .modoParametros = dados.modoParametros};
    const auto base = platform::baseDir();
    if (!dataset::gravarRegistroTransmissao(registro, base, nomeArquivo)) {
        return std::nullopt;
    }
    return base / "Protocolos" / nomeArquivo;
}

}  // namespace vek::app
