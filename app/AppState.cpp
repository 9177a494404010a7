#include "app/AppState.h"

#include "app/Text.h"

#include <system_error>

namespace vek::app {

bool argumentoDeTrace(const std::string& arg)
{
    return channel::argumentoNomeiaTrace(arg);
}

bool modoArquivoParametros(const std::vector<std::string>& args)
{
    return !args.empty() && !argumentoDeTrace(args.front());
}

void applyOperator(const AppState& estado, channel::TCanalZEBCliente& canal)
{
    canal.CD_Operadora = estado.registro;
    canal.SetAplicacao(estado.aplicacao);
    canal.SetVersaoAplicativo(estado.versaoAplicacao);
    canal.Senha = estado.senha;
}

int codigoSaidaAposProgresso(const channel::TStatusUpload& status, int atual)
{
    if (status.StatusPreparacao == channel::tseErro) {
        return CodigoSaidaErroPreparacao;
    }
    if (status.StatusConexao == channel::tseErro || status.StatusTransmissao == channel::tseErro) {
        return CodigoSaidaErroConexao;
    }
    return atual;
}

std::string linhaProtocoloRecibo(const std::string& protocolo,
                                 const std::string& versaoTransmissor,
                                 bool modoParametros,
                                 const std::string& idAplicacao)
{
    std::string linha = protocolo + " - " + versaoTransmissor;
    if (modoParametros) {
        linha += " - Aplicativo: " + idAplicacao;
    }
    return linha;
}

namespace {

int apagarPorExtensao(const std::filesystem::path& dir, const std::string& extensao)
{
    int apagados = 0;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) {
        return 0;
    }
    for (const auto& entry : it) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError) || typeError) {
            continue;
        }
        if (lowerAZ(entry.path().extension().string()) != extensao) {
            continue;
        }
        std::error_code removeError;
        if (std::filesystem::remove(entry.path(), removeError)) {
            ++apagados;
        }
    }
    return apagados;
}

}  // namespace

int limparArquivosTemporarios(const std::filesystem::path& pastaTemp, const std::filesystem::path& pastaTemporaria)
{
    return apagarPorExtensao(pastaTemp, ".zeb") + apagarPorExtensao(pastaTemporaria, ".par");
}

}  // namespace vek::app
