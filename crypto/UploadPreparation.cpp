#include "crypto/UploadPreparation.h"

#include "crypto/Gcrypt.h"
#include "crypto/TGzip.h"
#include "crypto/THashFunctions.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/UiServices.h"
#include "wire/UserMessage.h"

#include <gcrypt.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <optional>
#include <unistd.h>

namespace vek::crypto {

namespace {

constexpr std::size_t AesBlock = 16;
static_assert(UploadBlockSize % AesBlock == 0, "blocks of the usual size start on cipher block boundaries");

class CipherHandle
{
public:
    CipherHandle(int mode, const AesKey192& key)
    {
        ensureGcrypt();
        if (const auto err = gcry_cipher_open(&hd_, GCRY_CIPHER_AES192, mode, 0); err != 0) {
            throw Error(gcryptMessage(err), EINVAL);
        }
        if (const auto err = gcry_cipher_setkey(hd_, key.data(), key.size()); err != 0) {
            throw Error(gcryptMessage(err), EINVAL);
        }
    }
    // Closing wipes the key schedule and the chaining state.
    ~CipherHandle() { gcry_cipher_close(hd_); }
    CipherHandle(const CipherHandle&) = delete;
    CipherHandle& operator=(const CipherHandle&) = delete;

    gcry_cipher_hd_t get() const { return hd_; }

private:
    gcry_cipher_hd_t hd_ = nullptr;
};

void check(gcry_error_t err)
{
    if (err != 0) {
        throw Error(gcryptMessage(err), EIO);
    }
}

CipherBlock encryptBlock(const CipherHandle& ecb, const CipherBlock& in)
{
    CipherBlock out{};
    check(gcry_cipher_encrypt(ecb.get(), out.data(), out.size(), in.data(), in.size()));
    return out;
}

// What the encipherer and the decipherer share: an ECB handle for the IV and
// the tail, a CBC handle for the chain, the bytes waiting for a whole block,
// and the last ciphertext block.
struct ChainState
{
    explicit ChainState(const SymmetricKey& key)
        : ChainState(uploadAesKey(key))
    {}
    explicit ChainState(AesKey192 aesKey)
        : ecb(GCRY_CIPHER_MODE_ECB, aesKey)
        , cbc(GCRY_CIPHER_MODE_CBC, aesKey)
    {
        explicit_bzero(aesKey.data(), aesKey.size());
        last = encryptBlock(ecb, CipherBlock{});
        check(gcry_cipher_setiv(cbc.get(), last.data(), last.size()));
    }
    ~ChainState() { explicit_bzero(last.data(), last.size()); }

    // Gathers the carried bytes and `in` into `work`; returns the length of
    // the whole-block prefix and keeps the rest as the new carry.
    std::size_t gather(std::span<const std::uint8_t> in)
    {
        const std::size_t total = carryLength + in.size();
        const std::size_t whole = total / AesBlock * AesBlock;
        if (whole == 0) {
            std::copy(in.begin(), in.end(), carry.begin() + static_cast<std::ptrdiff_t>(carryLength));
            carryLength = total;
            return 0;
        }
        if (work.size() < whole) {
            work.resize(whole);
        }
        std::copy_n(carry.begin(), carryLength, work.begin());
        const std::size_t fromIn = whole - carryLength;
        std::copy_n(in.begin(), fromIn, work.begin() + static_cast<std::ptrdiff_t>(carryLength));
        carryLength = in.size() - fromIn;
        std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(fromIn), carryLength, carry.begin());
        return whole;
    }

    // The tail rule: XOR with AES(V).
    std::span<const std::uint8_t> tail()
    {
        const CipherBlock pad = encryptBlock(ecb, last);
        for (std::size_t i = 0; i < carryLength; ++i) {
            carry[i] ^= pad[i];
        }
        const std::size_t n = carryLength;
        carryLength = 0;
        return {carry.data(), n};
    }

