#include "app/SendRules.h"
#include "app/UploadFlow.h"
#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/ProgressBar.h"

#include <ostream>

namespace vek::cli {

int cmdEnviar(Context& ctx)
{
    const auto args = parseOptions(ctx.args,
                                   {{"registro", true},
                                    {"tipo", true},
                                    {"aplicacao", true},
                                    {"versao", true},
                                    {"validacao", true},
                                    {"hash", true}});
    if (args.positional.size() != 1) {
        throw UsageError("informe o arquivo a enviar");
    }
    app::AppState estado;
    estado.arquivo = args.positional.front();
    estado.registro = args.required("registro");
    // The send page takes the type from the file's own extension.
    estado.tipoArquivo = args.get("tipo").value_or(app::tipoDaExtensao(estado.arquivo));
    estado.aplicacao = args.get("aplicacao").value_or("");
    estado.versaoAplicacao = args.get("versao").value_or("");
    estado.validacaoLivre = args.get("validacao").value_or("");
    estado.hashInformado = args.get("hash").value_or("");
    estado.senha = readPassword("VEK_SENHA", "Senha de transmissão: ");

    channel::TCanalZEBCliente canal;
    canal.PrimeiroArgumento = ctx.firstArgument;
    ProgressBar progress(ctx.err);
    canal.AoEnviarArquivo = [&progress](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
        progress.upload(s, c.TamanhoCifrado);
    };
    const app::UploadOutcome outcome = app::runInteractiveUpload(estado, canal);
    progress.finish();
    if (!outcome.sent()) {
        printError(ctx.err, outcome.error);
        return ExitFailed;
    }
    printReceipt(ctx.out, outcome.resultado, outcome.record);
    return ExitOk;
}

void printReceipt(std::ostream& out,
                  const channel::TResultadoEnvio& resultado,
                  const std::optional<std::filesystem::path>& registro)
{
    out << "Protocolo: " << resultado.Protocolo << '\n'
        << "DataHora: " << resultado.DataHora << '\n'
        << "EnderecoIP: " << resultado.EnderecoIP << '\n'
        << "Autenticacao: " << resultado.Autenticacao << '\n'
        << "Registro: " << (registro ? registro->string() : std::string()) << '\n';
}

}  // namespace vek::cli
