#include "server/CommandLine.h"

#include "platform/Error.h"
#include "platform/ProductVersion.h"
#include "platform/Win1252.h"
#include "server/Availability.h"
#include "server/Demo.h"
#include "server/Store.h"
#include "server/ZebServer.h"

#include <charconv>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>

namespace vek::server {
namespace {

constexpr const char* Usage =
    "Uso: zebd [--dados DIR] [--endereco IP] [--porta N] [--porta-ftp N] [--demo] [--limite-envio BYTES]\n"
    "     zebd operadora --dados DIR --registro R      (senha em ZEB_SENHA)\n"
    "     zebd tipos --dados DIR [--envio LISTA] [--download LISTA]\n"
    "     zebd recebidos --dados DIR\n"
    "     zebd --version\n"
    "     zebd disponibilizar --dados DIR --registro R --tipo T --arquivo CAMINHO --descricao TEXTO\n"
    "                         [--competencia MM/AAAA]\n"
    "\n"
    "Sem subcomando, serve até receber SIGINT ou SIGTERM. --porta 0 e --porta-ftp 0 escolhem portas livres;\n"
    "a linha \"zebd: mensagens IP:PORTA ftp IP:PORTA\" mostra as portas em uso; com --demo seguem as linhas\n"
    "do vek.INI de um cliente (ServidorInternet, PortaServico, PortaFTP).\n"
    "Listas de tipos: itens COD#Descrição separados por \"|\", código de 3 caracteres.\n";

struct UsageError : Error
{
    using Error::Error;
};

// "--name value" and "--name=value" options; flags take no value.
struct Options
{
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    [[nodiscard]] bool has(const std::string& name) const { return values.count(name) != 0; }
    [[nodiscard]] std::string get(const std::string& name, const std::string& fallback = {}) const
    {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
    [[nodiscard]] std::string required(const std::string& name) const
    {
        if (!has(name) || get(name).empty()) {
            throw UsageError("falta a opção --" + name);
        }
        return get(name);
    }
};

Options parseOptions(const std::vector<std::string>& args,
                     std::size_t from,
                     const std::set<std::string>& valued,
                     const std::set<std::string>& flagNames)
{
    Options o;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            throw UsageError("argumento inesperado: " + a);
        }
        std::string name = a.substr(2);
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (flagNames.count(name) != 0 && !value) {
            o.flags.insert(name);
            continue;
        }
        if (valued.count(name) == 0) {
            throw UsageError("opção desconhecida: --" + name);
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                throw UsageError("falta o valor de --" + name);
            }
            value = args[++i];
        }
        o.values[name] = *value;
    }
    return o;
}

std::int64_t parseNumber(const std::string& text, const std::string& option, std::int64_t min, std::int64_t max)
{
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) {
        throw UsageError("valor inválido para --" + option + ": " + text);
    }
    return v;
}

// Items "COD#Descrição" joined by "|", each code three characters.
void checkTypeList(const std::string& list, const std::string& option)
{
    std::size_t from = 0;
    for (;;) {
        const auto bar = list.find('|', from);
        const std::string item = list.substr(from, bar - from);
        const auto hash = item.find('#');
        if (hash == std::string::npos || platform::utf8Length(item.substr(0, hash)) != 3) {
            throw UsageError("item inválido em --" + option + ": \"" + item + "\" (esperado COD#Descrição)");
        }
        if (bar == std::string::npos) {
            return;
        }
        from = bar + 1;
    }
}

