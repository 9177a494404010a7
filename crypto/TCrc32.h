#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vek::crypto {

// The CRC-32 of a whole file (the CRC of zlib, gzip and ZIP: reflected
// polynomial EDB88320, initial value FFFFFFFF, final value complemented).
class TCrc32
{
public:
    static constexpr std::size_t PieceSize = 16384;

    std::string Crc32FileName;
    // Show an error message when the file does not exist.
    bool WindowOnError = true;
    // 0..100; 0 turns progress events off.
    int ProgressStep = 0;
    std::function<void(TCrc32& sender)> OnProgress;

    // Percentage set before each progress event.
    int Progress = 0;

    // The CRC of the file. A missing file (or a directory) gives 0, after the message
    // "File <path> does not exist." when WindowOnError is set. A file that
    // exists but cannot be opened or read throws vek::Error
    // ("Erro (<errno>) ao abrir arquivo: <path>" / "... ao ler arquivo: ...").
    std::uint32_t CalculateCrc32();

    // CalculateCrc32 as eight upper-case hexadecimal digits, most significant first.
    std::string Crc32Hex();
};

// Eight upper-case hexadecimal digits, most significant first: 0x0A1B2C3D -> "0A1B2C3D".
std::string crc32Hex(std::uint32_t value);

}  // namespace vek::crypto
