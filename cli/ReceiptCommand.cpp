#include "app/Receipt.h"
#include "cli/CliContext.h"
#include "dataset/TransmissionRecord.h"
#include "platform/BaseDir.h"
#include "platform/Error.h"
#include "platform/SystemText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <ostream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vek::cli {

namespace {

namespace fs = std::filesystem;

// The program that draws the receipt (vek-recibo, installed with the window):
// beside vek-cli in a build tree, in ../libexec/vek/ of an installation.
std::optional<fs::path> programaDoRecibo()
{
    const fs::path dir = platform::executablePath().parent_path();
    for (const fs::path& candidate : {dir / "vek-recibo", dir.parent_path() / "libexec" / "vek" / "vek-recibo"}) {
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

// Runs `programa` with `args`, its standard error collected into `erros`;
// its exit status, or -1 when it could not start.
int executar(const fs::path& programa, const std::vector<std::string>& args, std::string& erros)
{
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) {
        throw Error(std::string("Não foi possível executar ") + programa.string() + ": " +
                    vek::platform::systemText(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    std::string nome = programa.string();
    argv.push_back(nome.data());
    std::vector<std::string> copia = args;
    for (auto& a : copia) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, nome.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipefd[1]);
    if (rc != 0) {
        ::close(pipefd[0]);
        throw Error("Não foi possível executar " + nome + ": " + vek::platform::systemText(rc));
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(pipefd[0], buf, sizeof buf);
        if (n > 0) {
            erros.append(buf, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipefd[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int cmdRecibo(Context& ctx)
{
    const auto parsed = parseOptions(ctx.args, {});
    if (parsed.positional.size() != 1) {
        throw UsageError("informe um registro de transmissão");
    }
    const auto programa = programaDoRecibo();
    if (!programa) {
        throw Error("O recibo em PDF é desenhado pelo programa vek-recibo, do pacote vek (a janela), que não está "
                    "instalado; instale-o (apt install vek) para gerar o recibo.");
    }
    const fs::path caminhoRegistro = parsed.positional.front();
    const dataset::RegistroTransmissao registro = dataset::lerRegistroTransmissao(caminhoRegistro);
    const auto valores = app::reciboParaImprimir(registro);
    if (!valores) {
        return ExitFailed;
    }
    const fs::path destino = fs::absolute(parsed.get("o").value_or(app::nomeArquivoRecibo(registro.protocoloTX)));
    std::error_code ec;
    if (fs::equivalent(destino, caminhoRegistro, ec)) {
        throw UsageError("o PDF não pode substituir o próprio registro");
    }
    std::string erros;
    const int status = executar(*programa, {fs::absolute(caminhoRegistro).string(), destino.string()}, erros);
    if (status != 0) {
        if (erros.empty()) {
            throw Error("O programa " + programa->string() + " não desenhou o recibo (estado " +
                        std::to_string(status) + ").");
        }
        // Its "VEK: " and "Erro: " lines, as vek-cli writes its own.
        size_t inicio = 0;
        while (inicio < erros.size()) {
            const size_t fim = std::min(erros.find('\n', inicio), erros.size());
            ctx.err.writeLine("", erros.substr(inicio, fim - inicio));
            inicio = fim + 1;
        }
        return ExitFailed;
    }
    ctx.out << destino.string() << '\n';
    return ExitOk;
}

}  // namespace vek::cli
