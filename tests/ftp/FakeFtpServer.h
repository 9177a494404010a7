#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vek::ftp::test {

// One step of a scripted FTP server.
struct FtpStep
{
    enum class Kind
    {
        Command,   // read one command line and record it; `text` is the prefix it must start with
        Reply,     // send `text` as it is (the script writes the line ends)
        Pause,     // do nothing for `delay`
        SendData,  // connect to the last PORT address, send `data` in `pieces` with `delay` between, close
        HoldData,  // connect to the last PORT address, send `data`, stay silent until the client closes
        Connect,   // connect to the last PORT address and keep the connection until the end
        Close,     // close the control connection
    };

    Kind kind = Kind::Command;
    std::string text;
    std::string data;
    std::vector<std::size_t> pieces;
    std::chrono::milliseconds delay{0};

    static FtpStep command(std::string prefix) { return make(Kind::Command, std::move(prefix)); }
    static FtpStep reply(std::string raw) { return make(Kind::Reply, std::move(raw)); }
    static FtpStep pause(std::chrono::milliseconds d) { return make(Kind::Pause, {}, {}, {}, d); }
    static FtpStep sendData(std::string bytes, std::vector<std::size_t> sizes, std::chrono::milliseconds gap)
    {
        return make(Kind::SendData, {}, std::move(bytes), std::move(sizes), gap);
    }
    static FtpStep holdData(std::string bytes) { return make(Kind::HoldData, {}, std::move(bytes)); }
    static FtpStep connectData() { return make(Kind::Connect); }
    static FtpStep close() { return make(Kind::Close); }

private:
    static FtpStep make(Kind kind,
                        std::string text = {},
                        std::string data = {},
                        std::vector<std::size_t> pieces = {},
                        std::chrono::milliseconds delay = {})
    {
        FtpStep s;
        s.kind = kind;
        s.text = std::move(text);
        s.data = std::move(data);
        s.pieces = std::move(pieces);
        s.delay = delay;
        return s;
    }
};

using FtpScript = std::vector<FtpStep>;

// A scripted FTP control server on 127.0.0.1 with a free port. It accepts one
// client, plays the script step by step on its own thread and records every
// command line the client sent. After the script it keeps recording lines
// until the client closes. The destructor stops it and joins the thread.
class FakeFtpServer
{
public:
    explicit FakeFtpServer(FtpScript script);
    ~FakeFtpServer();
    FakeFtpServer(const FakeFtpServer&) = delete;
    FakeFtpServer& operator=(const FakeFtpServer&) = delete;

    [[nodiscard]] std::uint16_t port() const { return port_; }
    // Waits (at most a few seconds) for the client to close, then returns the transcript.
    std::vector<std::string> finish();
    [[nodiscard]] std::vector<std::string> commands() const;
    // Script mismatches: a command that did not start with the expected prefix,
    // a data address that could not be reached, and the like.
    [[nodiscard]] std::vector<std::string> problems() const;

private:
    void run();
    bool readLine(int fd, std::string& line);
    void sleepFor(std::chrono::milliseconds d);
    int connectToPort();
    void problem(const std::string& what);

    FtpScript script_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::string inBuffer_;
    std::vector<int> extraFds_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::vector<std::string> problems_;
    std::thread thread_;
};

}  // namespace vek::ftp::test