    CipherHandle ecb;
    CipherHandle cbc;
    CipherBlock last{};
    CipherBlock carry{};
    std::size_t carryLength = 0;
    std::vector<std::uint8_t> work;
};

void report(const PreparationCallbacks& callbacks, PreparationStatus status, int percent, std::string_view text)
{
    if (callbacks.report) {
        callbacks.report(status, percent, std::string(text));
    }
}

// One report after every K-th block, the percent rising by one up to 100.
void reportSplit(
    std::size_t count, std::uint64_t total, int blockSize, int& percent, const PreparationCallbacks& callbacks)
{
    std::size_t k = static_cast<std::size_t>(total) / static_cast<std::size_t>(blockSize) /
                    static_cast<std::size_t>(ReportsWhileSplitting);
    if (k == 0) {
        k = 1;
    }
    for (std::size_t i = 1; i <= count; ++i) {
        if (i % k == 0) {
            percent = std::min(percent + 1, 100);
            report(callbacks, PreparationStatus::Executando, percent, TextoPreparandoArquivo);
        }
    }
}

}  // namespace

struct UploadEncipherer::State : ChainState
{
    using ChainState::ChainState;
};

struct UploadDecipherer::State : ChainState
{
    using ChainState::ChainState;
};

AesKey192 uploadAesKey(const SymmetricKey& key)
{
    return THashFunctions::tiger(key);
}

CipherBlock uploadInitialVector(const SymmetricKey& key)
{
    const CipherHandle ecb(GCRY_CIPHER_MODE_ECB, uploadAesKey(key));
    return encryptBlock(ecb, CipherBlock{});
}

UploadEncipherer::UploadEncipherer(const SymmetricKey& key)
    : state_(std::make_unique<State>(key))
{}

UploadEncipherer::~UploadEncipherer() = default;

std::span<const std::uint8_t> UploadEncipherer::update(std::span<const std::uint8_t> plain)
{
    auto& s = *state_;
    const std::size_t whole = s.gather(plain);
    if (whole == 0) {
        return {};
    }
    check(gcry_cipher_encrypt(s.cbc.get(), s.work.data(), whole, nullptr, 0));
    std::copy_n(s.work.begin() + static_cast<std::ptrdiff_t>(whole - AesBlock), AesBlock, s.last.begin());
    return {s.work.data(), whole};
}

std::span<const std::uint8_t> UploadEncipherer::finish()
{
    return state_->tail();
}

UploadDecipherer::UploadDecipherer(const SymmetricKey& key)
    : state_(std::make_unique<State>(key))
{}

UploadDecipherer::~UploadDecipherer() = default;

std::span<const std::uint8_t> UploadDecipherer::update(std::span<const std::uint8_t> enciphered)
{
    auto& s = *state_;
    const std::size_t whole = s.gather(enciphered);
    if (whole == 0) {
        return {};
    }
    std::copy_n(s.work.begin() + static_cast<std::ptrdiff_t>(whole - AesBlock), AesBlock, s.last.begin());
    check(gcry_cipher_decrypt(s.cbc.get(), s.work.data(), whole, nullptr, 0));
    return {s.work.data(), whole};
}

std::span<const std::uint8_t> UploadDecipherer::finish()
{
    return state_->tail();
}

