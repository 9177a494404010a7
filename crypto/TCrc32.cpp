#include "crypto/TCrc32.h"

#include "crypto/ProgressRule.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/UiServices.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/stat.h>
#include <vector>

namespace vek::crypto {

namespace {

// Read in large chunks; progress is still evaluated after every PieceSize bytes.
constexpr std::size_t ReadChunk = 64 * TCrc32::PieceSize;

}  // namespace

std::string crc32Hex(std::uint32_t value)
{
    // The most significant byte first.
    const std::array<std::uint8_t, 4> bytes{static_cast<std::uint8_t>(value >> 24),
                                            static_cast<std::uint8_t>(value >> 16),
                                            static_cast<std::uint8_t>(value >> 8),
                                            static_cast<std::uint8_t>(value)};
    return platform::toHex(bytes);
}

std::uint32_t TCrc32::CalculateCrc32()
{
    struct stat st
    {
    };
    // A directory is no file: it is reported like a missing one.
    if (::stat(Crc32FileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        if (WindowOnError) {
            platform::ui().showMessage("File " + Crc32FileName + " does not exist.", platform::MessageKind::Error);
        }
        return 0;
    }
    platform::File file;
    if (!file.openRead(Crc32FileName)) {
        const int code = errno;
        throw Error("Erro (" + std::to_string(code) + ") ao abrir arquivo: " + Crc32FileName, code);
    }
    const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(file.size(), 0));
    Progress = 0;
    auto fire = [this] {
        if (OnProgress) {
            OnProgress(*this);
        }
    };
    if (ProgressStep > 0) {
        fire();
    }

    uLong crc = crc32_z(0, nullptr, 0);
    std::vector<std::uint8_t> chunk(ReadChunk);
    std::uint64_t done = 0;
    for (;;) {
        const std::ptrdiff_t n = file.readFull(chunk.data(), chunk.size());
        if (n < 0) {
            const int code = errno;
            throw Error("Erro (" + std::to_string(code) + ") ao ler arquivo: " + Crc32FileName, code);
        }
        if (n == 0) {
            break;
        }
        if (ProgressStep > 0) {
            for (std::size_t at = 0; at < static_cast<std::size_t>(n); at += PieceSize) {
                const std::size_t piece = std::min(PieceSize, static_cast<std::size_t>(n) - at);
                crc = crc32_z(crc, chunk.data() + at, piece);
                done += piece;
                advanceProgress(ProgressStep, Progress, done, size, fire);
            }
        } else {
            crc = crc32_z(crc, chunk.data(), static_cast<std::size_t>(n));
        }
    }
    return static_cast<std::uint32_t>(crc);
}

std::string TCrc32::Crc32Hex()
{
    return crc32Hex(CalculateCrc32());
}

}  // namespace vek::crypto
