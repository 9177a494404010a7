#include "crypto/TGzip.h"

#include "crypto/ProgressRule.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
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

// Deflate looks back at most this far, so it is all the dictionary a piece needs.
constexpr std::size_t DictionarySize = 32 * 1024;
constexpr unsigned MaxCompressionWorkers = 4;
// After pieces that each end with a sync flush (byte-aligned, no final
// block), the stream ends with an empty final block with fixed codes.
constexpr std::uint8_t EmptyFinalBlock[] = {0x03, 0x00};

// The deflate engine. Level 1 with the standard strategy is ISA-L's level 1:
// several times faster than zlib's level 1 and smaller output on text, with
// stored blocks where nothing compresses. The other levels and strategies,
// which ISA-L does not have, are zlib's.
enum class Engine
{
    Zlib,
    Isal,
};

Engine engineFor(int level, TCompressionType type)
{
    return level == 1 && type == TCompressionType::Standard ? Engine::Isal : Engine::Zlib;
}

// The standard CRC-32 of the gzip trailer, by ISA-L's carry-less
// multiplication where the processor has it.
std::uint32_t checksumOf(std::span<const std::uint8_t> data, std::uint32_t crc = 0)
{
    return crc32_gzip_refl(crc, data.data(), data.size());
}

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

// What each deflating thread owns: a stream of one engine or the other.
struct PieceStream
{
    Engine engine = Engine::Zlib;
    DeflateStream deflate;
    isal_zstream isal{};
    std::vector<std::uint8_t> isalLevelBuffer;
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

// The deflate stream and the buffered destination of one compression.
class GzipWriter
{
public:
    GzipWriter(platform::File& destination, const std::function<void(std::span<const std::uint8_t>)>& observer)
        : destination_(destination)
        , observer_(observer)
        , out_(OutputBuffer)
    {
        stream_.z.next_out = out_.data();
        stream_.z.avail_out = static_cast<uInt>(out_.size());
    }

    // Only for the single-stream form; deflateInit2 leaves next_out and avail_out alone.
    bool init(int level, int strategy)
    {
        if (deflateInit2(&stream_.z, level, Z_DEFLATED, -WindowBits, MemoryLevel, strategy) != Z_OK) {
            errno = ENOMEM;
            return false;
        }
        stream_.initialised = true;
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
        crc_ = checksumOf({data, size}, static_cast<std::uint32_t>(crc_));
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
        return putTrailer();
    }

    // A piece deflated elsewhere, with the CRC-32 and length of its input.
    // It goes out from its own buffer, after whatever is pending.
    bool putPiece(std::span<const std::uint8_t> deflated, uLong crc, std::uint64_t length)
    {
        crc_ = crc32_combine(crc_, crc, static_cast<z_off_t>(length));
        length_ += length;
        return flush() && emit(deflated);
    }

    // Ends a stream made of pieces, writes the trailer and everything pending.
    bool finishPieces() { return put(EmptyFinalBlock, sizeof EmptyFinalBlock) && putTrailer(); }

    // Writes out what is pending (the header), before pieces go out through
    // a PieceWriter.
    bool flushPending() { return flush(); }

    // A piece that a PieceWriter writes: its input is counted in the
    // trailer, and the observer sees its bytes now, while they are written.
    void observePiece(std::span<const std::uint8_t> deflated, uLong crc, std::uint64_t length)
    {
        crc_ = crc32_combine(crc_, crc, static_cast<z_off_t>(length));
        length_ += length;
        if (observer_ && !deflated.empty()) {
            observer_(deflated);
        }
    }

private:
    bool putTrailer()
    {
        std::uint8_t trailer[8];
        for (int i = 0; i < 4; ++i) {
            trailer[i] = static_cast<std::uint8_t>(crc_ >> (8 * i));
            trailer[4 + i] = static_cast<std::uint8_t>(length_ >> (8 * i));
        }
        return put(trailer, sizeof trailer) && flush();
    }

