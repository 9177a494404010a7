#pragma once

#include "wire/Timeouts.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

// What the fuzz targets share: a scratch base directory, scripted peers that
// play the input as the other end of a connection, and waits short enough for
// many runs a second.
namespace vek::fuzz {

// A private directory for the whole process, removed at exit; VEK_DIR and
// TMPDIR point at it, so the client's vek.INI, trace, temp/ and work files
// land there. Made on first use.
const std::filesystem::path& scratchDir();
// Removes everything inside `dir` (kept itself); a missing one is created.
void emptyDir(const std::filesystem::path& dir);
void writeFile(const std::filesystem::path& path, std::string_view content);
[[nodiscard]] std::string readFile(const std::filesystem::path& path);

// Every protocol wait cut down: a peer that has said all it will say has
// also closed its side, so no read waits for long; pauses go.
[[nodiscard]] wire::Timeouts quickTimeouts();

// Two connected stream sockets (AF_UNIX); both close-on-exec.
[[nodiscard]] std::pair<int, int> socketPair();
// A connected TCP socket to 127.0.0.1:port; -1 when the connection fails.
[[nodiscard]] int connectLoopback(std::uint16_t port);

// Plays `bytes` as everything the far end of a connection says: writes them,
// then ends its side of the stream, meanwhile reading and dropping whatever
// the near end sends, until the near end closes. Owns `fd`; the destructor
// waits for the near end to close (or a generous hang guard) and closes it.
class ScriptedPeer
{
public:
    ScriptedPeer(int fd, std::vector<std::uint8_t> bytes);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

private:
    void run();

    int fd_;
    std::vector<std::uint8_t> bytes_;
    std::thread thread_;
};

// An FTP server on 127.0.0.1 (a free port) whose every control connection
// says `control` and then ends its side, reading the client's commands
// meanwhile; after the client's first RETR on a connection it connects to
// the last PORT address and sends `data` there. Connections are served one
// after another until the object goes.
class ScriptedFtpServer
{
public:
    ScriptedFtpServer(std::string control, std::string data);
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    // The same port for the whole process, so one vek.INI names it.
    [[nodiscard]] static std::uint16_t port();

private:
    void run();
    void serve(int fd);

    std::string control_;
    std::string data_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Splits an input at the first `marker`: what lies before, and what lies
// after (empty when the marker is absent).
[[nodiscard]] std::pair<std::string_view, std::string_view> splitAt(std::string_view input, std::string_view marker);

[[nodiscard]] inline std::string_view asText(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace vek::fuzz
