#include "crypto/BlockFile.h"

#include "platform/Error.h"
#include "platform/SystemText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vek::crypto {
namespace {

// Enciphered bytes are gathered into writes of this size.
constexpr std::size_t WriteBuffer = 256 * 1024;

[[noreturn]] void fail(const std::string& what, int err)
{
    throw Error(what + ": " + vek::platform::systemText(err), err);
}

void writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail("Erro ao gravar o arquivo cifrado", n < 0 ? errno : EIO);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

BlockLayout blockLayout(std::uint64_t total, int blockSize)
{
    auto size = static_cast<std::uint64_t>(blockSize);
    if (total % size == 0) {
        size -= BlockSizeReduction;
    }
    BlockLayout layout;
    layout.blockSize = static_cast<int>(size);
    layout.count = static_cast<std::size_t>(total / size + 1);
    layout.lastLength = static_cast<std::size_t>(total % size);
    return layout;
}

void checkEncipheredSize(std::uint64_t total, std::uint64_t maxTotal)
{
    if (total > maxTotal) {
        throw Error("Arquivo grande demais para envio", EFBIG);
    }
}

BlockFile::BlockFile(const std::filesystem::path& path, std::uint64_t maxTotal)
    : maxTotal_(maxTotal)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        fail("Erro ao criar o arquivo cifrado " + path.string(), errno);
    }
    if (::unlink(path.c_str()) != 0) {
        const int err = errno;
        release();
        fail("Erro ao preparar o arquivo cifrado " + path.string(), err);
    }
    pending_.reserve(WriteBuffer);
}

BlockFile::~BlockFile()
{
    release();
}

BlockFile::BlockFile(BlockFile&& other) noexcept
    : fd_(other.fd_)
    , maxTotal_(other.maxTotal_)
    , total_(other.total_)
    , pending_(std::move(other.pending_))
    , layout_(other.layout_)
    , cached_(std::move(other.cached_))
    , cachedFrom_(other.cachedFrom_)
{
    other.fd_ = -1;
}

BlockFile& BlockFile::operator=(BlockFile&& other) noexcept
{
    if (this != &other) {
        release();
        fd_ = other.fd_;
        maxTotal_ = other.maxTotal_;
        total_ = other.total_;
        pending_ = std::move(other.pending_);
        layout_ = other.layout_;
        cached_ = std::move(other.cached_);
        cachedFrom_ = other.cachedFrom_;
        other.fd_ = -1;
    }
    return *this;
}

void BlockFile::release() noexcept
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    std::vector<std::uint8_t>().swap(pending_);
    std::vector<std::uint8_t>().swap(cached_);
}

void BlockFile::append(std::span<const std::uint8_t> data)
{
    if (fd_ < 0) {
        throw Error("Arquivo cifrado fechado", EBADF);
    }
    checkEncipheredSize(total_ + data.size(), maxTotal_);
    total_ += data.size();
    if (pending_.size() + data.size() > WriteBuffer) {
        flush();
    }
    if (data.size() >= WriteBuffer) {
        writeAll(fd_, data.data(), data.size());
    } else {
        pending_.insert(pending_.end(), data.begin(), data.end());
    }
}

void BlockFile::flush()
{
    writeAll(fd_, pending_.data(), pending_.size());
    pending_.clear();
}

void BlockFile::finish(int blockSize)
{
    if (fd_ < 0) {
        throw Error("Arquivo cifrado fechado", EBADF);
    }
    flush();
    std::vector<std::uint8_t>().swap(pending_);
    layout_ = blockLayout(total_, blockSize);
    // The blocks are read back in order, once each.
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::size_t BlockFile::blockLength(std::size_t index) const
{
    if (index >= layout_.count) {
        return 0;
    }
    return index + 1 == layout_.count ? layout_.lastLength : static_cast<std::size_t>(layout_.blockSize);
}

std::size_t BlockFile::read(std::size_t index, std::span<std::uint8_t> into) const
{
    if (fd_ < 0) {
        throw Error("Arquivo cifrado fechado", EBADF);
    }
    if (index >= layout_.count) {
        throw Error("Bloco inexistente: " + std::to_string(index + 1), EINVAL);
    }
    const std::size_t length = blockLength(index);
    if (into.size() < length) {
        throw Error("Espaço insuficiente para o bloco " + std::to_string(index + 1), EINVAL);
    }
    if (length == 0) {
        return 0;  // the one block of an empty file: nothing to read, and no buffer to copy from
    }
    const std::uint64_t offset = static_cast<std::uint64_t>(index) * static_cast<std::uint64_t>(layout_.blockSize);
    if (offset < cachedFrom_ || offset + length > cachedFrom_ + cached_.size()) {
        fillCache(offset);
    }
    std::memcpy(into.data(), cached_.data() + (offset - cachedFrom_), length);
    return length;
}

void BlockFile::fillCache(std::uint64_t from) const
{
    constexpr std::uint64_t ReadAhead = 256 * 1024;
    const std::uint64_t want = std::min<std::uint64_t>(ReadAhead, total_ - from);
    cached_.resize(static_cast<std::size_t>(want));
    cachedFrom_ = from;
    std::size_t done = 0;
    while (done < want) {
        const ssize_t n = ::pread(fd_, cached_.data() + done, want - done, static_cast<off_t>(from + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            cached_.clear();
            fail("Erro ao ler o arquivo cifrado", n < 0 ? errno : EIO);
        }
        done += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> BlockFile::block(std::size_t index) const
{
    std::vector<std::uint8_t> out(blockLength(index));
    read(index, out);
    return out;
}

std::vector<std::vector<std::uint8_t>> BlockFile::readAll() const
{
    std::vector<std::vector<std::uint8_t>> blocks;
    blocks.reserve(layout_.count);
    for (std::size_t i = 0; i < layout_.count; ++i) {
        blocks.push_back(block(i));
    }
    return blocks;
}

}  // namespace vek::crypto
