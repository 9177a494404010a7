#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"

namespace vek::cli {

int cmdAlterarSenha(Context& ctx)
{
    const auto args = parseOptions(ctx.args, {{"registro", true}, {"senha-arquivo", true}});
    if (!args.positional.empty()) {
        throw UsageError("argumento inesperado: " + args.positional.front());
    }
    channel::TCanalZEBCliente canal;
    canal.PrimeiroArgumento = ctx.firstArgument;
    canal.CD_Operadora = args.required("registro");
    canal.Senha = readCurrentPassword(args, "Senha atual: ");
    const std::string nova = readPassword("VEK_NOVA_SENHA", "Nova senha: ");
    // The server's text (or the failure text) arrives as a "VEK: " line.
    return canal.AlterarSenha(nova) == channel::ResultadoAlteracaoSenha::Aceita ? ExitOk : ExitFailed;
}

}  // namespace vek::cli
