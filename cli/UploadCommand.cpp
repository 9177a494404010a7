#include "app/SendRules.h"
#include "app/UploadFlow.h"
#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/JsonOutput.h"
#include "cli/ProgressBar.h"

#include <ostream>

namespace vek::cli {
namespace {

// What every file of one `enviar` shares.
struct UploadRequest
{
    std::string registro;
    std::optional<std::string> tipo;
    std::string aplicacao;
    std::string versao;
    std::string validacao;
    std::string hash;
    std::optional<int> janela;
    std::string senha;
};

app::AppState stateFor(const UploadRequest& req, const std::string& arquivo)
{
    app::AppState estado;
    estado.arquivo = arquivo;
    estado.registro = req.registro;
    // The send page takes the type from the file's own extension.
    estado.tipoArquivo = req.tipo.value_or(app::tipoDaExtensao(arquivo));
    estado.aplicacao = req.aplicacao;
    estado.versaoAplicacao = req.versao;
    estado.validacaoLivre = req.validacao;
    estado.hashInformado = req.hash;
    estado.janelaEnvio = req.janela;
    estado.senha = req.senha;
    return estado;
}

// One file, on a channel of its own (one connection each), with the
// progress bar; `recordAlways`: a failure gets its record too.
app::UploadOutcome sendOne(Context& ctx, const UploadRequest& req, const std::string& arquivo, bool recordAlways)
{
    app::AppState estado = stateFor(req, arquivo);
    channel::TCanalZEBCliente canal;
    canal.PrimeiroArgumento = ctx.firstArgument;
    ProgressBar progress(ctx.err);
    canal.AoEnviarArquivo = [&progress](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
        progress.upload(s, c.TamanhoCifrado);
    };
    app::UploadOutcome outcome =
        recordAlways ? app::runRecordedUpload(estado, canal) : app::runInteractiveUpload(estado, canal);
    progress.finish();
    return outcome;
}

// Tabs and line breaks of a value become blanks, so that one value stays one line.
std::string oneLine(std::string text)
{
    for (char& c : text) {
        if (c == '\t' || c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return text;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const auto& n : names) {
        text += (text.empty() ? "" : ", ") + n;
    }
    return text;
}

// A whole number from 1 to the channel's largest window: the rule of the
// configuration's JanelaEnvio.
int parseJanela(const std::string& text)
{
    const auto value = channel::TCanalZEBCliente::janelaValida(text);
    if (!value) {
        throw UsageError("--janela: informe um número inteiro de 1 a " +
                         std::to_string(channel::TCanalZEBCliente::MaxJanelaEnvio));
    }
    return *value;
}

}  // namespace

int cmdEnviar(Context& ctx)
{
    const auto args = parseOptions(ctx.args,
                                   {{"registro", true},
                                    {"tipo", true},
                                    {"aplicacao", true},
                                    {"versao", true},
                                    {"validacao", true},
                                    {"hash", true},
                                    {"janela", true},
                                    {"parar-no-erro", false},
                                    {"senha-arquivo", true},
                                    {"json", false}});
    if (args.positional.empty()) {
        throw UsageError("informe o arquivo a enviar");
    }
    UploadRequest req;
    req.registro = args.required("registro");
    req.tipo = args.get("tipo");
    req.aplicacao = args.get("aplicacao").value_or("");
    req.versao = args.get("versao").value_or("");
    req.validacao = args.get("validacao").value_or("");
    req.hash = args.get("hash").value_or("");
    if (const auto janela = args.get("janela")) {
        req.janela = parseJanela(*janela);
    }
    // Asked or read once for every file.
    req.senha = readCurrentPassword(args);
    const bool json = args.has("json");

    const auto& arquivos = args.positional;
    if (arquivos.size() == 1) {
        const app::UploadOutcome outcome = sendOne(ctx, req, arquivos.front(), false);
        if (!outcome.sent()) {
            printError(ctx.err, outcome.error);
        }
        if (json) {
            writeUploadJson(ctx.out, arquivos.front(), outcome);
        } else if (outcome.sent()) {
            printReceipt(ctx.out, outcome.resultado, outcome.record);
        }
        return outcome.sent() ? ExitOk : ExitFailed;
    }

    std::size_t enviados = 0;
    std::vector<std::string> falharam;
    std::vector<std::string> naoEnviados;
    for (std::size_t i = 0; i < arquivos.size(); ++i) {
        const std::string& arquivo = arquivos[i];
        if (!falharam.empty() && args.has("parar-no-erro")) {
            naoEnviados.push_back(arquivo);
            continue;
        }
        const app::UploadOutcome outcome = sendOne(ctx, req, arquivo, true);
        if (outcome.sent()) {
            ++enviados;
        } else {
            falharam.push_back(arquivo);
            printError(ctx.err, outcome.error);
        }
        if (json) {
            writeUploadJson(ctx.out, arquivo, outcome);
        } else {
            ctx.out << "Arquivo: " << oneLine(arquivo) << '\n';
            if (outcome.sent()) {
                printReceipt(ctx.out, outcome.resultado, outcome.record);
            } else {
                ctx.out << "Falha: " << oneLine(outcome.error) << '\n'
                        << "Registro: " << (outcome.record ? outcome.record->string() : std::string()) << '\n';
            }
            ctx.out << '\n';
        }
        ctx.out.flush();
    }
    if (json) {
        writeBatchSummaryJson(ctx.out, arquivos.size(), enviados, falharam, naoEnviados);
    } else {
        ctx.out << "Resumo: " << enviados << " de " << arquivos.size() << " enviados";
        if (!falharam.empty()) {
            ctx.out << "; falharam: " << oneLine(joined(falharam));
        }
        if (!naoEnviados.empty()) {
            ctx.out << "; não enviados (parada no erro): " << oneLine(joined(naoEnviados));
        }
        ctx.out << '\n';
    }
    return falharam.empty() ? ExitOk : ExitFailed;
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