    bool flush()
    {
        const std::size_t n = out_.size() - stream_.z.avail_out;
        if (n > 0 && !emit(std::span<const std::uint8_t>(out_.data(), n))) {
            return false;
        }
        stream_.z.next_out = out_.data();
        stream_.z.avail_out = static_cast<uInt>(out_.size());
        return true;
    }

    bool emit(std::span<const std::uint8_t> bytes)
    {
        if (bytes.empty()) {
            return true;
        }
        if (!destination_.writeAll(bytes.data(), bytes.size())) {
            return false;
        }
        if (observer_) {
            observer_(bytes);
        }
        return true;
    }

    platform::File& destination_;
    const std::function<void(std::span<const std::uint8_t>)>& observer_;
    std::vector<std::uint8_t> out_;
    DeflateStream stream_;
    uLong crc_ = crc32_z(0, nullptr, 0);
    std::uint64_t length_ = 0;
};

// One piece of a parallel compression: the dictionary (up to 32 KiB of the
// input before it) followed by its own input, and what deflate made of it.
struct Piece
{
    std::vector<std::uint8_t> input;
    std::size_t dictionary = 0;
    std::size_t length = 0;
    std::vector<std::uint8_t> output;
    std::size_t outputLength = 0;
    uLong crc = 0;
    bool failed = false;
    bool done = false;
    // Handed to the PieceWriter and not yet written.
    bool writing = false;

    [[nodiscard]] std::span<const std::uint8_t> data() const { return {input.data() + dictionary, length}; }
    [[nodiscard]] std::span<const std::uint8_t> deflated() const { return {output.data(), outputLength}; }
};

// Deflates pieces on worker threads, each worker with its own stream. With no
// thread to be had, submit() deflates on the caller's thread; the bytes are
// the same either way.
class PieceDeflater
{
public:
    PieceDeflater() = default;
    PieceDeflater(const PieceDeflater&) = delete;
    PieceDeflater& operator=(const PieceDeflater&) = delete;

    ~PieceDeflater()
    {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (auto& t : threads_) {
            t.join();
        }
    }

    // Sets up `streams` deflate streams of the engine; with `threads`, one
    // worker thread for each, otherwise submit() deflates on the caller's
    // thread with the first. false (errno ENOMEM) when a stream cannot be set up.
    bool init(unsigned streams, bool threads, Engine engine, int level, int strategy)
    {
        for (unsigned i = 0; i < streams; ++i) {
            auto stream = std::make_unique<PieceStream>();
            stream->engine = engine;
            if (engine == Engine::Isal) {
                stream->isalLevelBuffer.resize(ISAL_DEF_LVL1_DEFAULT);
            } else {
                if (deflateInit2(&stream->deflate.z, level, Z_DEFLATED, -WindowBits, MemoryLevel, strategy) != Z_OK) {
                    errno = ENOMEM;
                    return false;
                }
                stream->deflate.initialised = true;
            }
            streams_.push_back(std::move(stream));
        }
        try {
            for (auto& stream : streams_) {
                if (!threads) {
                    break;
                }
                threads_.emplace_back([this, s = stream.get()] { run(*s); });
            }
        } catch (const std::system_error&) {
            // Fewer threads than asked for (none at worst): the pieces still
            // get deflated, by the threads there are or by the caller.
        }
        return true;
    }

    void submit(Piece& piece)
    {
        piece.done = false;
        if (threads_.empty()) {
            deflatePiece(*streams_.front(), piece);
            piece.done = true;
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back(&piece);
        }
        work_.notify_one();
    }

    void wait(const Piece& piece)
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return piece.done; });
    }

