#include "crypto/THashFunctions.h"

#include "crypto/Gcrypt.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/File.h"

#include <gcrypt.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace vek::crypto {

namespace {

constexpr std::size_t ReadChunk = 1024 * 1024;

class TigerContext
{
public:
    TigerContext()
    {
        ensureGcrypt();
        if (const auto err = gcry_md_open(&hd_, GCRY_MD_TIGER1, 0); err != 0) {
            throw Error(gcryptMessage(err));
        }
    }
    ~TigerContext() { gcry_md_close(hd_); }
    TigerContext(const TigerContext&) = delete;
    TigerContext& operator=(const TigerContext&) = delete;

    void write(const void* data, std::size_t size) { gcry_md_write(hd_, data, size); }
    TigerDigest digest()
    {
        TigerDigest out{};
        const unsigned char* d = gcry_md_read(hd_, GCRY_MD_TIGER1);
        std::copy_n(d, out.size(), out.begin());
        return out;
    }

private:
    gcry_md_hd_t hd_ = nullptr;
};

}  // namespace

TigerDigest THashFunctions::tiger(std::span<const std::uint8_t> data)
{
    TigerContext ctx;
    ctx.write(data.data(), data.size());
    return ctx.digest();
}

std::string THashFunctions::TigerFileHash(const std::string& path)
{
    platform::File file;
    if (!file.openRead(path)) {
        const int code = errno;
        throw Error("Erro (" + std::to_string(code) + ") ao abrir arquivo: " + path, code);
    }
    TigerContext ctx;
    std::vector<std::uint8_t> chunk(ReadChunk);
    for (;;) {
        const std::ptrdiff_t n = file.readFull(chunk.data(), chunk.size());
        if (n < 0) {
            const int code = errno;
            throw Error("Erro (" + std::to_string(code) + ") ao ler arquivo: " + path, code);
        }
        if (n == 0) {
            break;
        }
        ctx.write(chunk.data(), static_cast<std::size_t>(n));
    }
    return platform::toHex(ctx.digest());
}

}  // namespace vek::crypto
