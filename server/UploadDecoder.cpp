#include "server/UploadDecoder.h"

#include "crypto/Gcrypt.h"
#include "crypto/UploadPreparation.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "server/DataFiles.h"

#include <gcrypt.h>
#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <vector>

namespace vek::server {
namespace {

constexpr std::size_t OutputPiece = 64 * 1024;
constexpr std::size_t WriteChunk = 64 * 1024;
constexpr off_t WritebackPiece = 8 * 1024 * 1024;

const char* const Corrupted =
    "Arquivo recebido não pôde ser decifrado e expandido (dados corrompidos ou chave incorreta).";

void check(gcry_error_t err, const char* what)
{
    if (err != 0) {
        throw Error(std::string("Decifração do arquivo: ") + what + ": " + crypto::gcryptMessage(err));
    }
}

}  // namespace

struct UploadDecoder::Impl
{
    std::optional<crypto::UploadDecipherer> decipherer;
    gcry_md_hd_t md = nullptr;  // Tiger and SHA-256 of the expanded bytes
    z_stream z{};
    bool zOpen = false;
    bool zEnded = false;  // the last gzip member ended and nothing followed yet
    std::uint32_t crc = 0;

    std::int64_t announced = 0;
    std::int64_t received = 0;
    std::int64_t expanded = 0;
    std::int64_t maxExpanded = 0;
    bool finished = false;

    std::filesystem::path temp;
    platform::File file;
    off_t written = 0;  // bytes written to file
    off_t kicked = 0;   // bytes whose write-back has been started
    bool committed = false;

    std::array<std::uint8_t, 32> sha{};
    std::string tiger;
    std::vector<std::uint8_t> outBuffer = std::vector<std::uint8_t>(OutputPiece);
    std::vector<std::uint8_t> pending;
    bool computeTiger = true;

    ~Impl()
    {
        gcry_md_close(md);
        if (zOpen) {
            inflateEnd(&z);
        }
        file.close();
        if (!committed && !temp.empty()) {
            ::unlink(temp.c_str());
        }
    }

    void write(const std::uint8_t* data, std::size_t n)
    {
        expanded += static_cast<std::int64_t>(n);
        if (expanded > maxExpanded) {
            throw Error("Arquivo expandido maior que o limite de " + std::to_string(maxExpanded) +
                        " bytes aceito pelo servidor.");
        }
        // Each block's share of the digests is worked out as it arrives
        // (after its acknowledgement, while the client sends the next one);
        // the disk sees larger pieces.
        gcry_md_write(md, data, n);
        pending.insert(pending.end(), data, data + n);
        if (pending.size() >= WriteChunk) {
            flush();
        }
    }

    void flush()
    {
        if (!file.writeAll(pending.data(), pending.size())) {
            throw Error("Falha ao gravar o arquivo recebido " + temp.string(), errno);
        }
        written += static_cast<off_t>(pending.size());
        pending.clear();
        // Start writing back what is in the page cache now, without waiting
        // for it, so that the fsync before the receipt finds little left.
        if (written - kicked >= WritebackPiece) {
            ::sync_file_range(file.fd(), kicked, written - kicked, SYNC_FILE_RANGE_WRITE);
            kicked = written;
        }
    }

    // inflate has checked the member's CRC-32 against its trailer and leaves
    // it in z.adler; the file's CRC-32 is that of its members one after the
    // other, so the expanded bytes need no second pass.
    void memberEnded()
    {
        crc = static_cast<std::uint32_t>(::crc32_combine(crc, z.adler, static_cast<z_off_t>(z.total_out)));
        zEnded = true;
    }

    // Feeds deciphered (still gzipped) bytes to the expander.
    void expand(std::span<const std::uint8_t> data)
    {
        auto& out = outBuffer;
        z.next_in = data.data();
        z.avail_in = static_cast<uInt>(data.size());
        while (z.avail_in > 0) {
            if (zEnded) {
                // gzip allows members one after the other
                if (inflateReset(&z) != Z_OK) {
                    throw Error(Corrupted);
                }
                zEnded = false;
            }
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) {
                throw Error(Corrupted);
            }
            write(out.data(), out.size() - z.avail_out);
            if (rc == Z_STREAM_END) {
                memberEnded();
            }
        }
        // Output that inflate still holds back once the input is used up.
        while (!zEnded) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_BUF_ERROR) {
                break;  // needs more input
            }
            if (rc != Z_OK && rc != Z_STREAM_END) {
                throw Error(Corrupted);
            }
            const std::size_t produced = out.size() - z.avail_out;
            write(out.data(), produced);
            if (rc == Z_STREAM_END) {
                memberEnded();
            } else if (produced == 0) {
                break;
            }
        }
    }
};

