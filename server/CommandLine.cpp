#include "server/CommandLine.h"

#include "platform/Error.h"
#include "platform/ProductVersion.h"
#include "platform/Win1252.h"
#include "server/Availability.h"
#include "server/Demo.h"
#include "server/PasswordPrompt.h"
#include "server/Store.h"
#include "server/StoreAccess.h"
#include "server/ZebServer.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace vek::server {
namespace {

constexpr const char* Usage =
    "Uso: zebd [--dados DIR] [--endereco IP] [--porta N] [--porta-ftp N] [--demo] [--limite-envio BYTES]\n"
    "     zebd criar [--dados DIR]\n"
    "     zebd operadora [--dados DIR] --registro R\n"
    "     zebd tipos [--dados DIR] [--envio LISTA] [--download LISTA]\n"
    "     zebd disponibilizar [--dados DIR] --registro R --tipo T --arquivo CAMINHO --descricao TEXTO\n"
    "                         [--competencia MM/AAAA]\n"
    "     zebd recebidos [--dados DIR]\n"
    "     zebd --version\n"
    "\n"
    "Sem subcomando, serve até receber SIGINT ou SIGTERM. --porta 0 e --porta-ftp 0 escolhem portas livres;\n"
    "a linha \"zebd: mensagens IP:PORTA ftp IP:PORTA\" mostra as portas em uso; com --demo seguem as linhas\n"
    "do vek.INI de um cliente (ServidorInternet, PortaServico, PortaFTP).\n"
    "Banco de dados (--dados): padrão %s. O servidor cria o banco que falta; os comandos de\n"
    "administração só usam um banco que já existe (crie-o com \"zebd criar\"). Rodados como root num banco\n"
    "de outro usuário, passam a esse usuário antes de gravar.\n"
    "Senha da operadora: a variável ZEB_SENHA, ou perguntada duas vezes, sem eco, no terminal.\n"
    "Listas de tipos: itens COD#Descrição separados por \"|\", código de 3 caracteres.\n";

// The usage text with the default store of this program.
std::string usageText()
{
    std::string text = Usage;
    const std::filesystem::path dir = defaultDataDir();
    text.replace(text.find("%s"), 2, (dir.is_relative() ? "./" : "") + dir.string());
    return text;
}

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

// The store directory, and how a hint names it again ("" for the default).
struct StorePlace
{
    std::filesystem::path dir;
    std::string option;
};

StorePlace storePlaceOf(const Options& o)
{
    if (!o.has("dados")) {
        return {defaultDataDir(), ""};
    }
    const std::string dir = o.required("dados");
    return {dir, " --dados " + dir};
}

// The store of an administration command: it must exist already, so that a
// command run with a wrong or missing --dados does not report success into a
// store no server reads. Run as root on another user's store, the process
// becomes that user first.
std::filesystem::path existingStore(const Options& o)
{
    const StorePlace place = storePlaceOf(o);
    if (!storeExists(place.dir)) {
        throw Error("Não há banco do zebd em " + place.dir.string() + " (falta " + StoreFileName +
                    "). Crie-o com \"zebd criar" + place.option + "\" ou indique o banco com --dados DIR.");
    }
    adoptStoreOwner(place.dir);
    checkStoreWritable(place.dir);
    return place.dir;
}

int serve(const std::vector<std::string>& args,
          std::ostream& out,
          std::ostream& err,
          const std::function<void()>& waitForStop)
{
    const Options o =
        parseOptions(args, 0, {"dados", "endereco", "porta", "porta-ftp", "limite-envio"}, {"demo", "help"});
    const StorePlace place = storePlaceOf(o);
    ServerConfig config;
    config.dataDir = place.dir;
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

    adoptStoreOwner(config.dataDir);
    ZebServer server;
    server.start(config);
    for (const std::string& line : storeLacks(server.store(), place.option)) {
        config.log(line);
    }
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

int criar(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const Options o = parseOptions(args, 1, {"dados"}, {});
    const StorePlace place = storePlaceOf(o);
    const bool existed = storeExists(place.dir);
    if (!std::filesystem::exists(place.dir)) {
        if (place.dir.has_parent_path()) {
            std::filesystem::create_directories(place.dir.parent_path());
        }
        // The store holds password hashes and the server's key.
        if (::mkdir(place.dir.c_str(), 0700) != 0 && errno != EEXIST) {
            throw Error("Não foi possível criar " + place.dir.string() + ": " + std::strerror(errno), errno);
        }
    }
    adoptStoreOwner(place.dir);
    checkStoreWritable(place.dir);
    Store store(place.dir / StoreFileName);
    out << (existed ? "O banco em " + place.dir.string() + " já existia; nada mudou."
                    : "Banco criado em " + place.dir.string() + ".")
        << "\n";
    for (const std::string& line : storeLacks(store, place.option)) {
        err << "zebd: " << line << "\n";
    }
    return ExitOk;
}

int operadora(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, int terminal)
{
    const Options o = parseOptions(args, 1, {"dados", "registro"}, {});
    const std::string registro = o.required("registro");
    if (registro.size() != 6 || registro.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError("o registro da operadora tem seis dígitos: " + registro);
    }
    const char* fromEnvironment = std::getenv("ZEB_SENHA");
    const bool inEnvironment = fromEnvironment != nullptr && *fromEnvironment != '\0';
    if (!inEnvironment && terminal < 0) {
        throw UsageError("sem terminal para perguntar a senha da operadora: informe-a na variável de ambiente "
                         "ZEB_SENHA");
    }
    const std::filesystem::path dir = existingStore(o);
    const std::string senha = inEnvironment ? fromEnvironment : askNewPassword(terminal, err, registro);
    if (senha.empty()) {
        throw Error("Senha vazia; nada foi alterado.");
    }
    // The client's password travels enciphered as Windows-1252 bytes and is
    // trimmed of blanks when deciphered; a password that differs from its
    // trimmed form could never be matched.
    const std::string password = platform::toWin1252(senha);
    if (static_cast<unsigned char>(password.front()) <= ' ' || static_cast<unsigned char>(password.back()) <= ' ') {
        throw UsageError("a senha não pode começar nem terminar com espaço ou caractere de controle");
    }
    Store store(dir / StoreFileName, Store::Open::MustExist);
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
    Store store(existingStore(o) / StoreFileName, Store::Open::MustExist);
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
    Store store(existingStore(o) / StoreFileName, Store::Open::MustExist);
    out << "PROTOCOLO\tOPERADORA\tTIPO\tNOME\tTAMANHO\tCAMINHO\n";
    for (const UploadRecord& r : store.uploads()) {
        out << r.protocol << '\t' << cell(r.operatorId) << '\t' << cell(r.fileType) << '\t' << cell(r.fileName) << '\t'
            << r.size << '\t' << cell(r.storedPath) << '\n';
    }
    return ExitOk;
}

// The bytes behind `fd` into a new file `to`.
void copyDescriptor(int fd, const std::filesystem::path& to)
{
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        throw Error("Não foi possível criar " + to.string() + ": " + std::strerror(errno), errno);
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int code = errno;
            ::close(out);
            throw Error("Não foi possível ler o arquivo: " + std::string(std::strerror(code)), code);
        }
        if (n == 0) {
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w < 0) {
                const int code = errno;
                ::close(out);
                throw Error("Não foi possível gravar " + to.string() + ": " + std::strerror(code), code);
            }
            done += w;
        }
    }
    if (::close(out) != 0) {
        throw Error("Não foi possível gravar " + to.string() + ": " + std::strerror(errno), errno);
    }
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
    // Opened as the caller: after a switch to the store's owner the file may
    // no longer be readable by that user, so its bytes are copied into the
    // store first.
    const int source = ::open(request.arquivo.c_str(), O_RDONLY | O_CLOEXEC);
    struct Closer
    {
        int fd;
        ~Closer()
        {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    } closer{source};
    const uid_t caller = ::geteuid();
    const std::filesystem::path dir = existingStore(o);
    std::optional<std::filesystem::path> copy;
    struct Remover
    {
        std::optional<std::filesystem::path>& path;
        ~Remover()
        {
            if (path) {
                std::error_code ignored;
                std::filesystem::remove(*path, ignored);
            }
        }
    } remover{copy};
    if (source >= 0 && ::geteuid() != caller) {
        std::filesystem::create_directories(dir / AvailableDirName);
        copy = dir / AvailableDirName / (".origem-" + std::to_string(::getpid()));
        copyDescriptor(source, *copy);
        request.conteudo = *copy;
    }
    Store store(dir / StoreFileName, Store::Open::MustExist);
    out << makeFileAvailable(store, dir, request).id << "\n";
    return ExitOk;
}

}  // namespace

int runZebd(const std::vector<std::string>& args,
            std::ostream& out,
            std::ostream& err,
            const std::function<void()>& waitForStop,
            int terminal)
{
    // The store's umask is this run's only; the caller's comes back after.
    struct UmaskGuard
    {
        mode_t saved = ::umask(0);
        UmaskGuard() { ::umask(saved); }
        ~UmaskGuard() { ::umask(saved); }
    } umaskGuard;
    try {
        if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "ajuda")) {
            out << usageText();
            return ExitOk;
        }
        if (args.size() > 1 && args[1] == "--help") {
            out << usageText();
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
        if (command == "criar") {
            return criar(args, out, err);
        }
        if (command == "operadora") {
            return operadora(args, out, err, terminal);
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
        err << "Erro: " << e.what() << "\n" << usageText();
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
