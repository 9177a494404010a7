#include "server/UploadDecoder.h"

#include "crypto/Gcrypt.h"
#include "platform/Error.h"
#include "server/DataFiles.h"

#include <gcrypt.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace vek::server {
namespace {

constexpr std::size_t AesBlock = 16;
constexpr std::size_t OutputPiece = 64 * 1024;

const char* const Corrupted =
    "Arquivo recebido não pôde ser decifrado e expandido (dados corrompidos ou chave incorreta).";

void check(gcry_error_t err, const char* what)
{
    if (err != 0) {
        throw Error(std::string("Decifração do arquivo: ") + what + ": " + crypto::gcryptMessage(err));
    }
}

std::string hexUpper(const unsigned char* bytes, std::size_t n)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace

struct UploadDecoder::Impl
{
    gcry_cipher_hd_t ecb = nullptr;  // raw block operations (initial vector, tail)
    gcry_cipher_hd_t cbc = nullptr;  // the chain over whole blocks
    gcry_md_hd_t md = nullptr;       // Tiger and SHA-256 of the expanded bytes
    z_stream z{};
    bool zOpen = false;
    bool zEnded = false;  // the last gzip member ended and nothing followed yet
    std::uint32_t crc = 0;

    std::int64_t announced = 0;
    std::int64_t wholeBlocksEnd = 0;  // bytes covered by whole 16-byte blocks
    std::int64_t received = 0;
    std::int64_t expanded = 0;
    std::int64_t maxExpanded = 0;
    std::vector<std::uint8_t> pending;                // received bytes not yet deciphered
    std::array<std::uint8_t, AesBlock> lastCipher{};  // chaining value of the tail
    bool finished = false;

    std::filesystem::path temp;
    int fd = -1;
    bool committed = false;

    std::array<std::uint8_t, 32> sha{};
    std::string tiger;

    ~Impl()
    {
        gcry_cipher_close(ecb);
        gcry_cipher_close(cbc);
        gcry_md_close(md);
        if (zOpen) {
            inflateEnd(&z);
        }
        if (fd >= 0) {
            ::close(fd);
        }
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
        crc = static_cast<std::uint32_t>(::crc32(crc, data, static_cast<uInt>(n)));
        gcry_md_write(md, data, n);
        while (n > 0) {
            const ssize_t w = ::write(fd, data, n);
            if (w < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw Error("Falha ao gravar o arquivo recebido " + temp.string(), errno);
            }
            data += w;
            n -= static_cast<std::size_t>(w);
        }
    }

    // Feeds deciphered (still gzipped) bytes to the expander.
    void expand(std::uint8_t* data, std::size_t n)
    {
        std::array<std::uint8_t, OutputPiece> out{};
        z.next_in = data;
        z.avail_in = static_cast<uInt>(n);
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
                zEnded = true;
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
                zEnded = true;
            } else if (produced == 0) {
                break;
            }
        }
    }
};

UploadDecoder::UploadDecoder(std::span<const std::uint8_t, KeySize> key,
                             std::int64_t cipheredSize,
                             std::filesystem::path tempFile,
                             std::int64_t maxExpanded)
    : impl_(std::make_unique<Impl>())
{
    crypto::ensureGcrypt();
    Impl& s = *impl_;
    s.announced = cipheredSize;
    s.wholeBlocksEnd = cipheredSize - cipheredSize % static_cast<std::int64_t>(AesBlock);
    s.maxExpanded = maxExpanded;

    // AES-192 key = Tiger (first variant) of the 16 key bytes.
    std::array<std::uint8_t, 24> aesKey{};
    gcry_md_hash_buffer(GCRY_MD_TIGER1, aesKey.data(), key.data(), key.size());
    check(gcry_cipher_open(&s.ecb, GCRY_CIPHER_AES192, GCRY_CIPHER_MODE_ECB, 0), "AES");
    check(gcry_cipher_open(&s.cbc, GCRY_CIPHER_AES192, GCRY_CIPHER_MODE_CBC, 0), "AES");
    check(gcry_cipher_setkey(s.ecb, aesKey.data(), aesKey.size()), "chave");
    check(gcry_cipher_setkey(s.cbc, aesKey.data(), aesKey.size()), "chave");
    std::fill(aesKey.begin(), aesKey.end(), 0);

    // The initial vector is the encryption of a zero block.
    std::array<std::uint8_t, AesBlock> iv{};
    check(gcry_cipher_encrypt(s.ecb, iv.data(), iv.size(), nullptr, 0), "vetor inicial");
    check(gcry_cipher_setiv(s.cbc, iv.data(), iv.size()), "vetor inicial");
    s.lastCipher = iv;

    check(gcry_md_open(&s.md, GCRY_MD_TIGER1, 0), "Tiger");
    check(gcry_md_enable(s.md, GCRY_MD_SHA256), "SHA-256");

    if (inflateInit2(&s.z, 16 + MAX_WBITS) != Z_OK) {
        throw Error("Falha ao iniciar a expansão do arquivo recebido");
    }
    s.zOpen = true;

    s.fd = ::open(tempFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (s.fd < 0) {
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
    s.pending.insert(s.pending.end(), block.begin(), block.end());
    const std::int64_t decipheredSoFar = s.received - static_cast<std::int64_t>(s.pending.size() - block.size());
    s.received += static_cast<std::int64_t>(block.size());

    // Whole blocks go through the chain now; the tail waits for finish().
    const std::int64_t wholeAvailable =
        std::min<std::int64_t>(s.wholeBlocksEnd - decipheredSoFar, static_cast<std::int64_t>(s.pending.size()));
    const std::size_t n = static_cast<std::size_t>(wholeAvailable) / AesBlock * AesBlock;
    if (n == 0) {
        return;
    }
    std::copy_n(s.pending.begin() + static_cast<std::ptrdiff_t>(n - AesBlock), AesBlock, s.lastCipher.begin());
    check(gcry_cipher_decrypt(s.cbc, s.pending.data(), n, nullptr, 0), "bloco");
    s.expand(s.pending.data(), n);
    s.pending.erase(s.pending.begin(), s.pending.begin() + static_cast<std::ptrdiff_t>(n));
}

void UploadDecoder::finish()
{
    Impl& s = *impl_;
    if (s.received != s.announced) {
        throw Error("Tamanho recebido (" + std::to_string(s.received) + " bytes) diferente do anunciado (" +
                    std::to_string(s.announced) + " bytes).");
    }
    if (!s.pending.empty()) {
        // The last 1 to 15 bytes: XOR with the encryption of the chaining value.
        std::array<std::uint8_t, AesBlock> v = s.lastCipher;
        check(gcry_cipher_encrypt(s.ecb, v.data(), v.size(), nullptr, 0), "final");
        for (std::size_t i = 0; i < s.pending.size(); ++i) {
            s.pending[i] ^= v[i];
        }
        s.expand(s.pending.data(), s.pending.size());
        s.pending.clear();
    }
    if (!s.zEnded) {
        throw Error(Corrupted);
    }
    if (::fsync(s.fd) != 0) {
        throw Error("Falha ao gravar o arquivo recebido " + s.temp.string(), errno);
    }
    const int rc = ::close(s.fd);
    s.fd = -1;
    if (rc != 0) {
        throw Error("Falha ao gravar o arquivo recebido " + s.temp.string(), errno);
    }
    s.tiger = hexUpper(gcry_md_read(s.md, GCRY_MD_TIGER1), 24);
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
