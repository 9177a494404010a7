#include "app/SendRules.h"
#include "app/UploadRecord.h"
#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/ProgressBar.h"
#include "platform/Clock.h"

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
    const std::string arquivo = args.positional.front();
    const std::string registro = args.required("registro");
    // The send page takes the type from the file's own extension.
    const std::string tipo = args.get("tipo").value_or(app::tipoDaExtensao(arquivo));
    const std::string senha = readPassword("VEK_SENHA", "Senha de transmissão: ");

    channel::TCanalZEBCliente canal;
    canal.PrimeiroArgumento = ctx.firstArgument;
    canal.CD_Operadora = registro;
    canal.Senha = senha;
    canal.Arquivo = arquivo;
    canal.SetTipo_Arquivo(app::maiusculasAZ(tipo));
    canal.SetAplicacao(args.get("aplicacao").value_or(""));
    canal.SetVersaoAplicativo(args.get("versao").value_or(""));
    canal.StrValidacaoLivre = args.get("validacao").value_or("");
    canal.HashArquivo = args.get("hash").value_or("");

    ProgressBar progress(ctx.err);
    canal.AoEnviarArquivo = [&progress](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
        progress.upload(s, c.TamanhoCifrado);
    };
    channel::TResultadoEnvio resultado;
    try {
        canal.EnviarArquivo(resultado);
    } catch (...) {
        progress.finish();
        throw;
    }
    progress.finish();

    const std::string nome = app::nomeArquivoRegistro(arquivo, platform::tickCount());
    const auto caminho = app::gravarRegistroEnvio({registro, tipo, arquivo, ""}, resultado, canal, nome);
    printReceipt(ctx.out, resultado, caminho);
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
