#pragma once

#include "app/UploadFlow.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

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

}  // namespace vek::app
