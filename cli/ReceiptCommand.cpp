#include "app/Receipt.h"
#include "cli/CliContext.h"
#include "dataset/TransmissionRecord.h"
#include "platform/Error.h"

#ifdef VEK_CLI_RECIBO
#include "report/Recibo.h"
#endif

#include <filesystem>
#include <ostream>

namespace vek::cli {

int cmdRecibo(Context& ctx)
{
    const auto parsed = parseOptions(ctx.args, {});
    if (parsed.positional.size() != 1) {
        throw UsageError("informe um registro de transmissão");
    }
    const std::filesystem::path caminhoRegistro = parsed.positional.front();
    const dataset::RegistroTransmissao registro = dataset::lerRegistroTransmissao(caminhoRegistro);
    const auto valores = app::reciboParaImprimir(registro);
    if (!valores) {
        return ExitFailed;
    }
    const std::filesystem::path destino =
        std::filesystem::absolute(parsed.get("o").value_or(app::nomeArquivoRecibo(registro.protocoloTX)));
    std::error_code ec;
    if (std::filesystem::equivalent(destino, caminhoRegistro, ec)) {
        throw UsageError("o PDF não pode substituir o próprio registro");
    }
#ifdef VEK_CLI_RECIBO
    const report::AplicacaoSemJanela aplicacao;
    if (!report::salvarReciboPdf(QString::fromStdString(destino.string()), *valores)) {
        throw Error("Não foi possível gravar o arquivo \"" + destino.string() + "\".");
    }
    ctx.out << destino.string() << '\n';
    return ExitOk;
#else
    throw Error("Este vek-cli foi compilado sem o desenho do recibo (Qt).");
#endif
}

}  // namespace vek::cli
