#include "app/AppState.h"
#include "app/DownloadRow.h"
#include "app/InputChecks.h"
#include "app/ReceiveLoop.h"
#include "app/SendRules.h"
#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/JsonOutput.h"
#include "cli/ProgressBar.h"
#include "cli/StopSignals.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <nlohmann/json.hpp>
#include <ostream>
#include <poll.h>

namespace vek::cli {
namespace {

namespace fs = std::filesystem;

constexpr int IntervaloPadraoMinutos = 15;
// A week: a longer wait is a typing error, and poll's timeout stays in range.
constexpr int IntervaloMaximoMinutos = 7 * 24 * 60;

int intervaloMinutos(const std::string& texto)
{
    int minutos = 0;
    std::size_t usados = 0;
    try {
        minutos = std::stoi(texto, &usados);
    } catch (const std::exception&) {
        usados = 0;
    }
    if (usados == 0 || usados != texto.size() || minutos < 1 || minutos > IntervaloMaximoMinutos) {
        throw UsageError("--intervalo deve ser um número inteiro de minutos de 1 a " +
                         std::to_string(IntervaloMaximoMinutos) + ": " + texto);
    }
    return minutos;
}

// The identifier as the list gives it: a whole number stays a number.
nlohmann::json idJson(const std::string& id)
{
    if (!id.empty() && id.size() < 19 && id.find_first_not_of("0123456789") == std::string::npos) {
        return std::stoll(id);
    }
    return id;
}

}  // namespace

int cmdReceber(Context& ctx)
{
    const auto args = parseOptions(ctx.args,
                                   {{"registro", true},
                                    {"tipo", true},
                                    {"pasta", true},
                                    {"competencia", true},
                                    {"disponibilizacao", true},
                                    {"uma-vez", false},
                                    {"intervalo", true},
                                    {"senha-arquivo", true},
                                    {"json", false}});
    if (!args.positional.empty()) {
        throw UsageError("argumento inesperado: " + args.positional.front());
    }
    const std::string registro = args.required("registro");
    const std::string tipo = args.required("tipo");
    const fs::path pasta = args.required("pasta");
    const bool umaVez = args.has("uma-vez");
    if (umaVez && args.has("intervalo")) {
        throw UsageError("use --uma-vez ou --intervalo, não os dois");
    }
    const int minutos = args.has("intervalo") ? intervaloMinutos(*args.get("intervalo")) : IntervaloPadraoMinutos;
    std::error_code ec;
    if (!fs::is_directory(pasta, ec)) {
        throw UsageError("a pasta não existe: " + pasta.string());
    }
    const std::string competencia = args.get("competencia").value_or("");
    const std::string disponibilizacao = args.get("disponibilizacao").value_or("");
    const auto check = app::checkMonthFilters(competencia, disponibilizacao);
    if (!check.ok()) {
        ctx.err.writeLine("", app::cliLine(check));
        return app::exitCode(check);
    }
    app::AppState estado;
    estado.registro = registro;
    estado.senha = readCurrentPassword(args);
    const bool json = args.has("json");

    app::RegistroRecebidos recebidos(app::RegistroRecebidos::caminhoPadrao(registro, tipo));
    app::ReceiveLoop loop(fs::absolute(pasta), recebidos);
    // SIGUSR1 starts the next round at once.
    StopSignals signals(SIGUSR1);
    bool stop = false;
    const auto drain = [&] {
        for (int s = signals.next(); s != 0; s = signals.next()) {
            if (s != SIGUSR1) {
                stop = true;
            }
        }
    };

    app::ReceiveLoop::Eventos eventos;
    eventos.recebido = [&](const app::ArquivoRecebido& r, const dataset::ListTable* tabela) {
        if (!json) {
            ctx.out << r.caminho.string() << '\n';
        } else if (tabela != nullptr) {
            writeDownloadJson(ctx.out, r.caminho.string(), *tabela, r.linha);
        } else {
            ctx.out << nlohmann::json{{"Caminho", r.caminho.string()},
                                      {"ID_ARQUIVO_DISPONIVEL", idJson(r.id)},
                                      {"NM_ARQUIVO", nullptr}}
                           .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                    << '\n';
        }
        ctx.out.flush();
    };
    eventos.falhou = [&](const app::FalhaRecebimento& f) {
        printError(ctx.err, f.nome + " (ID_ARQUIVO_DISPONIVEL " + f.id + "): " + f.erro);
    };
    eventos.parar = [&] {
        drain();
        return stop;
    };

    for (;;) {
        bool ok = false;
        {
            channel::TCanalZEBCliente canal;
            canal.PrimeiroArgumento = ctx.firstArgument;
            app::applyOperator(estado, canal);
            ProgressBar progress(ctx.err);
            canal.AoConsultarListaDownload = [&progress](channel::TCanalZEBCliente&,
                                                         channel::TTipoStatusEtapa,
                                                         std::int32_t pct,
                                                         const std::string& t) { progress.simple(pct, t); };
            canal.AoReceberArquivo = [&progress](channel::TCanalZEBCliente&, const channel::TStatusDownload& s) {
                progress.simple(s.PercentFeito, s.TextoInfo);
            };
            app::FonteCanal fonte(canal, tipo, competencia, disponibilizacao);
            try {
                ok = loop.rodada(fonte, eventos);
            } catch (const Error& e) {
                progress.finish();
                printError(ctx.err, e.what());
            }
            progress.finish();
            // A failed download's enciphered part and anything this round
            // brought into temp/ and did not place.
            app::apagarDownloadsNaoGuardados();
        }
        if (umaVez) {
            return ok ? ExitOk : ExitFailed;
        }
        drain();
        if (stop) {
            return ExitOk;
        }
        pollfd fd{signals.fd(), POLLIN, 0};
        if (poll(&fd, 1, minutos * 60 * 1000) < 0 && errno != EINTR) {
            const int code = errno;
            throw Error(std::string("poll: ") + std::strerror(code), code);
        }
        drain();
        if (stop) {
            return ExitOk;
        }
    }
}

}  // namespace vek::cli
