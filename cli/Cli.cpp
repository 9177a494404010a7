#include "cli/Cli.h"

#include "channel/ConfigurationCheck.h"
#include "cli/CliContext.h"
#include "cli/CliUiServices.h"
#include "platform/Error.h"
#include "platform/ProductVersion.h"
#include "platform/UiServices.h"

#include <clocale>
#include <cstdio>
#include <iostream>
#include <langinfo.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

namespace vek::cli {

std::optional<std::string> ParsedArgs::get(const std::string& name) const
{
    const auto it = options.find(name);
    if (it == options.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::string ParsedArgs::required(const std::string& name) const
{
    auto v = get(name);
    if (!v) {
        throw UsageError("falta a opção --" + name);
    }
    return *v;
}

ParsedArgs parseOptions(const std::vector<std::string>& args, const std::vector<OptionDef>& known)
{
    ParsedArgs parsed;
    bool onlyPositional = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyPositional || a.size() < 3 || a.rfind("--", 0) != 0) {
            if (a == "--") {
                onlyPositional = true;
                continue;
            }
            if (!onlyPositional && a.size() > 1 && a[0] == '-' && a != "-o") {
                throw UsageError("opção desconhecida: " + a);
            }
            if (a == "-o") {
                if (i + 1 >= args.size()) {
                    throw UsageError("a opção -o precisa de um valor");
                }
                parsed.options["o"] = args[++i];
                continue;
            }
            parsed.positional.push_back(a);
            continue;
        }
        std::string name = a.substr(2);
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const OptionDef* option = nullptr;
        for (const auto& candidate : known) {
            if (name == candidate.name) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            throw UsageError("opção desconhecida: --" + name);
        }
        if (option->takesValue) {
            if (!value) {
                if (i + 1 >= args.size()) {
                    throw UsageError("a opção --" + name + " precisa de um valor");
                }
                value = args[++i];
            }
            parsed.options[name] = *value;
        } else {
            if (value) {
                throw UsageError("a opção --" + name + " não aceita valor");
            }
            parsed.options[name] = "";
        }
    }
    return parsed;
}

void printError(ErrorStream& err, const std::string& message)
{
    err.writeLine("Erro: ", message);
}

void useEnvironmentLocale()
{
    std::setlocale(LC_ALL, "");
    // Texts are UTF-8 inside the program and on output; a locale of another
    // encoding keeps its other categories and takes UTF-8 characters.
    const char* codeset = nl_langinfo(CODESET);
    if (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0) {
        return;
    }
    std::string name = std::setlocale(LC_CTYPE, nullptr);
    name = name.substr(0, name.find_first_of(".@")) + ".UTF-8";
    for (const char* candidate : {name.c_str(), "C.UTF-8", "C.utf8"}) {
        if (std::setlocale(LC_CTYPE, candidate) != nullptr) {
            return;
        }
    }
}

std::string readPassword(const char* variable, const char* prompt)
{
    if (const char* v = std::getenv(variable)) {
        return v;
    }
    if (!isatty(STDIN_FILENO)) {
        throw UsageError(std::string("senha não informada: defina ") + variable);
    }
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::string line;
    std::getline(std::cin, line);
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fprintf(stderr, "\n");
    return line;
}

namespace {

// Commands that never reach the server. `parametros` does, but says every
// failure in its own exit codes and response file: an unconfigured client is
// its connection error.
bool startsWithoutServer(const std::string& command)
{
    for (const char* name : {"gerar-parametros", "recibo", "decifrar-trace", "crc32", "tiger", "parametros"}) {
        if (command == name) {
            return true;
        }
    }
    return false;
}

void printHelp(std::ostream& out)
{
    out << "Uso: vek-cli COMANDO [opções] [argumentos]\n\n"
           "O cliente VEK sem janela. Configuração, rastreamento, temp/ e Protocolos/ ficam no\n"
           "diretório base: VEK_DIR; senão o diretório do programa, se ele puder ser gravado e não for\n"
           "um diretório de programas do sistema; senão (programa instalado) $XDG_DATA_HOME/vek, por padrão\n"
           "~/.local/share/vek, onde /etc/vek/vek.INI vale por baixo do vek.INI do usuário, chave a chave (as\n"
           "chaves do usuário valem); sem ServidorInternet em nenhum dos dois, os comandos que falam com o\n"
           "servidor terminam sem conectar, com a saída 2 (parametros: 4).\n"
           "Senha atual, nesta ordem: --senha-arquivo ARQ (a primeira linha; recusado se o grupo ou outros podem\n"
           "lê-lo), a credencial do systemd $CREDENTIALS_DIRECTORY/vek-senha, VEK_SENHA, e num terminal a pergunta.\n"
           "Senha nova: VEK_NOVA_SENHA, senão a pergunta.\n\n"
           "Comandos:\n";
    for (const auto& c : commands()) {
        out << "  " << c.name;
        for (std::size_t n = std::string(c.name).size(); n < 18; ++n) {
            out << ' ';
        }
        out << c.summary << '\n';
    }
    out << "\n`vek-cli COMANDO --help` mostra o uso de cada comando; `vek-cli --version`, a versão.\n"
           "Saída: 0 sucesso; 1 a operação falhou ou o servidor recusou; 2 erro de uso ou de entrada\n"
           "(parametros tem códigos próprios: vek-cli parametros --help).\n"
           "--json (enviar, listar, baixar, historico, tipos-envio, tipos-download, parametros, vigiar, receber): um\n"
           "objeto JSON por resultado, um por linha, com os nomes de campo descritos em vek-cli(1).\n";
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    if (args.empty()) {
        printHelp(err);
        return ExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp(out);
        return ExitOk;
    }
    if (args[0] == "--version") {
        out << platform::versionLine("vek-cli");
        return ExitOk;
    }
    const Command* command = nullptr;
    for (const auto& c : commands()) {
        if (args[0] == c.name) {
            command = &c;
        }
    }
    if (command == nullptr) {
        err << "vek-cli: comando desconhecido: " << args[0] << "\n";
        printHelp(err);
        return ExitUsage;
    }
    ErrorStream errors(err, errIsTerminal);
    Context ctx{std::vector<std::string>(args.begin() + 1, args.end()), out, errors, args[0]};
    for (const auto& a : ctx.args) {
        if (a == "--help" || a == "-h") {
            out << "Uso: vek-cli " << command->usage << "\n\n" << command->summary << "\n";
            return ExitOk;
        }
    }
    CliUiServices ui(errors);
    platform::ScopedUi scope(ui);
    try {
        if (!startsWithoutServer(command->name)) {
            if (const auto message = channel::unconfiguredMessage()) {
                printError(errors, *message);
                return ExitUsage;
            }
        }
        return command->run(ctx);
    } catch (const UsageError& e) {
        err << "vek-cli " << command->name << ": " << e.what() << "\nUso: vek-cli " << command->usage << "\n";
        return ExitUsage;
    } catch (const Error& e) {
        printError(errors, e.what());
        return ExitFailed;
    } catch (const std::exception& e) {
        printError(errors, e.what());
        return ExitFailed;
    }
}

}  // namespace vek::cli