std::vector<std::uint8_t> decipherUpload(const SymmetricKey& key, std::span<const std::uint8_t> enciphered)
{
    UploadDecipherer decipherer(key);
    std::vector<std::uint8_t> out;
    out.reserve(enciphered.size());
    const auto body = decipherer.update(enciphered);
    out.insert(out.end(), body.begin(), body.end());
    const auto tail = decipherer.finish();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

WorkFiles workFilePaths(const std::string& arquivo, const std::filesystem::path& tempDir, std::uint32_t ticks)
{
    const std::string base = std::filesystem::path(arquivo).filename().string();
    const std::string stem = base.substr(0, base.find('.'));
    const std::string name = stem + std::to_string(ticks);
    // operator/ joins with exactly one separator, whether or not tempDir ends with one.
    return {tempDir / (name + ".gz"), tempDir / (name + ".cpt")};
}

std::string preparationErrorText(int code)
{
    return wire::userMessage(std::string(TextoErroPreparacao) + " Código de erro do Windows: " + std::to_string(code));
}

BlockSplit splitIntoBlocks(std::span<const std::uint8_t> enciphered,
                           int blockSize,
                           int& percent,
                           const PreparationCallbacks& callbacks,
                           std::uint64_t maxTotal)
{
    checkEncipheredSize(enciphered.size(), maxTotal);
    const BlockLayout layout = blockLayout(enciphered.size(), blockSize);
    BlockSplit split;
    split.blockSize = layout.blockSize;
    split.total = static_cast<std::int32_t>(enciphered.size());
    split.blocks.reserve(layout.count);
    const auto size = static_cast<std::size_t>(layout.blockSize);
    for (std::size_t i = 0; i < layout.count; ++i) {
        const auto piece = enciphered.subspan(i * size, i + 1 == layout.count ? layout.lastLength : size);
        split.blocks.emplace_back(piece.begin(), piece.end());
    }
    reportSplit(layout.count, enciphered.size(), layout.blockSize, percent, callbacks);
    return split;
}

PreparedUploadFile prepareUploadFile(const std::string& arquivo,
                                     const std::filesystem::path& tempDir,
                                     int blockSize,
                                     const PreparationCallbacks& callbacks)
{
    if (callbacks.trace) {
        callbacks.trace(std::string(TraceEnvioArquivo));
    }
    int percent = 0;
    report(callbacks, PreparationStatus::Executando, percent, TextoPreparandoCertificacao);

    PreparedUploadFile result;
    std::filesystem::path compressed;
    bool splitting = false;
    bool failed = false;
    int code = 0;
    try {
        // The strong generator needs no seeding from the clock.
        ensureGcrypt();
        percent = 20;
        report(callbacks, PreparationStatus::Executando, percent, TextoPreparandoCertificacao);

        gcry_randomize(result.key.data(), result.key.size(), GCRY_STRONG_RANDOM);
        percent = 40;
        report(callbacks, PreparationStatus::Executando, percent, TextoPreparandoArquivo);

        const WorkFiles work = workFilePaths(arquivo, tempDir, platform::tickCount());
        compressed = work.compressed;

        // The enciphered file is created with the first gzip bytes, so a
        // compression that cannot start fails as the gzip component says.
        std::optional<BlockFile> blocks;
        const auto store = [&](std::span<const std::uint8_t> bytes) {
            if (!blocks) {
                blocks.emplace(work.enciphered);
            }
            blocks->append(bytes);
        };
        {
            UploadEncipherer encipherer(result.key);
            TGzip gzip;
            gzip.FileSource = arquivo;
            gzip.FileDestination = compressed.string();
            gzip.DeleteSource = false;
            gzip.CompressionLevel = 1;
            gzip.setOutputObserver([&](std::span<const std::uint8_t> bytes) { store(encipherer.update(bytes)); });
            if (gzip.Compress() != TGzip::ResultOk) {
                throw Error("compress", gzip.lastErrorCode());
            }
            store(encipherer.finish());
        }  // the cipher state is wiped here

        percent = 60;
        report(callbacks, PreparationStatus::Executando, percent, TextoPreparandoArquivo);

        splitting = true;
        blocks->finish(blockSize);
        reportSplit(
            blocks->size(), static_cast<std::uint64_t>(blocks->total()), blocks->blockSize(), percent, callbacks);
        result.blocks = std::move(*blocks);

        percent = 100;
        report(callbacks, PreparationStatus::Finalizada, percent, TextoProntoTransmissao);
    } catch (const platform::OperationCancelled&) {
        // Abandoned by the user: nothing is left for inspection.
        explicit_bzero(result.key.data(), result.key.size());
        if (!compressed.empty()) {
            std::error_code ignored;
            std::filesystem::remove(compressed, ignored);
        }
        throw;
    } catch (const Error& e) {
        failed = true;
        code = e.code();
    } catch (const std::bad_alloc&) {
        failed = true;
        code = ENOMEM;
    } catch (const std::exception&) {
        failed = true;
    }

    // The gzip work file goes once splitting has begun; an earlier failure
    // leaves it for inspection.
    if (splitting) {
        std::error_code ignored;
        std::filesystem::remove(compressed, ignored);
    }
    platform::ui().processEvents();
    if (failed) {
        explicit_bzero(result.key.data(), result.key.size());
        report(callbacks, PreparationStatus::Erro, percent, TextoErroPreparacao);
        throw Error(preparationErrorText(code), code);
    }
    return result;
}

PreparedUpload prepareUpload(const std::string& arquivo,
                             const std::filesystem::path& tempDir,
                             int blockSize,
                             const PreparationCallbacks& callbacks)
{
    PreparedUploadFile prepared = prepareUploadFile(arquivo, tempDir, blockSize, callbacks);
    PreparedUpload result;
    result.key = prepared.key;
    explicit_bzero(prepared.key.data(), prepared.key.size());
    result.blocks = prepared.blocks.readAll();
    result.tamanhoCifrado = prepared.blocks.total();
    result.blockSize = prepared.blocks.blockSize();
    return result;
}

// ---- restoring an upload -------------------------------------------------

struct UploadRestorer::State
{
    State(const SymmetricKey& key, const std::filesystem::path& path)
        : decipherer(key)
        , destinationPath(path.string())
        , out(256 * 1024)
    {
        if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
            throw Error("zlib: inflateInit2", ENOMEM);
        }
        if (!destination.create(destinationPath)) {
            const int err = errno;
            inflateEnd(&z);
            throw Error("Erro (" + std::to_string(err) + ") ao criar arquivo: " + destinationPath, err);
        }
    }
    ~State() { inflateEnd(&z); }

    void inflateBytes(std::span<const std::uint8_t> gz)
    {
        if (gz.empty()) {
            return;
        }
        if (ended) {
            throw Error("Dados após o fim do arquivo compactado", EINVAL);
        }
        z.next_in = const_cast<Bytef*>(gz.data());
        z.avail_in = static_cast<uInt>(gz.size());
        while (z.avail_in > 0 && !ended) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                ended = true;
            } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
                throw Error(std::string("Dados compactados inválidos: ") + (z.msg != nullptr ? z.msg : ""), EINVAL);
            }
            const std::size_t n = out.size() - z.avail_out;
            if (n > 0 && !destination.writeAll(out.data(), n)) {
                const int err = errno;
                throw Error("Erro (" + std::to_string(err) + ") ao gravar arquivo: " + destinationPath, err);
            }
            written += n;
            if (rc == Z_BUF_ERROR && z.avail_out != 0) {
                break;
            }
        }
        if (ended && z.avail_in > 0) {
            throw Error("Dados após o fim do arquivo compactado", EINVAL);
        }
    }

    UploadDecipherer decipherer;
    std::string destinationPath;
    platform::File destination;
    z_stream z{};
    std::vector<std::uint8_t> out;
    bool ended = false;
    std::uint64_t written = 0;
};