private:
    void run(PieceStream& stream)
    {
        for (;;) {
            Piece* piece = nullptr;
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [&] { return stop_ || !queue_.empty(); });
                if (stop_) {
                    return;
                }
                piece = queue_.front();
                queue_.pop_front();
            }
            deflatePiece(stream, *piece);
            {
                const std::lock_guard lock(mutex_);
                piece->done = true;
            }
            done_.notify_all();
        }
    }

    static void deflatePiece(PieceStream& stream, Piece& piece)
    {
        piece.failed = false;
        piece.crc = checksumOf(piece.data());
        if (stream.engine == Engine::Isal) {
            deflateIsal(stream, piece);
        } else {
            deflateZlib(stream, piece);
        }
    }

    static void deflateZlib(PieceStream& stream, Piece& piece)
    {
        z_stream& z = stream.deflate.z;
        if (deflateReset(&z) != Z_OK ||
            (piece.dictionary > 0 &&
             deflateSetDictionary(&z, piece.input.data(), static_cast<uInt>(piece.dictionary)) != Z_OK)) {
            piece.failed = true;
            return;
        }
        const std::size_t bound = deflateBound(&z, piece.length) + 64;
        if (piece.output.size() < bound) {
            piece.output.resize(bound);
        }
        z.next_in = piece.input.data() + piece.dictionary;
        z.avail_in = static_cast<uInt>(piece.length);
        std::size_t produced = 0;
        for (;;) {
            if (produced == piece.output.size()) {
                piece.output.resize(piece.output.size() * 2);
            }
            z.next_out = piece.output.data() + produced;
            z.avail_out = static_cast<uInt>(piece.output.size() - produced);
            const int rc = deflate(&z, Z_SYNC_FLUSH);
            produced = piece.output.size() - z.avail_out;
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                piece.failed = true;
                return;
            }
            // A sync flush is complete once deflate leaves room in the output.
            if (z.avail_in == 0 && z.avail_out != 0) {
                break;
            }
        }
        piece.outputLength = produced;
    }

    // The piece as deflate blocks ended by a sync flush (byte-aligned, no
    // final block), referring back into its dictionary.
    static void deflateIsal(PieceStream& stream, Piece& piece)
    {
        isal_zstream& z = stream.isal;
        isal_deflate_init(&z);
        z.level = 1;
        z.level_buf = stream.isalLevelBuffer.data();
        z.level_buf_size = static_cast<std::uint32_t>(stream.isalLevelBuffer.size());
        z.gzip_flag = IGZIP_DEFLATE;
        z.flush = SYNC_FLUSH;
        z.end_of_stream = 0;
        if (piece.dictionary > 0 &&
            isal_deflate_set_dict(&z, piece.input.data(), static_cast<std::uint32_t>(piece.dictionary)) != COMP_OK) {
            piece.failed = true;
            return;
        }
        // Stored blocks bound what incompressible input can grow to.
        const std::size_t bound = piece.length + piece.length / 64 + 1024;
        if (piece.output.size() < bound) {
            piece.output.resize(bound);
        }
        z.next_in = piece.input.data() + piece.dictionary;
        z.avail_in = static_cast<std::uint32_t>(piece.length);
        std::size_t produced = 0;
        for (;;) {
            if (produced == piece.output.size()) {
                piece.output.resize(piece.output.size() * 2);
            }
            z.next_out = piece.output.data() + produced;
            z.avail_out = static_cast<std::uint32_t>(piece.output.size() - produced);
            if (isal_deflate(&z) != COMP_OK) {
                piece.failed = true;
                return;
            }
            produced = piece.output.size() - z.avail_out;
            // The flush is complete once all input is taken and the stream
            // waits for a new block.
            if (z.avail_in == 0 && z.internal_state.state == ZSTATE_NEW_HDR) {
                break;
            }
        }
        piece.outputLength = produced;
    }

    std::vector<std::unique_ptr<PieceStream>> streams_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::deque<Piece*> queue_;
    bool stop_ = false;
};

// Writes deflated pieces to the destination in order on a thread of its own,
// so that the caller's thread meanwhile passes them to the observer (the
// upload's cipher). After the first failed write nothing more is written and
// error() holds its errno. With no thread to be had, push() writes at once.
class PieceWriter
{
public:
    explicit PieceWriter(platform::File& destination)
        : destination_(destination)
    {}
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    ~PieceWriter()
    {
        if (thread_.joinable()) {
            {
                const std::lock_guard lock(mutex_);
                stop_ = true;
            }
            work_.notify_one();
            thread_.join();
        }
    }

