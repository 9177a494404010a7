#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/JsonOutput.h"

#include <ostream>

namespace vek::cli {
namespace {

int typeList(Context& ctx, bool download)
{
    const auto parsed = parseOptions(ctx.args, {{"json", false}});
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
    if (parsed.has("json")) {
        writeTypeListJson(ctx.out, lista);
    } else {
        ctx.out << lista << '\n';
    }
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
