#include "app/CrashPoint.h"
#include "app/SendRules.h"
#include "app/Text.h"
#include "app/UploadFlow.h"
#include "app/WatchedFolder.h"
#include "channel/TCanalZEBCliente.h"
#include "cli/CliContext.h"
#include "cli/JsonOutput.h"
#include "cli/ProgressBar.h"
#include "cli/StopSignals.h"
#include "platform/Clock.h"
#include "platform/DirectoryWatch.h"
#include "platform/Error.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vek::cli {
namespace {

namespace fs = std::filesystem;
using Clock = app::WatchedFiles::Clock;

// How long a file closed after writing must stay untouched before it is taken.
constexpr std::chrono::milliseconds QuietPeriod{1000};

std::string oneLine(std::string text)
{
    for (char& c : text) {
        if (c == '\t' || c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return text;
}

std::string isoNow()
{
    const auto t = platform::localNow();
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

struct Watch
{
    Context& ctx;
    app::PastasVigiadas pastas;
    std::string registro;
    std::optional<std::string> tipo;
    std::string senha;
    bool json = false;
    std::optional<app::RecibosPendentes> recibos;

    // The upload; its receipt is kept durably the moment it arrives.
    app::UploadOutcome send(const fs::path& arquivo, const app::IdentidadeArquivo& identidade)
    {
        app::AppState estado;
        estado.arquivo = arquivo.string();
        estado.registro = registro;
        estado.tipoArquivo = tipo.value_or(app::tipoDaExtensao(estado.arquivo));
        estado.senha = senha;
        channel::TCanalZEBCliente canal;
        canal.PrimeiroArgumento = ctx.firstArgument;
        ProgressBar progress(ctx.err);
        canal.AoEnviarArquivo = [&progress](channel::TCanalZEBCliente& c, const channel::TStatusUpload& s) {
            if (s.StatusTransmissao == channel::tseExecutando && s.PercentTransmissao > 20) {
                app::pontoDeQueda("durante-os-blocos");
            }
            progress.upload(s, c.TamanhoCifrado);
        };
        app::UploadOutcome outcome = app::runRecordedUpload(estado, canal, [&](const app::UploadOutcome& enviado) {
            app::pontoDeQueda("apos-o-recibo");
            try {
                recibos->gravar(
                    {identidade, enviado.resultado, app::dadosRegistro(estado), estado.nomeArquivoRegistro});
            } catch (const Error& e) {
                // The file is still placed with its record below; only a crash
                // before that would send it again.
                printError(ctx.err, e.what());
            }
        });
        progress.finish();
        return outcome;
    }

    // One line on standard output for a file placed.
    void report(const fs::path& arquivo,
                const std::string& name,
                const app::UploadOutcome& outcome,
                const std::optional<fs::path>& destino)
    {
        if (json) {
            writeUploadJson(ctx.out,
                            arquivo.string(),
                            outcome,
                            {{"Destino", destino ? std::optional(destino->string()) : std::nullopt, std::nullopt},
                             {"DataHoraLocal", isoNow(), std::nullopt}});
        } else {
            ctx.out << platform::formatTimestamp(platform::localNow()) << '\t'
                    << (outcome.sent() ? "enviado" : "falhou") << '\t' << oneLine(name) << '\t'
                    << oneLine(outcome.sent() ? outcome.resultado.Protocolo : app::trimmed(outcome.error)) << '\t'
                    << (destino ? destino->string() : std::string()) << '\n';
        }
        ctx.out.flush();
    }

    // The files a crash left with their receipt kept: placed, not sent again.
    void resume()
    {
        for (const auto& r : app::retomarRecibos(pastas, *recibos)) {
            report(pastas.entrada / r.nome, r.nome, r.outcome, r.colocacao.destino);
        }
    }

    // Sends one file, records its outcome and moves it; one line on standard output.
    void take(const std::string& name)
    {
        const fs::path arquivo = pastas.entrada / name;
        std::error_code ec;
        if (!fs::is_regular_file(arquivo, ec)) {
            return;  // removed by someone else before its turn
        }
        app::IdentidadeArquivo identidade;
        try {
            identidade = app::identificarArquivo(pastas.entrada, name);
        } catch (const Error&) {
            if (!fs::exists(arquivo, ec)) {
                return;
            }
            throw;
        }
        app::pontoDeQueda("antes-da-conexao");
        const app::UploadOutcome outcome = send(arquivo, identidade);
        app::pontoDeQueda("apos-o-registro");
        if (!outcome.sent()) {
            printError(ctx.err, outcome.error);
        }
        std::optional<fs::path> destino;
        try {
            destino = app::colocarArquivo(pastas, name, outcome).destino;
        } catch (const Error&) {
            if (fs::exists(arquivo, ec)) {
                throw;
            }
            // Removed by someone else during its upload: nothing left to move,
            // and its record stays in Protocolos.
            printError(ctx.err, "O arquivo " + arquivo.string() + " foi removido da pasta durante o envio.");
        }
        app::pontoDeQueda("apos-mover");
        if (outcome.sent()) {
            recibos->apagar(name);
        }
        report(arquivo, name, outcome, destino);
    }
};

}  // namespace

int cmdVigiar(Context& ctx)
{
    const auto args = parseOptions(ctx.args,
                                   {{"registro", true},
                                    {"pasta", true},
                                    {"enviados", true},
                                    {"falhas", true},
                                    {"tipo", true},
                                    {"senha-arquivo", true},
                                    {"json", false}});
    if (!args.positional.empty()) {
        throw UsageError("argumento inesperado: " + args.positional.front());
    }
    Watch watch{ctx, {}, args.required("registro"), args.get("tipo"), {}, args.has("json"), {}};
    watch.pastas.entrada = args.required("pasta");
    std::error_code ec;
    if (!fs::is_directory(watch.pastas.entrada, ec)) {
        throw UsageError("a pasta não existe: " + watch.pastas.entrada.string());
    }
    watch.pastas.enviados = args.get("enviados").value_or((watch.pastas.entrada / "enviados").string());
    watch.pastas.falhas = args.get("falhas").value_or((watch.pastas.entrada / "falhas").string());
    for (const auto& dir : {watch.pastas.enviados, watch.pastas.falhas}) {
        fs::create_directories(dir, ec);
        // A file moved back into the watched folder would be sent again and again.
        if (fs::equivalent(dir, watch.pastas.entrada, ec)) {
            throw UsageError("--enviados e --falhas devem ser outras pastas que não a observada");
        }
        if (!fs::is_directory(dir, ec)) {
            throw Error("Não foi possível criar a pasta " + dir.string());
        }
    }
    watch.senha = readCurrentPassword(args);
    watch.recibos.emplace(watch.pastas.entrada);

    StopSignals stop;
    // Watched before the first look, so that nothing arriving in between is missed.
    platform::DirectoryWatch notifications(watch.pastas.entrada);
    app::WatchedFiles files(watch.pastas.entrada, QuietPeriod);
    watch.resume();
    files.scan(Clock::now());
    for (;;) {
        int timeout = -1;
        if (const auto wait = files.untilNext(Clock::now())) {
            timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*wait).count());
        }
        pollfd fds[2] = {{stop.fd(), POLLIN, 0}, {notifications.fd(), POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            const int code = errno;
            throw Error(std::string("poll: ") + std::strerror(code), code);
        }
        if (stop.arrived()) {
            return ExitOk;
        }
        for (const auto& e : notifications.read()) {
            using Kind = platform::DirectoryWatch::Kind;
            switch (e.kind) {
            case Kind::Written:
            case Kind::MovedIn:
                files.written(e.name, Clock::now());
                break;
            case Kind::Modified:
                files.modified(e.name);
                break;
            case Kind::Gone:
                files.gone(e.name);
                break;
            case Kind::Overflow:
                files.scan(Clock::now());
                break;
            case Kind::DirectoryGone:
                throw Error("A pasta " + watch.pastas.entrada.string() + " deixou de existir.");
            }
        }
        while (const auto name = files.nextReady(Clock::now())) {
            files.taken(*name);
            watch.take(*name);
            if (stop.arrived()) {
                return ExitOk;
            }
        }
    }
}

}  // namespace vek::cli
