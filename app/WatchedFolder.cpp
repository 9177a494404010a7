#include "app/WatchedFolder.h"

#include "app/Text.h"
#include "channel/TCanalZEBCliente.h"
#include "crypto/THashFunctions.h"
#include "dataset/TransmissionRecord.h"
#include "platform/AsciiText.h"
#include "platform/BaseDir.h"
#include "platform/DurableFile.h"
#include "platform/Error.h"

#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace vek::app {
namespace fs = std::filesystem;

namespace {

bool endsWith(const std::string& text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

constexpr std::string_view RecordSuffix = ".registro.xml";
constexpr std::string_view CompanionSuffix = ".registro.recibo";
constexpr std::string_view ErrorSuffix = ".erro";

// The first free name in `dir` for the file and the two files that go beside it.
std::string freeName(const fs::path& dir, const std::string& name)
{
    const fs::path original(name);
    std::error_code ec;
    for (int n = 1;; ++n) {
        const std::string candidate =
            n == 1 ? name : original.stem().string() + "-" + std::to_string(n) + original.extension().string();
        if (!fs::exists(dir / candidate, ec) && !fs::exists(dir / (candidate + std::string(RecordSuffix)), ec) &&
            !fs::exists(dir / (candidate + std::string(CompanionSuffix)), ec) &&
            !fs::exists(dir / (candidate + std::string(ErrorSuffix)), ec)) {
            return candidate;
        }
    }
}

std::string readWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (!in) {
        throw Error("Não foi possível ler o registro da transmissão " + path.string());
    }
    return content.str();
}

}  // namespace

bool nomeIgnorado(const std::string& name)
{
    const std::string lower = platform::lowerAZ(name);
    return name.empty() || name[0] == '.' || endsWith(lower, ".tmp") || endsWith(lower, ".part");
}

WatchedFiles::WatchedFiles(fs::path entrada, std::chrono::milliseconds quiet)
    : entrada_(std::move(entrada))
    , quiet_(quiet)
{}

void WatchedFiles::touch(const std::string& name, Candidate& c, Clock::time_point now)
{
    c.since = now;
    std::error_code ec;
    c.size = fs::file_size(entrada_ / name, ec);
    c.mtime = fs::last_write_time(entrada_ / name, ec);
}

void WatchedFiles::scan(Clock::time_point now)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(entrada_, ec)) {
        const std::string name = entry.path().filename().string();
        if (nomeIgnorado(name) || !entry.is_regular_file(ec)) {
            continue;
        }
        Candidate& c = files_[name];
        c.closed = true;
        touch(name, c, now);
    }
}

void WatchedFiles::written(const std::string& name, Clock::time_point now)
{
    if (nomeIgnorado(name)) {
        return;
    }
    Candidate& c = files_[name];
    c.closed = true;
    touch(name, c, now);
}

void WatchedFiles::modified(const std::string& name)
{
    if (const auto it = files_.find(name); it != files_.end()) {
        it->second.closed = false;
    }
}

void WatchedFiles::gone(const std::string& name)
{
    files_.erase(name);
}

void WatchedFiles::taken(const std::string& name)
{
    files_.erase(name);
}

std::optional<std::string> WatchedFiles::nextReady(Clock::time_point now)
{
    std::optional<std::string> best;
    Clock::time_point bestSince{};
    for (auto it = files_.begin(); it != files_.end();) {
        Candidate& c = it->second;
        std::error_code ec;
        const fs::path path = entrada_ / it->first;
        if (!fs::is_regular_file(path, ec)) {
            it = files_.erase(it);
            continue;
        }
        if (c.closed && now - c.since >= quiet_) {
            const auto size = fs::file_size(path, ec);
            const auto mtime = fs::last_write_time(path, ec);
            if (size != c.size || mtime != c.mtime) {
                // Still changing although no notification said so.
                touch(it->first, c, now);
            } else if (!best || c.since < bestSince) {
                best = it->first;
                bestSince = c.since;
            }
        }
        ++it;
    }
    return best;
}

std::optional<WatchedFiles::Clock::duration> WatchedFiles::untilNext(Clock::time_point now) const
{
    std::optional<Clock::duration> wait;
    for (const auto& [name, c] : files_) {
        if (!c.closed) {
            continue;
        }
        const Clock::duration left = std::max(Clock::duration::zero(), c.since + quiet_ - now);
        if (!wait || left < *wait) {
            wait = left;
        }
    }
    return wait;
}

