#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace vek::server {

// Turns the enciphered blocks of one upload, as they arrive, back into the
// operator's file: AES-192 in the clients' chained mode with its tail rule,
// then gzip expansion, into a temporary file beside the final place. The
// expanded bytes are checksummed on the way (CRC-32, Tiger, SHA-256).
// Nothing is kept in memory beyond one block.
class UploadDecoder
{
public:
    static constexpr std::size_t KeySize = 16;

    // `cipheredSize` is the size the client announced; `maxExpanded` bounds
    // what the file may expand to. The temporary file is created at once.
    // The Tiger hash is worked out only when asked for (it is only checked
    // when the client sent one).
    UploadDecoder(std::span<const std::uint8_t, KeySize> key,
                  std::int64_t cipheredSize,
                  std::filesystem::path tempFile,
                  std::int64_t maxExpanded,
                  bool computeTiger = true);
    ~UploadDecoder();
    UploadDecoder(const UploadDecoder&) = delete;
    UploadDecoder& operator=(const UploadDecoder&) = delete;

    // Throws vek::Error with a text for the operator when the data go past
    // the announced size, do not expand, or expand beyond the bound.
    void feed(std::span<const std::uint8_t> block);
    // After the last block: the tail, the end of the gzip stream, fsync.
    // Throws vek::Error when less than the announced size arrived or the gzip
    // stream is incomplete.
    void finish();
    // Moves the finished file to `finalPath` (no file may be there) and makes
    // the move durable. Until then the destructor removes the file.
    void commitTo(const std::filesystem::path& finalPath);

    [[nodiscard]] std::int64_t received() const;
    [[nodiscard]] std::int64_t expandedSize() const;
    // Of the expanded file, valid after finish().
    [[nodiscard]] std::string crc32Text() const;  // 8 upper-case hex digits
    [[nodiscard]] std::string tigerText() const;  // 48 upper-case hex digits
    [[nodiscard]] std::array<std::uint8_t, 32> sha256() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vek::server
