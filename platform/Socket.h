#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vek::platform {

// A blocking TCP client socket. Every failure throws vek::Error carrying the
// errno of the failing call (0 when the failure has none, such as an orderly
// close by the peer in the middle of an exact read).
//
// With the event pump on, every wait is cut into slices of at most 50 ms and
// ui().processEvents() runs between them, so a window stays responsive during
// a long blocking call.
class TcpSocket
{
public:
    TcpSocket() = default;
    explicit TcpSocket(int fd);
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves host (a name or a dotted IPv4 address) and connects, giving up
    // after connectTimeout. Replaces any previous connection.
    void connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds connectTimeout);
    [[nodiscard]] bool connected() const { return fd_ >= 0; }
    void close() noexcept;

    // Writes the whole buffer; fails unless the peer takes all of it within
    // `timeout`, however the bytes trickle.
    void writeAll(std::span<const std::uint8_t> data, std::chrono::milliseconds timeout);
    // Writes what the socket takes at once, without waiting: 0 when it is
    // full. Fails as writeAll does.
    std::size_t writeSome(std::span<const std::uint8_t> data);
    struct Readiness
    {
        bool readable = false;  // data or the end of stream
        bool writable = false;
    };
    // Waits up to `timeout` until the socket has something to read or room
    // to write; both false on time-out.
    [[nodiscard]] Readiness waitReadableOrWritable(std::chrono::milliseconds timeout);
    // True when something can be read at once.
    [[nodiscard]] bool readableNow() const;
    // Reads exactly data.size() bytes; fails unless all of them arrive within
    // `timeout`, or when the peer closes first.
    void readExact(std::span<std::uint8_t> data, std::chrono::milliseconds timeout);
    // Reads what is available, at least one byte; 0 means the peer closed.
    // Fails when nothing arrives for `timeout`.
    std::size_t readSome(std::span<std::uint8_t> data, std::chrono::milliseconds timeout);
    // True when data (or end of stream) is ready within `timeout`.
    [[nodiscard]] bool waitReadable(std::chrono::milliseconds timeout);

    void setEventPump(bool on) { pump_ = on; }
    void setNoDelay(bool on);

    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] std::string peerAddress() const;
    [[nodiscard]] std::uint16_t peerPort() const;
    [[nodiscard]] std::string localAddress() const;
    [[nodiscard]] std::uint16_t localPort() const;

private:
    enum class Wait
    {
        Ready,
        TimedOut,
    };
    Wait waitFor(short events, std::chrono::milliseconds timeout);
    // True when data arrived during a short busy wait.
    bool spinBeforeWait();

    int fd_ = -1;
    bool pump_ = false;
};

// A listening TCP socket with a polled accept.
class TcpListener
{
public:
    static constexpr int DefaultBacklog = 15;

    TcpListener() = default;
    ~TcpListener();
    TcpListener(TcpListener&& other) noexcept;
    TcpListener& operator=(TcpListener&& other) noexcept;
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds to a dotted IPv4 address ("0.0.0.0" for all) and port (0 for a
    // free one) and listens.
    void listen(const std::string& address, std::uint16_t port, int backlog = DefaultBacklog);
    [[nodiscard]] bool listening() const { return fd_ >= 0; }
    void close() noexcept;

    // Waits up to `timeout` for a connection; an unconnected socket when none came.
    [[nodiscard]] TcpSocket accept(std::chrono::milliseconds timeout);

    void setEventPump(bool on) { pump_ = on; }

    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] std::string localAddress() const;
    [[nodiscard]] std::uint16_t localPort() const;

private:
    int fd_ = -1;
    bool pump_ = false;
};

}  // namespace vek::platform
