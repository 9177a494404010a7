#pragma once

#include "cli/Cli.h"
#include "cli/ErrorStream.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vek::channel {
struct TResultadoEnvio;
}

namespace vek::cli {

// A usage error: printed with the command's usage, exit code 2.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct OptionDef
{
    const char* name;
    bool takesValue;
};

// GNU-style options of one command ("--name value", "--name=value") and its
// positional arguments.
struct ParsedArgs
{
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;

    [[nodiscard]] bool has(const std::string& name) const { return options.count(name) != 0; }
    [[nodiscard]] std::optional<std::string> get(const std::string& name) const;
    // Throws UsageError when absent.
    [[nodiscard]] std::string required(const std::string& name) const;
};

ParsedArgs parseOptions(const std::vector<std::string>& args, const std::vector<OptionDef>& known);

struct Context
{
    std::vector<std::string> args;  // after the command name
    std::ostream& out;
    ErrorStream& err;
    std::string firstArgument;  // the program's first argument, for the channel
};

struct Command
{
    const char* name;
    const char* usage;
    const char* summary;
    std::function<int(Context&)> run;
};

const std::vector<Command>& commands();

// The "Erro: " line of an error raised by an operation.
void printError(ErrorStream& err, const std::string& message);

// Passwords: the variable when set (even empty), else a prompt without echo
// on a terminal, else a usage error.
std::string readPassword(const char* variable, const char* prompt);

// The current password, from the first source there is: the first line of
// the file given with --senha-arquivo (refused when its group or others may
// read it, or another user owns it), the systemd credential
// $CREDENTIALS_DIRECTORY/vek-senha, VEK_SENHA, a prompt on a terminal.
std::string readCurrentPassword(const ParsedArgs& args, const char* prompt = "Senha de transmissão: ");

// The first line of a password file, without its line end; with
// `privateOnly`, refused (UsageError) unless only its owner (the user or
// root) may read it.
std::string readPasswordFile(const std::filesystem::path& path, bool privateOnly);

// The receipt lines of a successful upload (enviar, parametros).
void printReceipt(std::ostream& out,
                  const channel::TResultadoEnvio& resultado,
                  const std::optional<std::filesystem::path>& registro);

int cmdEnviar(Context& ctx);
int cmdAlterarSenha(Context& ctx);
int cmdListar(Context& ctx);
int cmdBaixar(Context& ctx);
int cmdHistorico(Context& ctx);
int cmdTiposEnvio(Context& ctx);
int cmdTiposDownload(Context& ctx);
int cmdDecifrarTrace(Context& ctx);
int cmdCrc32(Context& ctx);
int cmdTiger(Context& ctx);
int cmdParametros(Context& ctx);
int cmdGerarParametros(Context& ctx);
int cmdVigiar(Context& ctx);
int cmdReceber(Context& ctx);
int cmdRecibo(Context& ctx);

}  // namespace vek::cli