Colocacao colocarArquivo(const PastasVigiadas& pastas, const std::string& name, const UploadOutcome& outcome)
{
    if (!outcome.record) {
        throw Error("O registro da transmissão de " + name + " não pôde ser gravado em Protocolos; o arquivo fica em " +
                    pastas.entrada.string());
    }
    platform::syncPath(*outcome.record);
    const std::optional<fs::path> companheiro = dataset::companheiroDoRegistro(*outcome.record);
    if (companheiro) {
        platform::syncPath(*companheiro);
        platform::syncPath(companheiro->parent_path());
    }
    platform::syncPath(outcome.record->parent_path());

    std::error_code ec;
    if (!fs::exists(pastas.entrada / name, ec)) {
        throw Error("O arquivo " + (pastas.entrada / name).string() + " não está mais na pasta.", ENOENT);
    }
    const fs::path& dir = outcome.sent() ? pastas.enviados : pastas.falhas;
    fs::create_directories(dir);
    const std::string finalName = freeName(dir, name);
    Colocacao colocacao;
    colocacao.destino = dir / finalName;
    colocacao.registro = dir / (finalName + std::string(RecordSuffix));
    platform::writeFileDurably(colocacao.registro, readWhole(*outcome.record));
    // The receipt's own values go with the record, so that the moved file's
    // receipt can be printed whole from its copy.
    if (companheiro) {
        colocacao.recibo = dir / (finalName + std::string(CompanionSuffix));
        platform::writeFileDurably(*colocacao.recibo, readWhole(*companheiro));
    }
    if (!outcome.sent()) {
        colocacao.erro = dir / (finalName + std::string(ErrorSuffix));
        // The text alone, without the blanks around it that the core's texts may carry.
        platform::writeFileDurably(*colocacao.erro, trimmed(outcome.error) + "\n");
    }
    platform::moveDurably(pastas.entrada / name, colocacao.destino);
    return colocacao;
}

IdentidadeArquivo identificarArquivo(const fs::path& entrada, const std::string& nome)
{
    const fs::path caminho = entrada / nome;
    struct stat antes
    {
    };
    if (::stat(caminho.c_str(), &antes) != 0) {
        const int code = errno;
        throw Error("Não foi possível ler " + caminho.string(), code);
    }
    IdentidadeArquivo id;
    id.nome = nome;
    id.tamanho = static_cast<std::uintmax_t>(antes.st_size);
    id.modificacao = static_cast<std::int64_t>(antes.st_mtim.tv_sec) * 1000000000 + antes.st_mtim.tv_nsec;
    id.hash = crypto::THashFunctions::TigerFileHash(caminho.string());
    return id;
}

