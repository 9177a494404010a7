#include "app/AppState.h"
#include "app/DownloadRow.h"
#include "app/HistoricoXlsx.h"
#include "app/InputChecks.h"
#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/JsonOutput.h"
#include "cli/ProgressBar.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"

#include <filesystem>
#include <ostream>

namespace vek::cli {
namespace {

namespace fs = std::filesystem;

struct ListArgs
{
    std::string registro;
    std::string tipo;
    std::string competencia;
    std::string disponibilizacao;
    std::optional<std::string> senhaArquivo;
};

// The operator of a query: the registry number given and the password from
// its sources (readCurrentPassword).
app::AppState operadora(const std::string& registro, const std::optional<std::string>& senhaArquivo)
{
    app::AppState estado;
    estado.registro = registro;
    ParsedArgs fonte;
    if (senhaArquivo) {
        fonte.options["senha-arquivo"] = *senhaArquivo;
    }
    estado.senha = readCurrentPassword(fonte);
    return estado;
}

// The list query as the filter page runs it; false when an input check failed.
bool consultarLista(
    Context& ctx, const ListArgs& a, channel::TCanalZEBCliente& canal, dataset::ListTable& tabela, int& exitCode)
{
    const auto check = app::checkMonthFilters(a.competencia, a.disponibilizacao);
    if (!check.ok()) {
        ctx.err.writeLine("", app::cliLine(check));
        exitCode = app::exitCode(check);
        return false;
    }
    canal.PrimeiroArgumento = ctx.firstArgument;
    app::applyOperator(operadora(a.registro, a.senhaArquivo), canal);
    ProgressBar progress(ctx.err);
    canal.AoConsultarListaDownload =
        [&progress](channel::TCanalZEBCliente&, channel::TTipoStatusEtapa, std::int32_t pct, const std::string& t) {
            progress.simple(pct, t);
        };
    std::string caminho;
    try {
        canal.ConsultarListaDownload(a.tipo, a.competencia, a.disponibilizacao, caminho);
    } catch (...) {
        progress.finish();
        throw;
    }
    progress.finish();
    if (!caminho.empty()) {
        tabela.load(caminho);
    }
    return true;
}

ListArgs listArgs(const ParsedArgs& args)
{
    return {args.required("registro"),
            args.required("tipo"),
            args.get("competencia").value_or(""),
            args.get("disponibilizacao").value_or(""),
            args.get("senha-arquivo")};
}

}  // namespace

int cmdListar(Context& ctx)
{
    const auto args = parseOptions(ctx.args,
                                   {{"registro", true},
                                    {"tipo", true},
                                    {"competencia", true},
                                    {"disponibilizacao", true},
                                    {"senha-arquivo", true},
                                    {"json", false}});
    if (!args.positional.empty()) {
        throw UsageError("argumento inesperado: " + args.positional.front());
    }
    channel::TCanalZEBCliente canal;
    dataset::ListTable tabela;
    int code = ExitOk;
    if (!consultarLista(ctx, listArgs(args), canal, tabela, code)) {
        return code;
    }
    if (args.has("json")) {
        writeTableJson(ctx.out, tabela, dataset::ListTable::tsvColumns());
    } else {
        tabela.writeTsv(ctx.out);
    }
    return ExitOk;
}

int cmdBaixar(Context& ctx)
{
    const auto args = parseOptions(ctx.args,
                                   {{"registro", true},
                                    {"tipo", true},
                                    {"id", true},
                                    {"competencia", true},
                                    {"disponibilizacao", true},
                                    {"destino", true},
                                    {"substituir", false},
                                    {"senha-arquivo", true},
                                    {"json", false}});
    if (!args.positional.empty()) {
        throw UsageError("argumento inesperado: " + args.positional.front());
    }
    const std::string id = args.required("id");
    channel::TCanalZEBCliente canal;
    dataset::ListTable tabela;
    int code = ExitOk;
    if (!consultarLista(ctx, listArgs(args), canal, tabela, code)) {
        return code;
    }
    const auto row = tabela.findById(id);
    if (!row) {
        throw Error("Nenhum arquivo com ID_ARQUIVO_DISPONIVEL " + id + " na lista de arquivos disponíveis.");
    }
    app::RowDownload download(tabela, *row);
    ProgressBar progress(ctx.err);
    canal.AoReceberArquivo = [&progress](channel::TCanalZEBCliente&, const channel::TStatusDownload& s) {
        progress.simple(s.PercentFeito, s.TextoInfo);
    };
    canal.onTransferProgress = [&progress](std::int64_t feitos, std::int64_t total) {
        progress.received(feitos, total);
    };
    try {
        download.fetch(canal);
    } catch (...) {
        progress.finish();
        throw;
    }
    progress.finish();
    // Default: the current directory, under the listed name.
    const fs::path destino = args.has("destino") ? fs::path(*args.get("destino")) : fs::current_path();
    const std::string caminho = download.keep(destino, args.has("substituir")).string();
    if (args.has("json")) {
        writeDownloadJson(ctx.out, caminho, tabela, *row);
    } else {
        ctx.out << caminho << '\n';
    }
    return ExitOk;
}

int cmdHistorico(Context& ctx)
{
    const auto args = parseOptions(ctx.args,
                                   {{"registro", true},
                                    {"inicio", true},
                                    {"fim", true},
                                    {"xlsx", true},
                                    {"senha-arquivo", true},
                                    {"json", false}});
    if (!args.positional.empty()) {
        throw UsageError("argumento inesperado: " + args.positional.front());
    }
    const std::string registro = args.required("registro");
    const std::string inicio = args.required("inicio");
    const std::string fim = args.required("fim");
    const auto check = app::checkPeriod(inicio, fim);
    if (!check.ok()) {
        ctx.err.writeLine("", app::cliLine(check));
        return app::exitCode(check);
    }
    channel::TCanalZEBCliente canal;
    canal.PrimeiroArgumento = ctx.firstArgument;
    app::applyOperator(operadora(registro, args.get("senha-arquivo")), canal);
    ProgressBar progress(ctx.err);
    canal.AoConsultaHistoricoTx =
        [&progress](channel::TCanalZEBCliente&, channel::TTipoStatusEtapa, std::int32_t pct, const std::string& t) {
            progress.simple(pct, t);
        };
    std::string caminho;
    try {
        canal.ConsultarHistoricoTx(inicio, fim, caminho);
    } catch (...) {
        progress.finish();
        throw;
    }
    progress.finish();
    dataset::HistoryTable tabela;
    if (!caminho.empty()) {
        tabela.load(caminho);
    }
    if (args.has("json")) {
        writeTableJson(ctx.out, tabela, dataset::HistoryTable::tsvColumns());
    } else {
        tabela.writeTsv(ctx.out);
    }
    if (const auto xlsx = args.get("xlsx")) {
        app::writeHistoryWorkbook(tabela, *xlsx);
    }
    return ExitOk;
}

}  // namespace vek::cli
