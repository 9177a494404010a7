#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace vek::crypto {

// Optional header fields written by compression.
struct THeader
{
    bool filename = true;
    bool comment = false;
};

enum class TCompressionType
{
    Standard,
    Filtered,
    HuffmanOnly,
};

// Turns one file into a gzip file and a gzip file back into a plain file.
// The component owns no file between calls.
//
// Compress writes exactly: 1F 8B 08, flags (08 name, 10 comment), four zero
// bytes of time, extra flags 00, OS code 00, the base name of FileSource in
// Windows-1252 and a zero byte, the comment and a zero byte, the raw deflate
// stream (window 15 bits, memory level 8), CRC-32 and length modulo 2^32.
//
// Results of Compress: 0 success; 1 the source cannot be opened ("Can't open: "
// + source); 2 the destination cannot be created ("Can't open: " +
// destination); 101 read error on the source; 102 the writer did not take a
// piece whole; 103 the writer failed to close (flush, trailer or close).
//
// Results of Decompress: 0 success; 1 the source cannot be opened ("Can't open:
// " + source) or a read/inflate error; 2 the destination cannot be created
// ("Can't create: " + destination) or a short write; 3 the reader failed to
// close ("gzclose Error."); 4 the destination cannot be closed ("Can't close
// file " + destination). Code 4 replaces ending the whole process, which would
// lose the caller's state: the caller sees a failure like any other.
//
// Messages are shown through the user-interface services, as errors, only
// when WindowOnError is set; the result code is returned either way.
class TGzip
{
public:
    static constexpr int ResultOk = 0;
    static constexpr int ResultSourceOpenFailed = 1;
    static constexpr int ResultDestinationOpenFailed = 2;
    static constexpr int ResultReadFailed = 101;
    static constexpr int ResultWriteFailed = 102;
    static constexpr int ResultCloseFailed = 103;

    static constexpr int DecompressReadFailed = 1;
    static constexpr int DecompressWriteFailed = 2;
    static constexpr int DecompressReaderCloseFailed = 3;
    static constexpr int DecompressDestinationCloseFailed = 4;

    // Size of the pieces read from the source (compression) or from the
    // reader (expansion); progress is evaluated after each of them.
    static constexpr std::size_t PieceSize = 16384;

    // Level 1 with the Standard type is deflated by ISA-L's level 1 (several
    // times faster than zlib's level 1, stored blocks where nothing
    // compresses); the other levels and types by zlib.
    //
    // A source of this size or more is deflated in parallel: pieces of
    // ParallelPieceSize bytes are compressed independently, each with the
    // 32 KiB of input before it as dictionary and ended by a sync flush, and
    // joined in order into one deflate stream, so the file is still one gzip
    // member. A smaller source deflated by zlib is one deflate stream, as a
    // single zlib stream over the whole input gives it; by ISA-L it is one
    // such piece, deflated on the calling thread.
    static constexpr std::uint64_t ParallelThreshold = 1024 * 1024;
    static constexpr std::size_t ParallelPieceSize = 1024 * 1024;

    THeader GzipHeader;
    std::string FileSource = "data.dat";
    std::string FileDestination = "data.dat.gz";
    bool DeleteSource = false;
    // Written as the gzip comment (in Windows-1252) when GzipHeader.comment is set.
    std::string Comments;
    // 1..9; values outside are brought to the nearest end.
    int CompressionLevel = 6;
    TCompressionType CompressionType = TCompressionType::Standard;
    bool WindowOnError = true;
    // 0..100; 0 turns progress events off.
    int ProgressStep = 0;
    std::function<void(TGzip& sender)> OnProgress;
    // Decompress stops when the expanded data would pass this many bytes
    // (0: no bound): the partial destination is removed and the result is
    // DecompressWriteFailed with lastErrorCode() EFBIG. It keeps a tiny
    // hostile file from filling the disk.
    std::uint64_t MaxExpandedSize = 0;
    // Threads that deflate a source of ParallelThreshold bytes or more; 0
    // means one per core, at most 4. The bytes written do not depend on it.
    unsigned CompressionThreads = 0;

    // Percentage set before each progress event.
    int Progress = 0;

    int Compress();
    int Decompress();

    // errno captured at the failure that produced the last nonzero result
    // (0 when the failure set none).
    [[nodiscard]] int lastErrorCode() const { return lastErrorCode_; }

    // Receives every byte that Compress writes to the destination, in order,
    // on the thread that called Compress: in the single-stream form right
    // after it was written, in the parallel form while a thread of its own
    // writes it (and other threads go on deflating the pieces that follow).
    // It may throw; Compress then stops its threads, closes its files and
    // lets the exception through.
    void setOutputObserver(std::function<void(std::span<const std::uint8_t>)> observer)
    {
        observer_ = std::move(observer);
    }

private:
    void fail(const std::string& message) const;
    void fireProgress();
    [[nodiscard]] unsigned compressionWorkers() const;

    int lastErrorCode_ = 0;
    std::function<void(std::span<const std::uint8_t>)> observer_;
};

}  // namespace vek::crypto
