#include "crypto/TBlowfishQv.h"

#include "crypto/Gcrypt.h"
#include "platform/Error.h"

#include <gcrypt.h>

namespace vek::crypto {

struct BlowfishEcb::Handle
{
    gcry_cipher_hd_t hd = nullptr;
    ~Handle()
    {
        if (hd != nullptr) {
            gcry_cipher_close(hd);  // wipes the key schedule
        }
    }
};

namespace {

constexpr std::size_t BlockSize = 8;

std::string trimControls(std::string_view s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) {
        ++b;
    }
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

}  // namespace

BlowfishEcb::BlowfishEcb(std::string_view key)
    : handle_(std::make_unique<Handle>())
{
    if (key.empty() || key.size() > 56) {
        throw Error("Blowfish: Key must be between 1 and 56 bytes long");
    }
    ensureGcrypt();
    if (auto err = gcry_cipher_open(&handle_->hd, GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_ECB, 0); err != 0) {
        throw Error(gcryptMessage(err));
    }
    if (auto err = gcry_cipher_setkey(handle_->hd, key.data(), key.size()); err != 0) {
        throw Error(gcryptMessage(err));
    }
}

BlowfishEcb::~BlowfishEcb() = default;

std::string BlowfishEcb::Encrypt(std::string_view plain) const
{
    std::string out(plain);
    out.resize((plain.size() + BlockSize - 1) / BlockSize * BlockSize, '\0');
    if (!out.empty()) {
        if (auto err = gcry_cipher_encrypt(handle_->hd, out.data(), out.size(), nullptr, 0); err != 0) {
            throw Error(gcryptMessage(err));
        }
    }
    return out;
}

std::string BlowfishEcb::Decrypt(std::string_view cipher) const
{
    std::string out(cipher.substr(0, cipher.size() / BlockSize * BlockSize));
    if (!out.empty()) {
        if (auto err = gcry_cipher_decrypt(handle_->hd, out.data(), out.size(), nullptr, 0); err != 0) {
            throw Error(gcryptMessage(err));
        }
    }
    return out;
}

std::string encodeLetters(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto v = static_cast<unsigned char>(c);
        out.push_back(static_cast<char>('A' + (v % 16)));
        out.push_back(static_cast<char>('A' + (v / 16)));
    }
    return out;
}

std::string decodeLetters(std::string_view letters)
{
    std::string out;
    out.reserve(letters.size() / 2);
    for (std::size_t i = 0; i + 1 < letters.size(); i += 2) {
        const int a = static_cast<unsigned char>(letters[i]);
        const int b = static_cast<unsigned char>(letters[i + 1]);
        const int v = ((b - 65) * 16 + (a - 65)) & 0xFF;
        out.push_back(static_cast<char>(v));
    }
    return out;
}

std::string EncryptProtocolText(std::string_view plain)
{
    return encodeLetters(TBlowfishQv(ProtocolKey).Encrypt(plain));
}

std::string DecryptProtocolText(std::string_view letters)
{
    return trimControls(TBlowfishQv(ProtocolKey).Decrypt(decodeLetters(letters)));
}

std::string EncryptVEKText(std::string_view plain)
{
    return encodeLetters(TBlowfishVEK(VEKKey).Encrypt(plain));
}

std::string DecryptVEKText(std::string_view letters)
{
    return trimControls(TBlowfishVEK(VEKKey).Decrypt(decodeLetters(letters)));
}

}  // namespace vek::crypto
