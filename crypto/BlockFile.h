#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace vek::crypto {

// Subtracted from the block size when the enciphered size is a multiple of it.
inline constexpr int BlockSizeReduction = 13;
// Sizes on the wire are 32-bit signed: a larger enciphered file fails with
// "Arquivo grande demais para envio".
inline constexpr std::uint64_t MaxEncipheredSize = INT32_MAX;

// How `total` enciphered bytes are cut: when the total is a multiple of the
// block size the block size is lowered by 13; blocks of that size follow in
// order, and the list ends with the first block shorter than it (empty when
// the total is also a multiple of the lowered size).
struct BlockLayout
{
    int blockSize = 0;
    std::size_t count = 0;
    std::size_t lastLength = 0;
};
[[nodiscard]] BlockLayout blockLayout(std::uint64_t total, int blockSize);

// Throws the "Arquivo grande demais para envio" error (EFBIG) when `total`
// exceeds `maxTotal`.
void checkEncipheredSize(std::uint64_t total, std::uint64_t maxTotal);

// The enciphered file of an upload as a work file: written once as it is
// produced, then cut by the block rule and read back one block at a time, so
// an upload of any size holds only one block in memory.
//
// The file is created under the given name and removed from its directory at
// once; only this object's descriptor keeps the bytes, so nothing is left
// behind however the upload ends, a killed process included. release()
// gives the space back and keeps the layout (the block count and sizes).
class BlockFile
{
public:
    BlockFile() = default;
    // Creates the work file (replacing one of that name); throws vek::Error
    // with the errno of the failure.
    explicit BlockFile(const std::filesystem::path& path, std::uint64_t maxTotal = MaxEncipheredSize);
    ~BlockFile();
    BlockFile(BlockFile&& other) noexcept;
    BlockFile& operator=(BlockFile&& other) noexcept;
    BlockFile(const BlockFile&) = delete;
    BlockFile& operator=(const BlockFile&) = delete;

    // Adds enciphered bytes at the end; fails beyond `maxTotal` bytes in all.
    void append(std::span<const std::uint8_t> data);
    // Ends the writing and cuts the file by the block rule.
    void finish(int blockSize);

    [[nodiscard]] std::size_t size() const { return layout_.count; }
    [[nodiscard]] bool empty() const { return layout_.count == 0; }
    [[nodiscard]] int blockSize() const { return layout_.blockSize; }
    // The enciphered size: the sum of the block lengths.
    [[nodiscard]] std::int32_t total() const { return static_cast<std::int32_t>(total_); }
    [[nodiscard]] std::size_t blockLength(std::size_t index) const;

    // Reads block `index` (from 0) into the start of `into`, which holds at
    // least blockSize() bytes; returns its length.
    std::size_t read(std::size_t index, std::span<std::uint8_t> into) const;
    [[nodiscard]] std::vector<std::uint8_t> block(std::size_t index) const;
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> readAll() const;

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    void release() noexcept;

private:
    void flush();
    void fillCache(std::uint64_t from) const;

    int fd_ = -1;
    std::uint64_t maxTotal_ = MaxEncipheredSize;
    std::uint64_t total_ = 0;
    std::vector<std::uint8_t> pending_;
    BlockLayout layout_;
    // Read-ahead: the blocks are asked for in order, so they are read from
    // the file a few hundred at a time (one system call per piece, not per
    // block). `cached_` holds the file's bytes from `cachedFrom_`.
    mutable std::vector<std::uint8_t> cached_;
    mutable std::uint64_t cachedFrom_ = 0;
};

}  // namespace vek::crypto
