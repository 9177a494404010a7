#include "wire/Frame.h"

#include "platform/Error.h"
#include "platform/Socket.h"
#include "wire/MessageCodes.h"

#include <algorithm>
#include <cerrno>

namespace vek::wire {
namespace {

void checkLength(const Header& h, std::int32_t maxLength)
{
    if (h.length > maxLength) {
        throw Error("Mensagem " + debugName(h.code) + " anuncia " + std::to_string(h.length) +
                        " bytes, acima do limite de " + std::to_string(maxLength),
                    EMSGSIZE);
    }
}

// What remains of a message's time; a message whose time is used up fails
// like a silent peer, so a trickle of bytes cannot hold a reader forever.
std::chrono::milliseconds remaining(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        throw Error("Tempo esgotado ao ler do socket", ETIMEDOUT);
    }
    return left;
}

}  // namespace

std::array<std::uint8_t, Int32Size> encodeInt32(std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(u & 0xFF),
            static_cast<std::uint8_t>((u >> 8) & 0xFF),
            static_cast<std::uint8_t>((u >> 16) & 0xFF),
            static_cast<std::uint8_t>((u >> 24) & 0xFF)};
}

std::int32_t decodeInt32(std::span<const std::uint8_t, Int32Size> bytes)
{
    const std::uint32_t u = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                            (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    return static_cast<std::int32_t>(u);
}

std::string Message::text() const
{
    return payloadText(payload);
}

std::array<std::uint8_t, HeaderSize> encodeHeader(Header header)
{
    std::array<std::uint8_t, HeaderSize> bytes{};
    bytes[0] = header.code;
    const auto length = encodeInt32(header.length);
    std::copy(length.begin(), length.end(), bytes.begin() + 1);
    return bytes;
}

Header decodeHeader(std::span<const std::uint8_t, HeaderSize> bytes)
{
    return Header{bytes[0], decodeInt32(bytes.subspan<1, Int32Size>())};
}

std::vector<std::uint8_t> MontarMensagem(std::uint8_t code, std::int32_t length, std::span<const std::uint8_t> payload)
{
    const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
    std::vector<std::uint8_t> frame(HeaderSize + n, 0);
    const auto header = encodeHeader({code, length});
    std::copy(header.begin(), header.end(), frame.begin());
    std::copy_n(payload.begin(), std::min(n, payload.size()), frame.begin() + HeaderSize);
    return frame;
}

std::vector<std::uint8_t> MontarMensagem(std::uint8_t code, std::int32_t length)
{
    return MontarMensagem(code, length, {});
}

std::vector<std::uint8_t> frameOf(std::uint8_t code, std::string_view payload)
{
    const auto bytes = bytesOf(payload);
    return MontarMensagem(code, static_cast<std::int32_t>(bytes.size()), bytes);
}

std::string payloadText(std::span<const std::uint8_t> payload)
{
    const auto nul = std::find(payload.begin(), payload.end(), std::uint8_t{0});
    return std::string(payload.begin(), nul);
}

std::vector<std::uint8_t> bytesOf(std::string_view text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

Message readFrame(platform::TcpSocket& socket, std::chrono::milliseconds timeout, std::int32_t maxLength)
{
    std::array<std::uint8_t, HeaderSize> header{};
    socket.readExact(header, timeout);
    const Header h = decodeHeader(header);
    checkLength(h, maxLength);
    Message m{h.code, h.length, {}};
    if (h.length > 0) {
        m.payload.resize(static_cast<std::size_t>(h.length));
        socket.readExact(m.payload, timeout);
    }
    return m;
}

void writeFrame(platform::TcpSocket& socket, std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout)
{
    socket.writeAll(frame, timeout);
}

FrameReader::FrameReader(platform::TcpSocket& socket, std::size_t capacity)
    : socket_(socket)
    , buffer_(std::max(capacity, HeaderSize))
{}

void FrameReader::fill(std::size_t n, std::chrono::steady_clock::time_point deadline)
{
    if (buffer_.size() - begin_ < n) {
        std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(end_),
                  buffer_.begin());
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ - begin_ < n) {
        const std::size_t got = socket_.readSome(std::span(buffer_).subspan(end_), remaining(deadline));
        if (got == 0) {
            throw Error("Erro de leitura: a conexão foi encerrada pelo outro lado", 0);
        }
        end_ += got;
    }
}

Header FrameReader::readHeader(std::chrono::milliseconds timeout)
{
    if (buffered() < HeaderSize) {
        fill(HeaderSize, std::chrono::steady_clock::now() + timeout);
    }
    const Header h = decodeHeader(std::span<const std::uint8_t, HeaderSize>(buffer_.data() + begin_, HeaderSize));
    begin_ += HeaderSize;
    return h;
}

void FrameReader::readPayload(std::span<std::uint8_t> payload, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::size_t length = payload.size();
    if (length <= buffer_.size()) {
        if (buffered() < length) {
            fill(length, deadline);
        }
        std::copy_n(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_), length, payload.begin());
        begin_ += length;
    } else {
        // Larger than the buffer: what is buffered, then the rest straight in.
        const std::size_t have = buffered();
        std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(end_),
                  payload.begin());
        begin_ = end_ = 0;
        socket_.readExact(payload.subspan(have), remaining(deadline));
    }
    if (begin_ == end_) {
        begin_ = end_ = 0;
    }
}

Message FrameReader::read(std::chrono::milliseconds timeout, std::int32_t maxLength)
{
    // The header and then the whole payload, each within one time-out.
    const Header h = readHeader(timeout);
    checkLength(h, maxLength);
    Message m{h.code, h.length, {}};
    if (h.length > 0) {
        m.payload.resize(static_cast<std::size_t>(h.length));
        readPayload(m.payload, timeout);
    }
    return m;
}

bool FrameReader::hasWholeFrame() const
{
    if (buffered() < HeaderSize) {
        return false;
    }
    const Header h = decodeHeader(std::span<const std::uint8_t, HeaderSize>(buffer_.data() + begin_, HeaderSize));
    return h.length <= 0 || buffered() - HeaderSize >= static_cast<std::size_t>(h.length);
}

}  // namespace vek::wire