UploadRestorer::UploadRestorer(const SymmetricKey& key, const std::filesystem::path& destination)
    : state_(std::make_unique<State>(key, destination))
{}

UploadRestorer::~UploadRestorer() = default;

void UploadRestorer::append(std::span<const std::uint8_t> enciphered)
{
    state_->inflateBytes(state_->decipherer.update(enciphered));
}

void UploadRestorer::finish()
{
    auto& s = *state_;
    s.inflateBytes(s.decipherer.finish());
    if (!s.ended) {
        throw Error("Arquivo compactado incompleto", EINVAL);
    }
    if (!s.destination.close()) {
        const int err = errno;
        throw Error("Erro (" + std::to_string(err) + ") ao gravar arquivo: " + s.destinationPath, err);
    }
}

std::uint64_t UploadRestorer::restoredSize() const
{
    return state_->written;
}

void restoreUpload(const SymmetricKey& key, const DataBlocks& blocks, const std::filesystem::path& destination)
{
    UploadRestorer restorer(key, destination);
    for (const auto& block : blocks) {
        restorer.append(block);
    }
    restorer.finish();
}

void restoreUpload(const SymmetricKey& key, const BlockFile& blocks, const std::filesystem::path& destination)
{
    UploadRestorer restorer(key, destination);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(blocks.blockSize()));
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        restorer.append(std::span(block).first(blocks.read(i, block)));
    }
    restorer.finish();
}

void restoreUpload(const SymmetricKey& key,
                   std::span<const std::uint8_t> enciphered,
                   const std::filesystem::path& destination)
{
    UploadRestorer restorer(key, destination);
    restorer.append(enciphered);
    restorer.finish();
}

}  // namespace vek::crypto