// A table cell: tabs and line breaks inside a value become blanks.
std::string cell(std::string value)
{
    for (char& c : value) {
        if (c == '\t' || c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return value;
}

std::filesystem::path dataDirOf(const Options& o)
{
    const std::filesystem::path dir = o.get("dados", "zeb-dados");
    std::filesystem::create_directories(dir);
    return dir;
}

int serve(const std::vector<std::string>& args,
          std::ostream& out,
          std::ostream& err,
          const std::function<void()>& waitForStop)
{
    const Options o =
        parseOptions(args, 0, {"dados", "endereco", "porta", "porta-ftp", "limite-envio"}, {"demo", "help"});
    ServerConfig config;
    config.dataDir = o.get("dados", "zeb-dados");
    config.address = o.get("endereco", "127.0.0.1");
    config.messagePort = static_cast<std::uint16_t>(parseNumber(o.get("porta", "8080"), "porta", 0, 65535));
    config.ftpPort = static_cast<std::uint16_t>(parseNumber(o.get("porta-ftp", "2121"), "porta-ftp", 0, 65535));
    if (o.has("limite-envio")) {
        config.maxUploadSize = parseNumber(o.get("limite-envio"), "limite-envio", 0, INT32_MAX);
    }
    config.demo = o.flags.count("demo") != 0;
    auto logMutex = std::make_shared<std::mutex>();
    config.log = [&err, logMutex](const std::string& line) {
        std::lock_guard lock(*logMutex);
        err << "zebd: " << line << std::endl;
    };

    ZebServer server;
    server.start(config);
    // One write, so whoever waits for the lines finds them complete.
    std::string started = server.listeningLine() + "\n";
    if (config.demo) {
        started += demoClientConfiguration(server.address(), server.ports().mensagens, server.ports().ftp);
    }
    out << started << std::flush;
    waitForStop();
    server.stop();
    return ExitOk;
}

int operadora(const std::vector<std::string>& args, std::ostream& out)
{
    const Options o = parseOptions(args, 1, {"dados", "registro"}, {});
    const std::string registro = o.required("registro");
    if (registro.size() != 6 || registro.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError("o registro da operadora tem seis dígitos: " + registro);
    }
    const char* senha = std::getenv("ZEB_SENHA");
    if (senha == nullptr || *senha == '\0') {
        throw UsageError("informe a senha da operadora na variável de ambiente ZEB_SENHA");
    }
    // The client's password travels enciphered as Windows-1252 bytes and is
    // trimmed of blanks when deciphered; a password that differs from its
    // trimmed form could never be matched.
    const std::string password = platform::toWin1252(senha);
    if (static_cast<unsigned char>(password.front()) <= ' ' || static_cast<unsigned char>(password.back()) <= ' ') {
        throw UsageError("a senha não pode começar nem terminar com espaço ou caractere de controle");
    }
    Store store(dataDirOf(o) / StoreFileName);
    const bool existed = store.hasOperator(registro);
    store.setOperator(registro, password);
    out << "Operadora " << registro << (existed ? " atualizada." : " criada.") << "\n";
    return ExitOk;
}

int tipos(const std::vector<std::string>& args, std::ostream& out)
{
    const Options o = parseOptions(args, 1, {"dados", "envio", "download"}, {});
    if (o.has("envio")) {
        checkTypeList(o.get("envio"), "envio");
    }
    if (o.has("download")) {
        checkTypeList(o.get("download"), "download");
    }
    Store store(dataDirOf(o) / StoreFileName);
    if (o.has("envio")) {
        store.setTiposEnvio(o.get("envio"));
    }
    if (o.has("download")) {
        store.setTiposDownload(o.get("download"));
    }
    out << "envio\t" << cell(store.tiposEnvio()) << "\n";
    out << "download\t" << cell(store.tiposDownload()) << "\n";
    return ExitOk;
}

int recebidos(const std::vector<std::string>& args, std::ostream& out)
{
    const Options o = parseOptions(args, 1, {"dados"}, {});
    Store store(dataDirOf(o) / StoreFileName);
    out << "PROTOCOLO\tOPERADORA\tTIPO\tNOME\tTAMANHO\tCAMINHO\n";
    for (const UploadRecord& r : store.uploads()) {
        out << r.protocol << '\t' << cell(r.operatorId) << '\t' << cell(r.fileType) << '\t' << cell(r.fileName) << '\t'
            << r.size << '\t' << cell(r.storedPath) << '\n';
    }
    return ExitOk;
}

int disponibilizar(const std::vector<std::string>& args, std::ostream& out)
{
    const Options o = parseOptions(args, 1, {"dados", "registro", "tipo", "arquivo", "descricao", "competencia"}, {});
    AvailabilityRequest request;
    request.registro = o.required("registro");
    request.tipo = o.required("tipo");
    request.arquivo = o.required("arquivo");
    request.descricao = o.required("descricao");
    request.competencia = o.get("competencia");
    const std::filesystem::path dir = dataDirOf(o);
    Store store(dir / StoreFileName);
    out << makeFileAvailable(store, dir, request).id << "\n";
    return ExitOk;
}

}  // namespace

int runZebd(const std::vector<std::string>& args,
            std::ostream& out,
            std::ostream& err,
            const std::function<void()>& waitForStop)
{
    try {
        if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "ajuda")) {
            out << Usage;
            return ExitOk;
        }
        if (args.size() > 1 && args[1] == "--help") {
            out << Usage;
            return ExitOk;
        }
        if (!args.empty() && args[0] == "--version") {
            out << platform::versionLine("zebd");
            return ExitOk;
        }
        const std::string command = args.empty() || args[0].rfind("--", 0) == 0 ? std::string() : args[0];
        if (command.empty()) {
            return serve(args, out, err, waitForStop);
        }
        if (command == "operadora") {
            return operadora(args, out);
        }
        if (command == "tipos") {
            return tipos(args, out);
        }
        if (command == "recebidos") {
            return recebidos(args, out);
        }
        if (command == "disponibilizar") {
            return disponibilizar(args, out);
        }
        throw UsageError("comando desconhecido: " + command);
    } catch (const UsageError& e) {
        err << "Erro: " << e.what() << "\n" << Usage;
        return ExitUsage;
    } catch (const Error& e) {
        err << "Erro: " << e.what() << "\n";
        return ExitFailure;
    } catch (const std::filesystem::filesystem_error& e) {
        err << "Erro: " << e.what() << "\n";
        return ExitFailure;
    }
}

}  // namespace vek::server
