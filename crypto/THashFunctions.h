#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vek::crypto {

using TigerDigest = std::array<std::uint8_t, 24>;

class THashFunctions
{
public:
    // Tiger (first variant: end marker byte 01) of the whole file content as
    // 48 upper-case hexadecimal digits, bytes in the order of the published
    // test vectors. Throws vek::Error("Erro (<errno>) ao abrir arquivo: <path>")
    // when the file cannot be opened, "... ao ler arquivo: ..." on a read error.
    static std::string TigerFileHash(const std::string& path);

    // Tiger (first variant) of a byte string.
    static TigerDigest tiger(std::span<const std::uint8_t> data);
};

}  // namespace vek::crypto
