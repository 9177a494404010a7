#include "server/Authenticator.h"

#include "crypto/Gcrypt.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "server/DataFiles.h"
#include "server/Store.h"

#include <gcrypt.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace vek::server {

Authenticator::Authenticator(const std::filesystem::path& file)
{
    crypto::ensureGcrypt();
    if (!std::filesystem::exists(file)) {
        std::string fresh(secret_.size(), '\0');
        gcry_randomize(fresh.data(), fresh.size(), GCRY_VERY_STRONG_RANDOM);
        writeNewPrivateFile(file, fresh);
        std::fill(fresh.begin(), fresh.end(), '\0');
    }
    std::string stored = readWholeFile(file);
    if (stored.size() != secret_.size()) {
        throw Error("Segredo de autenticação com tamanho inválido em " + file.string());
    }
    std::memcpy(secret_.data(), stored.data(), secret_.size());
    std::fill(stored.begin(), stored.end(), '\0');
}

Authenticator::~Authenticator()
{
    std::fill(secret_.begin(), secret_.end(), 0);
}

std::string Authenticator::code(std::int64_t protocol,
                                const std::string& operatorId,
                                const std::array<std::uint8_t, 32>& contentSha256) const
{
    gcry_md_hd_t h = nullptr;
    if (const auto err = gcry_md_open(&h, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC); err != 0) {
        throw Error("Autenticação: " + crypto::gcryptMessage(err));
    }
    std::unique_ptr<gcry_md_handle, void (*)(gcry_md_hd_t)> owner(h, gcry_md_close);
    if (const auto err = gcry_md_setkey(h, secret_.data(), secret_.size()); err != 0) {
        throw Error("Autenticação: " + crypto::gcryptMessage(err));
    }
    const std::string head = std::to_string(protocol) + "|" + operatorId + "|";
    gcry_md_write(h, head.data(), head.size());
    gcry_md_write(h, contentSha256.data(), contentSha256.size());
    const unsigned char* mac = gcry_md_read(h, GCRY_MD_SHA256);
    return platform::toHex({mac, CodeLength / 2});
}

bool Authenticator::verify(const UploadRecord& record) const
{
    std::ifstream in(record.storedPath, std::ios::binary);
    if (!in) {
        return false;
    }
    gcry_md_hd_t h = nullptr;
    if (const auto err = gcry_md_open(&h, GCRY_MD_SHA256, 0); err != 0) {
        throw Error("Autenticação: " + crypto::gcryptMessage(err));
    }
    std::unique_ptr<gcry_md_handle, void (*)(gcry_md_hd_t)> owner(h, gcry_md_close);
    std::vector<char> piece(64 * 1024);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        gcry_md_write(h, piece.data(), static_cast<std::size_t>(in.gcount()));
    }
    std::array<std::uint8_t, 32> sha{};
    std::memcpy(sha.data(), gcry_md_read(h, GCRY_MD_SHA256), sha.size());
    return code(record.protocol, record.operatorId, sha) == record.authentication;
}

}  // namespace vek::server
