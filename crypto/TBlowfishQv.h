#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vek::crypto {

// Blowfish under a fixed key, zero-filled ECB. The key schedule lives in a
// libgcrypt cipher handle, which wipes it when the object is destroyed.
class BlowfishEcb
{
public:
    // Throws vek::Error("Blowfish: Key must be between 1 and 56 bytes long").
    explicit BlowfishEcb(std::string_view key);
    ~BlowfishEcb();
    BlowfishEcb(const BlowfishEcb&) = delete;
    BlowfishEcb& operator=(const BlowfishEcb&) = delete;

    // Zero bytes are appended up to a multiple of 8; each block is enciphered alone.
    [[nodiscard]] std::string Encrypt(std::string_view plain) const;
    // Each whole 8-byte block is deciphered alone; a trailing 1 to 7 bytes
    // that do not fill a block are dropped.
    [[nodiscard]] std::string Decrypt(std::string_view cipher) const;

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// The protocol key's cipher object.
class TBlowfishQv : public BlowfishEcb
{
public:
    using BlowfishEcb::BlowfishEcb;
};

// The VEK key's cipher object (trace lines, parameter files).
class TBlowfishVEK : public BlowfishEcb
{
public:
    using BlowfishEcb::BlowfishEcb;
};

inline constexpr std::string_view ProtocolKey = "HMPXVRZDKTQBLNWG";
inline constexpr std::string_view VEKKey = "QZTRMBXKHDVPLWGE";

// Letters "A".."P", two per byte, low half first: 00 FF 3C -> "AAPPMD".
std::string encodeLetters(std::string_view bytes);
// Pairs of characters back to bytes by the same formula, whatever the
// characters are; an unpaired last character is ignored.
std::string decodeLetters(std::string_view letters);

// The protocol string cipher and the trace-log cipher. Plain texts are bytes
// (Windows-1252 where they carry text); deciphering trims every leading and
// trailing byte of code 32 or less.
std::string EncryptProtocolText(std::string_view plain);
std::string DecryptProtocolText(std::string_view letters);
std::string EncryptVEKText(std::string_view plain);
std::string DecryptVEKText(std::string_view letters);

}  // namespace vek::crypto
