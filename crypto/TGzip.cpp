#include "crypto/TGzip.h"

#include "crypto/PosixFile.h"
#include "crypto/ProgressRule.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vek::crypto {

namespace {

// The source is read in large chunks and handed to deflate in pieces of
// PieceSize; deflate's output does not depend on how its input is divided,
// so the file is the same as with one read per piece.
constexpr std::size_t ReadChunk = 64 * TGzip::PieceSize;
constexpr std::size_t OutputBuffer = 256 * 1024;
constexpr int WindowBits = 15;
constexpr int MemoryLevel = 8;

constexpr std::uint8_t FlagName = 0x08;
constexpr std::uint8_t FlagComment = 0x10;

int strategyOf(TCompressionType type)
{
    switch (type) {
    case TCompressionType::Filtered:
        return Z_FILTERED;
    case TCompressionType::HuffmanOnly:
        return Z_HUFFMAN_ONLY;
    case TCompressionType::Standard:
        break;
    }
    return Z_DEFAULT_STRATEGY;
}

struct DeflateStream
{
    z_stream z{};
    bool initialised = false;
    ~DeflateStream()
    {
        if (initialised) {
            deflateEnd(&z);
        }
    }
};

struct GzReader
{
    gzFile file = nullptr;
    ~GzReader()
    {
        if (file != nullptr) {
            gzclose(file);
        }
    }
    int close()
    {
        const int rc = gzclose(file);
        file = nullptr;
        return rc;
    }
};

struct StdioFile
{
    std::FILE* file = nullptr;
    ~StdioFile()
    {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    int close()
    {
        const int rc = std::fclose(file);
        file = nullptr;
        return rc;
    }
};

// The deflate stream and the buffered destination of one compression.
class GzipWriter
{
public:
    GzipWriter(PosixFile& destination, const std::function<void(std::span<const std::uint8_t>)>& observer)
        : destination_(destination)
        , observer_(observer)
        , out_(OutputBuffer)
    {}

    bool init(int level, int strategy)
    {
        if (deflateInit2(&stream_.z, level, Z_DEFLATED, -WindowBits, MemoryLevel, strategy) != Z_OK) {
            errno = ENOMEM;
            return false;
        }
        stream_.initialised = true;
        stream_.z.next_out = out_.data();
        stream_.z.avail_out = static_cast<uInt>(out_.size());
        return true;
    }

    // Bytes that go out ahead of the deflate stream (the header).
    bool put(const std::uint8_t* data, std::size_t size)
    {
        while (size > 0) {
            if (stream_.z.avail_out == 0 && !flush()) {
                return false;
            }
            const std::size_t n = std::min<std::size_t>(size, stream_.z.avail_out);
            std::copy_n(data, n, stream_.z.next_out);
            stream_.z.next_out += n;
            stream_.z.avail_out -= static_cast<uInt>(n);
            data += n;
            size -= n;
        }
        return true;
    }

    bool write(const std::uint8_t* data, std::size_t size)
    {
        crc_ = crc32_z(crc_, data, size);
        length_ += size;
        stream_.z.next_in = const_cast<Bytef*>(data);
        stream_.z.avail_in = static_cast<uInt>(size);
        while (stream_.z.avail_in > 0) {
            if (stream_.z.avail_out == 0 && !flush()) {
                return false;
            }
            if (deflate(&stream_.z, Z_NO_FLUSH) == Z_STREAM_ERROR) {
                errno = EIO;
                return false;
            }
        }
        return true;
    }

    // Ends the deflate stream, writes the trailer and everything pending.
    bool finish()
    {
        for (;;) {
            if (stream_.z.avail_out == 0 && !flush()) {
                return false;
            }
            const int rc = deflate(&stream_.z, Z_FINISH);
            if (rc == Z_STREAM_END) {
                break;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                errno = EIO;
                return false;
            }
        }
        std::uint8_t trailer[8];
        for (int i = 0; i < 4; ++i) {
            trailer[i] = static_cast<std::uint8_t>(crc_ >> (8 * i));
            trailer[4 + i] = static_cast<std::uint8_t>(length_ >> (8 * i));
        }
        return put(trailer, sizeof trailer) && flush();
    }

private:
    bool flush()
    {
        const std::size_t n = out_.size() - stream_.z.avail_out;
        if (n > 0) {
            if (!destination_.writeAll(out_.data(), n)) {
                return false;
            }
            if (observer_) {
                observer_(std::span<const std::uint8_t>(out_.data(), n));
            }
        }
        stream_.z.next_out = out_.data();
        stream_.z.avail_out = static_cast<uInt>(out_.size());
        return true;
    }

    PosixFile& destination_;
    const std::function<void(std::span<const std::uint8_t>)>& observer_;
    std::vector<std::uint8_t> out_;
    DeflateStream stream_;
    uLong crc_ = crc32_z(0, nullptr, 0);
    std::uint64_t length_ = 0;
};

// A directory opens for reading here but is no file to read: it counts as a
// source that cannot be opened (errno EISDIR).
bool isDirectory(const std::string& path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return true;
    }
    return false;
}

std::string baseName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

}  // namespace

void TGzip::fail(const std::string& message) const
{
    if (WindowOnError) {
        platform::ui().showMessage(message, platform::MessageKind::Error);
    }
}

void TGzip::fireProgress()
{
    if (OnProgress) {
        OnProgress(*this);
    }
}