namespace {

constexpr const char* PastaRecibosPendentes = ".vek-recibos";

// One "key<TAB>hex of the value" line per field: any byte of a file name or a
// server's text survives the round trip.
std::string serializar(const ReciboPendente& r)
{
    const std::pair<const char*, std::string> campos[] = {
        {"nome", r.arquivo.nome},
        {"tamanho", std::to_string(r.arquivo.tamanho)},
        {"modificacao", std::to_string(r.arquivo.modificacao)},
        {"hash", r.arquivo.hash},
        {"protocolo", r.resultado.Protocolo},
        {"dataHora", r.resultado.DataHora},
        {"enderecoIP", r.resultado.EnderecoIP},
        {"autenticacao", r.resultado.Autenticacao},
        {"operadora", r.dados.registro},
        {"tipo", r.dados.tipoArquivo},
        {"arquivo", r.dados.arquivo},
        {"informacoes", r.dados.informacoes},
        {"nomeRegistro", r.nomeRegistro},
    };
    std::string text;
    for (const auto& [chave, valor] : campos) {
        text += std::string(chave) + '\t' + hex(valor) + '\n';
    }
    text += "fim\n";
    return text;
}

std::optional<ReciboPendente> desserializar(const std::string& text)
{
    std::map<std::string, std::string> campos;
    std::istringstream in(text);
    bool inteiro = false;
    for (std::string linha; std::getline(in, linha);) {
        if (linha == "fim") {
            inteiro = true;
            break;
        }
        const auto tab = linha.find('\t');
        if (tab == std::string::npos) {
            return std::nullopt;
        }
        auto valor = unhex(linha.substr(tab + 1));
        if (!valor) {
            return std::nullopt;
        }
        campos[linha.substr(0, tab)] = std::move(*valor);
    }
    for (const char* chave : {"nome", "tamanho", "modificacao", "hash", "protocolo", "nomeRegistro"}) {
        if (campos.count(chave) == 0) {
            return std::nullopt;
        }
    }
    if (!inteiro) {
        return std::nullopt;
    }
    ReciboPendente r;
    try {
        r.arquivo.nome = campos["nome"];
        r.arquivo.tamanho = std::stoull(campos["tamanho"]);
        r.arquivo.modificacao = std::stoll(campos["modificacao"]);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    r.arquivo.hash = campos["hash"];
    r.resultado.Sucesso = true;
    r.resultado.Protocolo = campos["protocolo"];
    r.resultado.DataHora = campos["dataHora"];
    r.resultado.EnderecoIP = campos["enderecoIP"];
    r.resultado.Autenticacao = campos["autenticacao"];
    r.dados.registro = campos["operadora"];
    r.dados.tipoArquivo = campos["tipo"];
    r.dados.arquivo = campos["arquivo"];
    r.dados.informacoes = campos["informacoes"];
    r.nomeRegistro = campos["nomeRegistro"];
    return r;
}

// Whether the record at `path` is the one of the receipt `protocolo`.
bool registroDoProtocolo(const fs::path& path, const std::string& protocolo)
{
    try {
        return dataset::lerRegistroTransmissao(path).protocoloTX == protocolo;
    } catch (const Error&) {
        return false;
    }
}

}  // namespace

RecibosPendentes::RecibosPendentes(fs::path entrada)
    : dir_(std::move(entrada) / PastaRecibosPendentes)
{}

fs::path RecibosPendentes::caminho(const std::string& nome) const
{
    // A name of any length and any bytes gives a short plain file name.
    const std::string bytes = nome;
    const auto digest =
        crypto::THashFunctions::tiger(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return dir_ / (hex(std::string(digest.begin(), digest.end())) + ".recibo");
}

void RecibosPendentes::gravar(const ReciboPendente& recibo) const
{
    std::error_code ec;
    if (!fs::is_directory(dir_, ec)) {
        fs::create_directory(dir_, ec);
        if (ec) {
            throw Error("Não foi possível criar a pasta " + dir_.string() + ": " + ec.message(), ec.value());
        }
        platform::syncPath(dir_.parent_path());
    }
    platform::writeFileDurably(caminho(recibo.arquivo.nome), serializar(recibo));
}

void RecibosPendentes::apagar(const std::string& nome) const
{
    std::error_code ec;
    fs::remove(caminho(nome), ec);
}

std::vector<ReciboPendente> RecibosPendentes::todos() const
{
    std::vector<ReciboPendente> all;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        const std::string name = entry.path().filename().string();
        if (!endsWith(name, ".recibo") || name[0] == '.' || !entry.is_regular_file(ec)) {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        if (auto recibo = desserializar(content.str())) {
            all.push_back(std::move(*recibo));
        }
    }
    return all;
}

std::vector<Retomado> retomarRecibos(const PastasVigiadas& pastas, const RecibosPendentes& recibos)
{
    std::vector<Retomado> retomados;
    for (const ReciboPendente& recibo : recibos.todos()) {
        const std::string& nome = recibo.arquivo.nome;
        std::error_code ec;
        std::optional<IdentidadeArquivo> atual;
        if (fs::is_regular_file(pastas.entrada / nome, ec)) {
            try {
                atual = identificarArquivo(pastas.entrada, nome);
            } catch (const Error&) {
                // Gone meanwhile: nothing of it to place.
            }
        }
        if (!atual || !(*atual == recibo.arquivo)) {
            recibos.apagar(nome);
            continue;
        }
        Retomado r{nome, {}, {}};
        r.outcome.end = UploadEnd::Sent;
        r.outcome.resultado = recibo.resultado;
        const fs::path registro = platform::baseDir() / "Protocolos" / recibo.nomeRegistro;
        // A record cut short before its companion is written again whole.
        if (fs::exists(registro, ec) && registroDoProtocolo(registro, recibo.resultado.Protocolo) &&
            dataset::companheiroDoRegistro(registro)) {
            r.outcome.record = registro;
        } else {
            const channel::TCanalZEBCliente canal;
            r.outcome.record = gravarRegistroEnvio(recibo.dados, recibo.resultado, canal, recibo.nomeRegistro);
        }
        r.colocacao = colocarArquivo(pastas, nome, r.outcome);
        recibos.apagar(nome);
        retomados.push_back(std::move(r));
    }
    return retomados;
}

}  // namespace vek::app
