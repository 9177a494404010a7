#include "app/WatchedFolder.h"

#include "app/Text.h"
#include "dataset/TransmissionRecord.h"
#include "platform/AsciiText.h"
#include "platform/DurableFile.h"
#include "platform/Error.h"

#include <cerrno>
#include <fstream>
#include <sstream>

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

}  // namespace vek::app
