#include "app/ParameterFile.h"
#include "app/UploadFlow.h"
#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/JsonOutput.h"
#include "cli/ProgressBar.h"
#include "crypto/TCrc32.h"
#include "crypto/THashFunctions.h"
#include "platform/Error.h"
#include "platform/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vek::cli {
namespace {

[[noreturn]] void falhaGravacao(const std::string& destino, const std::string& motivo, int codigo = 0)
{
    throw Error("Não foi possível gravar o arquivo de parâmetros " + destino + ": " + motivo, codigo);
}

// The parameter file carries the password: it is readable by its owner only
// (0600, whatever the umask), and it is never written through a link or into
// a file that belongs to another user.
void gravarPrivado(const std::string& destino, const std::string& texto)
{
    platform::File out;
    if (!out.open(destino, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY, 0600)) {
        const int code = errno;
        falhaGravacao(destino, code == ELOOP ? "é um link simbólico" : std::strerror(code), code);
    }
    struct stat st
    {
    };
    if (fstat(out.fd(), &st) != 0) {
        const int code = errno;
        falhaGravacao(destino, std::strerror(code), code);
    }
    if (!S_ISREG(st.st_mode)) {
        falhaGravacao(destino, "não é um arquivo comum");
    }
    if (st.st_uid != geteuid()) {
        falhaGravacao(destino, "o arquivo pertence a outro usuário");
    }
    if (fchmod(out.fd(), 0600) != 0 || ftruncate(out.fd(), 0) != 0 || !out.writeAll(texto.data(), texto.size()) ||
        !out.close()) {
        const int code = errno;
        falhaGravacao(destino, std::strerror(code), code);
    }
}

}  // namespace

// The unattended upload without a window: the window's checks, messages,
// response file and exit codes, ending as soon as the outcome is known.
int cmdParametros(Context& ctx)
{
    // --json wherever it stands; of the other arguments only the first
    // counts, the rest are ignored, as by the window.
    std::vector<std::string> argumentos = ctx.args;
    const bool json = std::erase(argumentos, std::string("--json")) > 0;
    const std::string arquivoParametros = argumentos.empty() ? std::string() : argumentos.front();
    app::AppState estado;
    if (const auto codigo = app::startUnattendedRun(arquivoParametros, estado)) {
        return *codigo;
    }
    channel::TCanalZEBCliente canal;
    canal.PrimeiroArgumento = arquivoParametros;
    ProgressBar progress(ctx.err);
    canal.AoEnviarArquivo = [&progress](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
        progress.upload(s, c.TamanhoCifrado);
    };
    try {
        const app::UploadOutcome outcome = app::runUnattendedUpload(estado, canal);
        progress.finish();
        if (outcome.end == app::UploadEnd::Failed) {
            printError(ctx.err, outcome.error);
        }
        if (json) {
            writeUploadJson(ctx.out, estado.arquivo, outcome, {{"CodigoSaida", std::nullopt, estado.codigoSaida}});
        } else if (outcome.sent()) {
            printReceipt(ctx.out, outcome.resultado, outcome.record);
        }
    } catch (const std::exception& e) {
        // The file could not be read for its checksum: no upload outcome.
        progress.finish();
        printError(ctx.err, e.what());
    }
    return estado.codigoSaida;
}

int cmdGerarParametros(Context& ctx)
{
    const auto args = parseOptions(ctx.args,
                                   {{"formato", true},
                                    {"registro", true},
                                    {"arquivo", true},
                                    {"resposta", true},
                                    {"aplicacao", true},
                                    {"versao", true},
                                    {"info", true},
                                    {"checksum", true},
                                    {"validacao", true},
                                    {"senha-arquivo", true}});
    if (!args.positional.empty()) {
        throw UsageError("argumento inesperado: " + args.positional.front());
    }
    app::ParametrosEnvio p;
    p.formato = args.required("formato");
    if (p.formato != "1" && p.formato != "2") {
        throw UsageError("--formato deve ser 1 (CRC) ou 2 (hash Tiger)");
    }
    p.registro = args.required("registro");
    p.arquivo = args.required("arquivo");
    p.arquivoResposta = args.required("resposta");
    p.aplicacao = args.get("aplicacao").value_or("");
    p.versao = args.get("versao").value_or("");
    p.informacoes = args.get("info").value_or("");
    p.validacaoLivre = args.get("validacao").value_or("");
    std::string checksum = args.get("checksum").value_or("");
    if (checksum == "auto") {
        if (p.formato == "1") {
            crypto::TCrc32 crc;
            crc.Crc32FileName = p.arquivo;
            crc.WindowOnError = false;
            if (!std::filesystem::is_regular_file(p.arquivo)) {
                throw Error("Arquivo não encontrado: " + p.arquivo);
            }
            checksum = crc.Crc32Hex();
        } else {
            checksum = crypto::THashFunctions::TigerFileHash(p.arquivo);
        }
    }
    (p.formato == "1" ? p.crcEsperado : p.hashEsperado) = checksum;
    p.senha = readCurrentPassword(args);

    // A "|" inside a value would shift every field after it.
    for (const auto* valor : {&p.registro,
                              &p.senha,
                              &p.arquivo,
                              &p.arquivoResposta,
                              &p.aplicacao,
                              &p.versao,
                              &p.informacoes,
                              &checksum,
                              &p.validacaoLivre}) {
        if (valor->find('|') != std::string::npos) {
            throw UsageError("os valores não podem conter \"|\": " + *valor);
        }
    }

    const std::string texto = app::cifrarParametros(p);
    if (const auto destino = args.get("o")) {
        gravarPrivado(*destino, texto);
    } else {
        ctx.out << texto;
    }
    return ExitOk;
}

}  // namespace vek::cli
