#pragma once

#include "crypto/BlockFile.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vek::crypto {

// Turns a file to send into a fresh 16-byte key and the list of blocks the
// upload transmits: the file is gzipped (level 1, header with its base name)
// into a work file in the temporary directory, the gzip bytes are enciphered
// with AES-192 in CBC mode as one chain, and the enciphered bytes are cut
// into blocks.
//
// Cipher: AES key = Tiger (first variant) of the 16-byte key; IV = AES of a
// zero block; every whole 16-byte block is chained as CBC; 1 to 15 remaining
// bytes are XORed with AES(V), V being the last ciphertext block (the IV when
// there is none). Nothing is added, so the enciphered size equals the gzip
// size. How the bytes are divided into pieces does not change the result.

// Step status values; equal to the channel's TTipoStatusEtapa values.
enum class PreparationStatus : std::uint8_t
{
    Nada = 0,
    Executando = 1,
    Finalizada = 2,
    Erro = 3,
};

inline constexpr int UploadBlockSize = 1280;
// Progress reports while splitting: one after every K-th block, with
// K = size div block size div ReportsWhileSplitting (at least 1).
inline constexpr int ReportsWhileSplitting = 40;

inline constexpr std::string_view TraceEnvioArquivo = "*** ENVIO DE ARQUIVO *** \r\r";
inline constexpr std::string_view TextoPreparandoCertificacao = "Preparando mecanismos de certificação...";
inline constexpr std::string_view TextoPreparandoArquivo = "Preparando arquivo para envio...";
inline constexpr std::string_view TextoProntoTransmissao = "Pronto para a transmissão";
inline constexpr std::string_view TextoErroPreparacao = "Erro na preparação dos dados.";

using SymmetricKey = std::array<std::uint8_t, 16>;
using AesKey192 = std::array<std::uint8_t, 24>;
using CipherBlock = std::array<std::uint8_t, 16>;
using DataBlocks = std::vector<std::vector<std::uint8_t>>;

struct PreparationCallbacks
{
    // Every report of the step in order: status, percent (0..100) and text.
    std::function<void(PreparationStatus status, int percent, const std::string& text)> report;
    // Trace lines.
    std::function<void(const std::string& line)> trace;
};

struct PreparedUpload
{
    SymmetricKey key{};
    DataBlocks blocks;
    // Sum of the block lengths: the enciphered (and gzip) size.
    std::int32_t tamanhoCifrado = 0;
    // The block size in force after the step (1280, or 1267 when lowered).
    int blockSize = UploadBlockSize;
};

// The same, with the blocks in the enciphered work file (constant memory
// for any size).
struct PreparedUploadFile
{
    SymmetricKey key{};
    BlockFile blocks;
};

struct WorkFiles
{
    std::filesystem::path compressed;  // stem + ticks + ".gz"
    std::filesystem::path enciphered;  // stem + ticks + ".cpt"
};

// Work-file names: the stem is the base name of `arquivo` up to its first "."
// (all of it without a dot), then the tick count in decimal.
WorkFiles workFilePaths(const std::string& arquivo, const std::filesystem::path& tempDir, std::uint32_t ticks);

// The whole preparation. Reports, in order: (Executando, 0, certificação),
// (Executando, 20, certificação), (Executando, 40, arquivo), (Executando, 60,
// arquivo), one (Executando, percent + 1 up to 100, arquivo) after every K-th
// block, (Finalizada, 100, pronto). On failure it reports (Erro, the last
// percent, TextoErroPreparacao) and throws vek::Error whose text is
// preparationErrorText(code) and whose code is the errno of the failure.
// The user interface processes its events once at the end, on success and
// on failure.
//
// The key comes from libgcrypt's strong random generator. The gzip work file
// is deleted once the blocks are being cut and kept after an earlier
// failure. The enciphered bytes go into the ".cpt" work file as they are
// produced (see BlockFile: it leaves nothing in the directory).
PreparedUploadFile prepareUploadFile(const std::string& arquivo,
                                     const std::filesystem::path& tempDir,
                                     int blockSize,
                                     const PreparationCallbacks& callbacks);

