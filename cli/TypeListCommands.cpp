#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"

#include <ostream>

namespace vek::cli {
namespace {

int typeList(Context& ctx, bool download)
{
    const auto parsed = parseOptions(ctx.args, {});
    if (!parsed.positional.empty()) {
        throw UsageError("argumento inesperado: " + parsed.positional.front());
    }
    channel::TCanalZEBCliente canal;
    canal.PrimeiroArgumento = ctx.firstArgument;
    std::string lista;
    // On failure nothing goes to standard output: the raised text, prefix included.
    if (download) {
        canal.ListarTiposArquivoDownload(lista);
    } else {
        canal.ListarTiposArquivoEnvio(lista);
    }
    ctx.out << lista << '\n';
    return ExitOk;
}

}  // namespace

int cmdTiposEnvio(Context& ctx)
{
    return typeList(ctx, false);
}

int cmdTiposDownload(Context& ctx)
{
    return typeList(ctx, true);
}

}  // namespace vek::cli