UploadDecoder::UploadDecoder(std::span<const std::uint8_t, KeySize> key,
                             std::int64_t cipheredSize,
                             std::filesystem::path tempFile,
                             std::int64_t maxExpanded,
                             bool computeTiger)
    : impl_(std::make_unique<Impl>())
{
    crypto::ensureGcrypt();
    Impl& s = *impl_;
    s.announced = cipheredSize;
    s.maxExpanded = maxExpanded;
    crypto::SymmetricKey symmetric{};
    std::copy(key.begin(), key.end(), symmetric.begin());
    s.decipherer.emplace(symmetric);
    std::fill(symmetric.begin(), symmetric.end(), 0);

    check(gcry_md_open(&s.md, GCRY_MD_SHA256, 0), "SHA-256");
    if (computeTiger) {
        check(gcry_md_enable(s.md, GCRY_MD_TIGER1), "Tiger");
    }
    s.computeTiger = computeTiger;

    if (inflateInit2(&s.z, 16 + MAX_WBITS) != Z_OK) {
        throw Error("Falha ao iniciar a expansão do arquivo recebido");
    }
    s.zOpen = true;

    if (!s.file.open(tempFile, O_WRONLY | O_CREAT | O_EXCL, 0640)) {
        throw Error("Não foi possível criar o arquivo temporário " + tempFile.string(), errno);
    }
    s.temp = std::move(tempFile);
}

UploadDecoder::~UploadDecoder() = default;

void UploadDecoder::feed(std::span<const std::uint8_t> block)
{
    Impl& s = *impl_;
    if (static_cast<std::int64_t>(block.size()) > s.announced - s.received) {
        throw Error("O cliente enviou mais dados que o tamanho anunciado (" + std::to_string(s.announced) + " bytes).");
    }
    s.received += static_cast<std::int64_t>(block.size());
    s.expand(s.decipherer->update(block));
}

void UploadDecoder::finish()
{
    Impl& s = *impl_;
    if (s.received != s.announced) {
        throw Error("Tamanho recebido (" + std::to_string(s.received) + " bytes) diferente do anunciado (" +
                    std::to_string(s.announced) + " bytes).");
    }
    // The last 1 to 15 bytes follow the tail rule.
    s.expand(s.decipherer->finish());
    if (!s.zEnded) {
        throw Error(Corrupted);
    }
    s.flush();
    if (!s.file.sync()) {
        throw Error("Falha ao gravar o arquivo recebido " + s.temp.string(), errno);
    }
    if (!s.file.close()) {
        throw Error("Falha ao gravar o arquivo recebido " + s.temp.string(), errno);
    }
    if (s.computeTiger) {
        s.tiger = platform::toHex({gcry_md_read(s.md, GCRY_MD_TIGER1), 24});
    }
    std::memcpy(s.sha.data(), gcry_md_read(s.md, GCRY_MD_SHA256), s.sha.size());
    s.finished = true;
}

void UploadDecoder::commitTo(const std::filesystem::path& finalPath)
{
    Impl& s = *impl_;
    if (!s.finished) {
        throw Error("Arquivo recebido incompleto");
    }
    // link() refuses to replace an existing file, unlike rename().
    if (::link(s.temp.c_str(), finalPath.c_str()) != 0) {
        throw Error("Não foi possível guardar o arquivo recebido em " + finalPath.string(), errno);
    }
    s.committed = true;
    ::unlink(s.temp.c_str());
    syncDirectory(finalPath.parent_path());
}

std::int64_t UploadDecoder::received() const
{
    return impl_->received;
}

std::int64_t UploadDecoder::expandedSize() const
{
    return impl_->expanded;
}

std::string UploadDecoder::crc32Text() const
{
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(impl_->crc));
    return buf;
}

std::string UploadDecoder::tigerText() const
{
    return impl_->tiger;
}

std::array<std::uint8_t, 32> UploadDecoder::sha256() const
{
    return impl_->sha;
}

}  // namespace vek::server