// The same preparation with the blocks read back into memory, for small files.
PreparedUpload prepareUpload(const std::string& arquivo,
                             const std::filesystem::path& tempDir,
                             int blockSize,
                             const PreparationCallbacks& callbacks);

// "<<CANAL_ZEB>> Erro na preparação dos dados. Código de erro do Windows: " + code.
std::string preparationErrorText(int code);

// Cuts enciphered bytes into blocks by the rule of the step: when the size is
// a multiple of `blockSize` the block size is lowered by 13; blocks of that
// size follow in order, and the list ends with the first block shorter than
// it (empty when the size is also a multiple of the lowered size). `percent`
// is the current preparation percent and is raised by one (up to 100) with a
// report after every K-th block. More than `maxTotal` bytes fail with
// "Arquivo grande demais para envio" (EFBIG).
struct BlockSplit
{
    DataBlocks blocks;
    int blockSize = UploadBlockSize;
    std::int32_t total = 0;
};
BlockSplit splitIntoBlocks(std::span<const std::uint8_t> enciphered,
                           int blockSize,
                           int& percent,
                           const PreparationCallbacks& callbacks,
                           std::uint64_t maxTotal = MaxEncipheredSize);

// The AES-192 key and the IV that a symmetric key gives.
AesKey192 uploadAesKey(const SymmetricKey& key);
CipherBlock uploadInitialVector(const SymmetricKey& key);

// The upload cipher over a stream of any piece sizes. The returned span is
// valid until the next call; the cipher state is wiped when the object dies.
class UploadEncipherer
{
public:
    explicit UploadEncipherer(const SymmetricKey& key);
    ~UploadEncipherer();
    UploadEncipherer(const UploadEncipherer&) = delete;
    UploadEncipherer& operator=(const UploadEncipherer&) = delete;

    [[nodiscard]] std::span<const std::uint8_t> update(std::span<const std::uint8_t> plain);
    // The 0 to 15 tail bytes.
    [[nodiscard]] std::span<const std::uint8_t> finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

class UploadDecipherer
{
public:
    explicit UploadDecipherer(const SymmetricKey& key);
    ~UploadDecipherer();
    UploadDecipherer(const UploadDecipherer&) = delete;
    UploadDecipherer& operator=(const UploadDecipherer&) = delete;

    [[nodiscard]] std::span<const std::uint8_t> update(std::span<const std::uint8_t> enciphered);
    [[nodiscard]] std::span<const std::uint8_t> finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The gzip bytes of an upload.
std::vector<std::uint8_t> decipherUpload(const SymmetricKey& key, std::span<const std::uint8_t> enciphered);

// Restores the original file of an upload, block by block, deciphering and
// expanding as the blocks come. finish() checks that the gzip data ended
// exactly, with its CRC and length right, and closes the destination; every
// failure throws vek::Error and leaves the partial destination on disk.
class UploadRestorer
{
public:
    UploadRestorer(const SymmetricKey& key, const std::filesystem::path& destination);
    ~UploadRestorer();
    UploadRestorer(const UploadRestorer&) = delete;
    UploadRestorer& operator=(const UploadRestorer&) = delete;

    void append(std::span<const std::uint8_t> enciphered);
    void finish();

    // Bytes written to the destination so far.
    [[nodiscard]] std::uint64_t restoredSize() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

void restoreUpload(const SymmetricKey& key, const DataBlocks& blocks, const std::filesystem::path& destination);
void restoreUpload(const SymmetricKey& key, const BlockFile& blocks, const std::filesystem::path& destination);
void restoreUpload(const SymmetricKey& key,
                   std::span<const std::uint8_t> enciphered,
                   const std::filesystem::path& destination);

}  // namespace vek::crypto