    void start()
    {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // push() writes on the caller's thread.
        }
    }

    void push(Piece& piece)
    {
        if (!thread_.joinable()) {
            write(piece);
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            piece.writing = true;
            queue_.push_back(&piece);
        }
        work_.notify_one();
    }

    // Waits until `piece` is written (or skipped after a failure).
    void waitWritten(const Piece& piece)
    {
        std::unique_lock lock(mutex_);
        written_.wait(lock, [&] { return !piece.writing; });
    }

    // Waits until every piece pushed is written.
    void drain()
    {
        std::unique_lock lock(mutex_);
        written_.wait(lock, [&] { return queue_.empty() && !busy_; });
    }

    [[nodiscard]] int error()
    {
        const std::lock_guard lock(mutex_);
        return error_;
    }

private:
    void write(const Piece& piece)
    {
        if (error_ == 0 && piece.outputLength > 0 && !destination_.writeAll(piece.output.data(), piece.outputLength)) {
            error_ = errno != 0 ? errno : EIO;
        }
    }

    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_) {
                return;
            }
            Piece* piece = queue_.front();
            queue_.pop_front();
            busy_ = true;
            const bool failedBefore = error_ != 0;
            lock.unlock();
            int err = 0;
            if (!failedBefore && piece->outputLength > 0 &&
                !destination_.writeAll(piece->output.data(), piece->outputLength)) {
                err = errno != 0 ? errno : EIO;
            }
            lock.lock();
            if (err != 0 && error_ == 0) {
                error_ = err;
            }
            piece->writing = false;
            busy_ = false;
            written_.notify_all();
        }
    }

    platform::File& destination_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable written_;
    std::deque<Piece*> queue_;
    bool busy_ = false;
    bool stop_ = false;
    int error_ = 0;
};

// Reads the source piece by piece, keeps every slot of `pieces` in the
// deflater's hands, and writes the deflated pieces out in input order as they
// are done; `handled` is told of every PieceSize bytes (or fewer, at the end)
// written. The result is ResultOk, ResultReadFailed (the pieces read before
// the failure are still written) or ResultWriteFailed; `error` gets the errno.
int compressInPieces(platform::File& source,
                     GzipWriter& writer,
                     PieceWriter* pieceWriter,
                     PieceDeflater& deflater,
                     std::vector<Piece>& pieces,
                     const std::function<void(std::size_t)>& handled,
                     int& error)
{
    if (pieceWriter != nullptr && !writer.flushPending()) {
        error = errno;
        return TGzip::ResultWriteFailed;
    }
    int code = TGzip::ResultOk;
    std::deque<Piece*> inFlight;
    std::size_t next = 0;
    const Piece* previous = nullptr;
    bool reading = true;
    for (;;) {
        // Slots are filled in ring order, so the one at `next` is the oldest
        // and already deflated, and `previous` still holds its input.
        while (reading && inFlight.size() < pieces.size()) {
            Piece& piece = pieces[next];
            if (pieceWriter != nullptr) {
                pieceWriter->waitWritten(piece);
            }
            next = (next + 1) % pieces.size();
            if (piece.input.empty()) {
                piece.input.resize(DictionarySize + TGzip::ParallelPieceSize);
            }
            piece.dictionary = 0;
            if (previous != nullptr) {
                const std::size_t history = previous->dictionary + previous->length;
                piece.dictionary = std::min(DictionarySize, history);
                std::copy_n(previous->input.data() + history - piece.dictionary, piece.dictionary, piece.input.data());
            }
            const std::ptrdiff_t n = source.readFull(piece.input.data() + piece.dictionary, TGzip::ParallelPieceSize);
            if (n <= 0) {
                if (n < 0) {
                    error = errno;
                    code = TGzip::ResultReadFailed;
                }
                reading = false;
                break;
            }
            piece.length = static_cast<std::size_t>(n);
            deflater.submit(piece);
            inFlight.push_back(&piece);
            previous = &piece;
        }
        if (inFlight.empty()) {
            if (pieceWriter != nullptr) {
                pieceWriter->drain();
                if (const int err = pieceWriter->error(); err != 0) {
                    error = err;
                    return TGzip::ResultWriteFailed;
                }
            }
            return code;
        }
        Piece& piece = *inFlight.front();
        inFlight.pop_front();
        deflater.wait(piece);
        if (piece.failed) {
            error = EIO;
            return TGzip::ResultWriteFailed;
        }
        if (pieceWriter != nullptr) {
            if (const int err = pieceWriter->error(); err != 0) {
                error = err;
                return TGzip::ResultWriteFailed;
            }
            pieceWriter->push(piece);
            writer.observePiece(piece.deflated(), piece.crc, piece.length);
        } else if (!writer.putPiece(piece.deflated(), piece.crc, piece.length)) {
            error = errno;
            return TGzip::ResultWriteFailed;
        }
        for (std::size_t at = 0; at < piece.length; at += TGzip::PieceSize) {
            handled(std::min(TGzip::PieceSize, piece.length - at));
        }
    }
}

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

