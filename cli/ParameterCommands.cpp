#include "app/ParameterFile.h"
#include "app/UploadRecord.h"
#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/ProgressBar.h"
#include "crypto/TCrc32.h"
#include "crypto/THashFunctions.h"
#include "platform/Error.h"
#include "platform/UiServices.h"

#include <filesystem>
#include <fstream>
#include <ostream>

namespace vek::cli {
namespace {

void mensagemErro(const std::string& texto)
{
    platform::ui().showMessage(texto, platform::MessageKind::Error);
}

}  // namespace

// The unattended upload without a window: the window's checks, messages,
// response file and exit codes, ending as soon as the outcome is known.
int cmdParametros(Context& ctx)
{
    // Only the first argument counts; the others are ignored, as by the window.
    if (ctx.args.empty() || !std::filesystem::is_regular_file(ctx.args.front())) {
        mensagemErro(app::MsgArquivoParametrosNaoEncontrado);
        return app::CodigoSaidaSemArquivoParametros;
    }
    const std::string arquivoParametros = ctx.args.front();

    app::ParametrosEnvio parametros;
    if (const auto falha = app::verificarInicioParametros(arquivoParametros, parametros)) {
        mensagemErro(falha->mensagem);
        return falha->codigo;
    }
    app::AppState estado;
    app::aplicarParametros(parametros, estado);

    channel::TCanalZEBCliente canal;
    canal.PrimeiroArgumento = arquivoParametros;
    canal.CD_Operadora = estado.registro;
    canal.Senha = estado.senha;
    canal.Arquivo = estado.arquivo;
    canal.SetTipo_Arquivo(estado.tipoArquivo);
    canal.SetAplicacao(estado.aplicacao);
    canal.SetVersaoAplicativo(estado.versaoAplicacao);
    canal.StrValidacaoLivre = estado.validacaoLivre;

    try {
        if (const auto diferenca = app::verificarChecksum(estado, canal)) {
            mensagemErro(*diferenca);
            return app::CodigoSaidaChecksumDiferente;
        }
    } catch (const std::exception& e) {
        // Not part of the upload: no record for this attempt, the code stays 0.
        printError(ctx.err, e.what());
        return estado.codigoSaida;
    }

    ProgressBar progress(ctx.err);
    canal.AoEnviarArquivo = [&](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
        estado.codigoSaida = app::codigoSaidaAposProgresso(s, estado.codigoSaida);
        progress.upload(s, c.TamanhoCifrado);
    };
    channel::TResultadoEnvio resultado;
    estado.codigoSaida = 0;
    std::string erro;
    try {
        canal.EnviarArquivo(resultado);
        estado.codigoSaida = app::CodigoSaidaSucesso;
    } catch (const std::exception& e) {
        erro = e.what();
    }
    progress.finish();
    if (!erro.empty()) {
        printError(ctx.err, erro);
    }

    // The response is written whatever the outcome; a failed upload leaves
    // its protocol and date empty.
    const auto caminho = app::gravarRegistroEnvio(
        app::dadosRegistro(estado),
        resultado,
        canal,
        estado.nomeArquivoRegistro);
    if (resultado.Sucesso) {
        printReceipt(ctx.out, resultado, caminho);
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
                                    {"validacao", true}});
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
    p.senha = readPassword("VEK_SENHA", "Senha de transmissão: ");

    // A "|" inside a value would shift every field after it.
    for (const auto* valor : {&p.registro, &p.senha, &p.arquivo, &p.arquivoResposta, &p.aplicacao, &p.versao,
                              &p.informacoes, &checksum, &p.validacaoLivre}) {
        if (valor->find('|') != std::string::npos) {
            throw UsageError("os valores não podem conter \"|\": " + *valor);
        }
    }

    const std::string texto = app::cifrarParametros(p);
    if (const auto destino = args.get("o")) {
        std::ofstream out(*destino, std::ios::binary | std::ios::trunc);
        out << texto;
        out.close();
        if (!out) {
            throw Error("Não foi possível gravar o arquivo de parâmetros " + *destino);
        }
    } else {
        ctx.out << texto;
    }
    return ExitOk;
}

}  // namespace vek::cli
