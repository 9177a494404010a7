#pragma once

#include "app/UploadFlow.h"
#include "app/UploadRecord.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vek::app {

// The watched folder: files dropped into an input folder are sent one by one
// and then moved, with a copy of their transmission record beside them, into
// the folder of the sent ones or of the failed ones.

// Names the folder leaves alone: hidden files (a leading ".") and files still
// being written under a temporary name (".tmp", ".part", in any case).
bool nomeIgnorado(const std::string& name);

// Which files of the input folder are ready to be taken. A file is a
// candidate once it was closed after writing, renamed into the folder, or
// found there (at start, or after lost notifications); a write takes the
// candidacy away until the next close. A candidate is ready after a quiet
// period without notifications, with its size and modification time as they
// were at its last notification (else the period starts again).
class WatchedFiles
{
public:
    using Clock = std::chrono::steady_clock;

    WatchedFiles(std::filesystem::path entrada, std::chrono::milliseconds quiet);

    // Every regular file of the folder that is not ignored becomes a candidate.
    void scan(Clock::time_point now);
    void written(const std::string& name, Clock::time_point now);
    void modified(const std::string& name);
    void gone(const std::string& name);
    // Forgets a file handed out by nextReady.
    void taken(const std::string& name);

    // The candidate that has been ready longest.
    std::optional<std::string> nextReady(Clock::time_point now);
    // How long until the next candidate may be ready; nothing when none is waiting.
    [[nodiscard]] std::optional<Clock::duration> untilNext(Clock::time_point now) const;

private:
    struct Candidate
    {
        bool closed = false;
        Clock::time_point since{};
        std::uintmax_t size = 0;
        std::filesystem::file_time_type mtime{};
    };
    void touch(const std::string& name, Candidate& c, Clock::time_point now);

    std::filesystem::path entrada_;
    std::chrono::milliseconds quiet_;
    std::map<std::string, Candidate> files_;
};

struct PastasVigiadas
{
    std::filesystem::path entrada;
    std::filesystem::path enviados;
    std::filesystem::path falhas;
};

// Where a file went.
struct Colocacao
{
    std::filesystem::path destino;
    std::filesystem::path registro;               // the record's copy beside it: "<name>.registro.xml"
    std::optional<std::filesystem::path> recibo;  // its companion's copy: "<name>.registro.recibo"
    std::optional<std::filesystem::path> erro;    // failures: "<name>.erro" with the error text
};

// Records the outcome of a file of the input folder and then moves it: the
// transmission record (which must have been written) is flushed to disk, its
// copy, its companion's copy (when it has one) and, for a failure, the error text are written beside the file's new
// place, and only then is the file moved there, under its own name or, when
// that is taken, "<stem>-2<ext>", "-3"… A crash at any point leaves the file
// either still in the input folder or moved with its record. Throws
// vek::Error when any step fails; the file then stays where it was.
Colocacao colocarArquivo(const PastasVigiadas& pastas, const std::string& name, const UploadOutcome& outcome);

// What tells a file of the input folder apart from another one of the same
// name: its size, modification time and the Tiger hash of its content.
struct IdentidadeArquivo
{
    std::string nome;
    std::uintmax_t tamanho = 0;
    std::int64_t modificacao = 0;  // the file clock's ticks
    std::string hash;

    bool operator==(const IdentidadeArquivo&) const = default;
};

// Throws vek::Error when the file cannot be read.
IdentidadeArquivo identificarArquivo(const std::filesystem::path& entrada, const std::string& nome);

// A receipt the server gave for a file that may still be in the input folder.
struct ReciboPendente
{
    IdentidadeArquivo arquivo;
    channel::TResultadoEnvio resultado;
    DadosRegistro dados;       // what the transmission record holds
    std::string nomeRegistro;  // the record's name in Protocolos
};

// The receipts of the files not yet placed, one file each in the hidden
// folder ".vek-recibos" of the input folder (which the watch ignores, as it
// ignores every hidden name). A receipt is written as soon as it arrives and
// removed once its file was placed, so that a watch started after a crash
// places a file that was already sent instead of sending it again.
class RecibosPendentes
{
public:
    explicit RecibosPendentes(std::filesystem::path entrada);

    // Through a temporary file, flushed and renamed into place, its folder
    // flushed: once it returns, a crash no longer loses the receipt. Throws
    // vek::Error when it cannot be written.
    void gravar(const ReciboPendente& recibo) const;
    void apagar(const std::string& nome) const;
    // Every receipt kept; a damaged entry (a write cut short before its
    // rename never leaves one) is skipped.
    [[nodiscard]] std::vector<ReciboPendente> todos() const;

private:
    [[nodiscard]] std::filesystem::path caminho(const std::string& nome) const;

    std::filesystem::path dir_;
};

// A file a watch started after a crash found already sent.
struct Retomado
{
    std::string nome;
    UploadOutcome outcome;
    Colocacao colocacao;
};

// At the watch's start: each kept receipt whose file is still in the input
// folder, unchanged, has its transmission record written into Protocolos
// when it never got there, and the file is placed as sent; it is not sent
// again. A receipt whose file is gone (it was placed before the crash) or
// changed (another file of that name now, to be sent like any other) is
// dropped. Throws vek::Error when a file cannot be placed; its receipt stays.
std::vector<Retomado> retomarRecibos(const PastasVigiadas& pastas, const RecibosPendentes& recibos);

}  // namespace vek::app