unsigned TGzip::compressionWorkers() const
{
    if (CompressionThreads > 0) {
        return std::min(CompressionThreads, 64U);
    }
    return std::clamp(std::thread::hardware_concurrency(), 1U, MaxCompressionWorkers);
}

int TGzip::Compress()
{
    lastErrorCode_ = 0;
    platform::File source;
    if (isDirectory(FileSource) || !source.openRead(FileSource)) {
        lastErrorCode_ = errno;
        fail("Can't open: " + FileSource);
        return ResultSourceOpenFailed;
    }
    const std::int64_t base = source.size();
    const auto total = static_cast<std::uint64_t>(std::max<std::int64_t>(base, 0));
    const int level = std::clamp(CompressionLevel, 1, 9);
    const Engine engine = engineFor(level, CompressionType);
    const bool parallel = total >= ParallelThreshold;
    // The ISA-L engine always deflates in pieces: on worker threads from the
    // parallel threshold on, on this thread below it.
    const bool pieceWise = parallel || engine == Engine::Isal;

    // The pieces outlive the deflater, whose threads stop before it goes.
    std::vector<Piece> pieces;
    PieceDeflater deflater;
    platform::File destination;
    GzipWriter writer(destination, observer_);
    // Stops before the pieces whose bytes it may still be writing go.
    PieceWriter pieceWriter(destination);
    const unsigned workers = parallel ? compressionWorkers() : 1;
    if (!destination.create(FileDestination) ||
        !(pieceWise ? deflater.init(workers, parallel, engine, level, strategyOf(CompressionType))
                    : writer.init(level, strategyOf(CompressionType)))) {
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
    std::uint64_t done = 0;
    const auto handled = [&](std::size_t piece) {
        done += piece;
        advanceProgress(ProgressStep, Progress, done, total, [this] { fireProgress(); });
    };
    if (pieceWise && code == ResultOk) {
        // Enough pieces in hand for every worker to have one queued behind
        // the one it deflates, while this thread reads and writes.
        pieces.resize(2 * static_cast<std::size_t>(workers) + 1);
        // In the parallel form the deflated pieces are written by a thread of
        // their own while this one passes them to the observer.
        if (parallel) {
            pieceWriter.start();
        }
        code = compressInPieces(
            source, writer, parallel ? &pieceWriter : nullptr, deflater, pieces, handled, lastErrorCode_);
        // After a failure pieces may still be going out; the end of the
        // stream follows them.
        pieceWriter.drain();
    }
    std::vector<std::uint8_t> chunk(pieceWise ? 0 : ReadChunk);
    while (!pieceWise && code == ResultOk) {
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
            handled(piece);
        }
    }

    source.close();
    const bool finished = pieceWise ? writer.finishPieces() : writer.finish();
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

    platform::StdioFile destination;
    if (!destination.open(FileDestination, "wb")) {
        lastErrorCode_ = errno;
        reader.close();
        fail("Can't create: " + FileDestination);
        return DecompressWriteFailed;
    }
    std::setvbuf(destination.get(), nullptr, _IOFBF, 64 * 1024);

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
        if (std::fwrite(piece.data(), 1, static_cast<std::size_t>(n), destination.get()) !=
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

    if (!destination.close()) {
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
