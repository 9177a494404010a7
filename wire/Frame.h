#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vek::platform {
class TcpSocket;
}

namespace vek::wire {

// 32-bit signed integers travel little-endian (least significant byte
// first): the length of every frame and the size message of an upload.
inline constexpr std::size_t Int32Size = 4;
[[nodiscard]] std::array<std::uint8_t, Int32Size> encodeInt32(std::int32_t value);
[[nodiscard]] std::int32_t decodeInt32(std::span<const std::uint8_t, Int32Size> bytes);

// A frame: one code byte, the payload length as a 32-bit signed little-endian
// integer, then the payload. No terminator, checksum or padding.
inline constexpr std::size_t HeaderSize = 1 + Int32Size;
static_assert(HeaderSize == 5);

// The largest payload either side accepts. Real messages stay far below it
// (blocks of 1280 bytes, list files in blocks, short texts); a length beyond
// it means a broken or hostile peer, and reading it would mean allocating it.
inline constexpr std::int32_t MaxPayloadLength = 16 * 1024 * 1024;

struct Message
{
    std::uint8_t code = 0;
    std::int32_t length = 0;  // as received; may be 0 or negative
    std::vector<std::uint8_t> payload;

    // The payload up to its first NUL byte (all of it when there is none).
    [[nodiscard]] std::string text() const;
};

// code + length + payload in one buffer of HeaderSize + length bytes. Callers
// without a payload pass length 0.
std::vector<std::uint8_t> MontarMensagem(std::uint8_t code, std::int32_t length, std::span<const std::uint8_t> payload);
std::vector<std::uint8_t> MontarMensagem(std::uint8_t code, std::int32_t length);
// A frame whose payload is the given bytes (a text already in Windows-1252).
std::vector<std::uint8_t> frameOf(std::uint8_t code, std::string_view payload);

struct Header
{
    std::uint8_t code = 0;
    std::int32_t length = 0;
};
[[nodiscard]] std::array<std::uint8_t, HeaderSize> encodeHeader(Header header);
[[nodiscard]] Header decodeHeader(std::span<const std::uint8_t, HeaderSize> bytes);

std::string payloadText(std::span<const std::uint8_t> payload);
std::vector<std::uint8_t> bytesOf(std::string_view text);

// Reads one whole frame, each read limited by `timeout`; for the server side
// and test peers (the client's reader, with its traces, is LerMensagem).
// Throws vek::Error on failure and on a length above maxLength.
Message
readFrame(platform::TcpSocket& socket, std::chrono::milliseconds timeout, std::int32_t maxLength = MaxPayloadLength);
void writeFrame(platform::TcpSocket& socket, std::span<const std::uint8_t> frame, std::chrono::milliseconds timeout);

// Reads frames through a buffer, so that a frame that arrived whole costs one
// receive call instead of two (header, then payload). Bytes read past the
// current frame stay buffered for the next one.
class FrameReader
{
public:
    explicit FrameReader(platform::TcpSocket& socket, std::size_t capacity = 64 * 1024);

    // As readFrame: the header, then the whole payload, each within `timeout`.
    Message read(std::chrono::milliseconds timeout, std::int32_t maxLength = MaxPayloadLength);
    // The same in two steps, for a reader with checks of its own between
    // them: the next header, then exactly its payload's bytes.
    Header readHeader(std::chrono::milliseconds timeout);
    void readPayload(std::span<std::uint8_t> payload, std::chrono::milliseconds timeout);

    // Bytes already received that belong to frames not read yet.
    [[nodiscard]] std::size_t buffered() const { return end_ - begin_; }
    // Whether the next frame is already here whole, so reading it will not wait.
    [[nodiscard]] bool hasWholeFrame() const;
    // Forgets what was received: for a socket that was closed or connected anew.
    void discard() { begin_ = end_ = 0; }

private:
    // Makes at least n bytes (n <= capacity) available at begin_ before the deadline.
    void fill(std::size_t n, std::chrono::steady_clock::time_point deadline);

    platform::TcpSocket& socket_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

}  // namespace vek::wire