int TGzip::Compress()
{
    lastErrorCode_ = 0;
    PosixFile source;
    if (isDirectory(FileSource) || !source.openRead(FileSource)) {
        lastErrorCode_ = errno;
        fail("Can't open: " + FileSource);
        return ResultSourceOpenFailed;
    }
    const std::int64_t base = source.size();

    PosixFile destination;
    GzipWriter writer(destination, observer_);
    const int level = std::clamp(CompressionLevel, 1, 9);
    if (!destination.create(FileDestination) || !writer.init(level, strategyOf(CompressionType))) {
        lastErrorCode_ = errno;
        source.close();
        fail("Can't open: " + FileDestination);
        return ResultDestinationOpenFailed;
    }

    std::vector<std::uint8_t> header{0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x00};
    if (GzipHeader.filename) {
        header[3] |= FlagName;
        const std::string name = platform::toWin1252(baseName(FileSource));
        header.insert(header.end(), name.begin(), name.end());
        header.push_back(0);
    }
    if (GzipHeader.comment) {
        header[3] |= FlagComment;
        const std::string comment = platform::toWin1252(Comments);
        header.insert(header.end(), comment.begin(), comment.end());
        header.push_back(0);
    }

    int code = ResultOk;
    if (!writer.put(header.data(), header.size())) {
        lastErrorCode_ = errno;
        code = ResultWriteFailed;
    }

    Progress = 0;
    if (ProgressStep > 0) {
        fireProgress();
    }
    std::vector<std::uint8_t> chunk(ReadChunk);
    std::uint64_t done = 0;
    const auto total = static_cast<std::uint64_t>(std::max<std::int64_t>(base, 0));
    while (code == ResultOk) {
        const std::ptrdiff_t n = source.readFull(chunk.data(), chunk.size());
        if (n < 0) {
            lastErrorCode_ = errno;
            code = ResultReadFailed;
            break;
        }
        if (n == 0) {
            break;
        }
        for (std::size_t at = 0; at < static_cast<std::size_t>(n); at += PieceSize) {
            const std::size_t piece = std::min(PieceSize, static_cast<std::size_t>(n) - at);
            if (!writer.write(chunk.data() + at, piece)) {
                lastErrorCode_ = errno;
                code = ResultWriteFailed;
                break;
            }
            done += piece;
            advanceProgress(ProgressStep, Progress, done, total, [this] { fireProgress(); });
        }
    }

    source.close();
    const bool finished = writer.finish();
    const int finishErrno = errno;
    const bool closed = destination.close();
    if (!finished || !closed) {
        lastErrorCode_ = finished ? errno : finishErrno;
        code = ResultCloseFailed;
    }
    if (code != ResultOk) {
        return code;
    }
    if (DeleteSource && ::unlink(FileSource.c_str()) != 0) {
        lastErrorCode_ = errno;
    }
    return ResultOk;
}

int TGzip::Decompress()
{
    lastErrorCode_ = 0;
    GzReader reader;
    errno = 0;
    reader.file = isDirectory(FileSource) ? nullptr : gzopen(FileSource.c_str(), "rb");
    if (reader.file == nullptr) {
        lastErrorCode_ = errno;
        fail("Can't open: " + FileSource);
        return DecompressReadFailed;
    }
    gzbuffer(reader.file, 128 * 1024);

    struct stat st
    {
    };
    const std::uint64_t base =
        ::stat(FileSource.c_str(), &st) == 0 ? static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0)) : 0;

    StdioFile destination;
    destination.file = std::fopen(FileDestination.c_str(), "wb");
    if (destination.file == nullptr) {
        lastErrorCode_ = errno;
        reader.close();
        fail("Can't create: " + FileDestination);
        return DecompressWriteFailed;
    }
    std::setvbuf(destination.file, nullptr, _IOFBF, 64 * 1024);

    int code = ResultOk;
    Progress = 0;
    if (ProgressStep > 0) {
        fireProgress();
    }
    std::vector<char> piece(PieceSize);
    std::uint64_t done = 0;
    bool tooLarge = false;
    for (;;) {
        errno = 0;
        const int n = gzread(reader.file, piece.data(), static_cast<unsigned>(piece.size()));
        if (n < 0) {
            lastErrorCode_ = errno;
            code = DecompressReadFailed;
            break;
        }
        if (n == 0) {
            break;
        }
        if (MaxExpandedSize != 0 && done + static_cast<std::uint64_t>(n) > MaxExpandedSize) {
            lastErrorCode_ = EFBIG;
            code = DecompressWriteFailed;
            tooLarge = true;
            break;
        }
        if (std::fwrite(piece.data(), 1, static_cast<std::size_t>(n), destination.file) !=
            static_cast<std::size_t>(n)) {
            lastErrorCode_ = errno;
            code = DecompressWriteFailed;
            break;
        }
        done += static_cast<std::uint64_t>(n);
        advanceProgress(ProgressStep, Progress, done, base, [this] { fireProgress(); });
    }
    if (reader.close() != Z_OK) {
        if (lastErrorCode_ == 0) {
            lastErrorCode_ = errno;
        }
        fail("gzclose Error.");
        code = DecompressReaderCloseFailed;
    }

    if (DeleteSource) {
        ::unlink(FileSource.c_str());
    }

    if (destination.close() != 0) {
        lastErrorCode_ = errno;
        fail("Can't close file " + FileDestination);
        return DecompressDestinationCloseFailed;
    }
    if (tooLarge) {
        ::unlink(FileDestination.c_str());
    }
    return code;
}

}  // namespace vek::crypto
