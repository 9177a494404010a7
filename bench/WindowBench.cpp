// Uploads at a distance: vek's upload through a latency relay to a zebd, for
// a one-way delay and a transmission window, beside the physical limits of
// the same run (blocks × round trip for stop-and-wait, both the nominal one
// and one measured through the relay; for a window of N blocks, N blocks per
// round trip or the relay's own streaming rate, whichever is lower).
//
//   window_bench relay    --atraso-ms D [--mb M]
//   window_bench pingpong --atraso-ms D [--vezes K]
//   window_bench upload   --porta P --atraso-ms D --janela N --arquivo F [--rt-ms R] [--relay-mb-s S]
//                         [--relay-steady-mb-s S2]
//
// P is the zebd message port (zebd --demo); R the round trip that pingpong
// measured at the same delay (the nominal 2 × D without it); S the rate that
// relay measured at the same delay, S2 its steady rate. Each run prints key=value figures.
#include "channel/TCanalZEBCliente.h"
#include "platform/Socket.h"
#include "tests/fixtures/LatencyRelay.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::map<std::string, std::string> options(int argc, char** argv)
{
    std::map<std::string, std::string> o;
    for (int i = 2; i + 1 < argc; i += 2) {
        o[argv[i]] = argv[i + 1];
    }
    return o;
}

int connectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    return fd;
}

// M MiB streamed through the relay into a sink that reads as fast as it can:
// the rate a window that never waits could reach.
int relayRate(std::chrono::microseconds delay, std::size_t mib)
{
    vek::platform::TcpListener listener;
    listener.listen("127.0.0.1", 0, 1);
    const std::size_t total = mib << 20;
    Clock::time_point end{};
    Clock::time_point first{};  // the first bytes out of the relay
    std::size_t firstBytes = 0;
    std::thread sink([&] {
        const int fd = ::accept(listener.fd(), nullptr, nullptr);
        std::vector<char> buf(1 << 16);
        std::size_t got = 0;
        while (got < total) {
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) {
                break;
            }
            if (got == 0) {
                first = Clock::now();
                firstBytes = static_cast<std::size_t>(n);
            }
            got += static_cast<std::size_t>(n);
        }
        end = Clock::now();
        ::close(fd);
    });
    vek::test::LatencyRelay relay(listener.localPort(), {delay, 0});
    const int fd = connectTo(relay.port());
    const std::vector<char> chunk(1 << 16, 'x');
    const auto start = Clock::now();
    for (std::size_t sent = 0; sent < total; sent += chunk.size()) {
        if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) {
            std::perror("send");
            return 1;
        }
    }
    sink.join();
    ::close(fd);
    const double seconds = std::chrono::duration<double>(end - start).count();
    // Once the first bytes are through, the delay no longer counts: the
    // rate a stream keeps up, to set beside an upload's block phase.
    const double streaming = std::chrono::duration<double>(end - first).count();
    std::printf("relay atraso_ms=%.1f MiB=%zu s=%.3f MB_s=%.2f steady_MB_s=%.2f\n",
                delay.count() / 1000.0,
                mib,
                seconds,
                static_cast<double>(total) / seconds / 1e6,
                static_cast<double>(total - firstBytes) / streaming / 1e6);
    return 0;
}

// K round trips of one block-sized frame (1285 bytes) and its 5-byte reply
// through the relay: stop-and-wait's real floor at this delay, relay
// included, with nothing of the client or the server in it.
int pingPong(std::chrono::microseconds delay, int times)
{
    vek::platform::TcpListener listener;
    listener.listen("127.0.0.1", 0, 1);
    constexpr std::size_t Frame = 1285;
    constexpr std::size_t Reply = 5;
    auto readAll = [](int fd, char* p, std::size_t n) {
        while (n > 0) {
            const ssize_t got = ::recv(fd, p, n, 0);
            if (got <= 0) {
                return false;
            }
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    };
    std::thread echo([&] {
        const int fd = ::accept(listener.fd(), nullptr, nullptr);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buf[Frame];
        while (readAll(fd, buf, Frame)) {
            if (::send(fd, buf, Reply, MSG_NOSIGNAL) != static_cast<ssize_t>(Reply)) {
                break;
            }
        }
        ::close(fd);
    });
    vek::test::LatencyRelay relay(listener.localPort(), {delay, 0});
    const int fd = connectTo(relay.port());
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const std::vector<char> frame(Frame, 'x');
    char reply[Reply];
    const auto start = Clock::now();
    for (int i = 0; i < times; ++i) {
        if (::send(fd, frame.data(), Frame, MSG_NOSIGNAL) != static_cast<ssize_t>(Frame) ||
            !readAll(fd, reply, Reply)) {
            std::perror("pingpong");
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::shutdown(fd, SHUT_WR);
    echo.join();
    ::close(fd);
    std::printf("pingpong atraso_ms=%.1f vezes=%d s=%.3f rt_ms=%.4f\n",
                delay.count() / 1000.0,
                times,
                seconds,
                seconds * 1000.0 / times);
    return 0;
}

// What a window of N blocks can carry at best: N blocks of data per round
// trip, and never more than the relay streams (0: not measured, so only the
// window counts). In MB/s of block data, as the upload's own figure.
struct WindowLimit
{
    double window = 0;
    double limit = 0;
    const char* bound = "window";
};

WindowLimit windowLimit(int janela, double roundTripSeconds, double relayMBps)
{
    constexpr double BlockBytes = 1280;
    WindowLimit w;
    w.window = janela * BlockBytes / roundTripSeconds / 1e6;
    w.limit = w.window;
    if (relayMBps > 0 && relayMBps < w.window) {
        w.limit = relayMBps;
        w.bound = "relay";
    }
    return w;
}

int upload(std::uint16_t port,
           std::chrono::microseconds delay,
           int janela,
           const std::string& arquivo,
           double measuredRoundTripMs,
           double relayMBps,
           double relaySteadyMBps)
{
    vek::test::LatencyRelay relay(port, {delay, 0});
    const char* dirEnv = std::getenv("VEK_DIR");
    if (dirEnv == nullptr) {
        std::fprintf(stderr, "VEK_DIR must name the client's directory\n");
        return 2;
    }
    std::ofstream(std::filesystem::path(dirEnv) / "vek.INI")
        << "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" << relay.port() << "\r\n";

    vek::channel::TCanalZEBCliente canal;
    canal.CD_Operadora = "123456";
    canal.Senha = "demo";
    canal.Arquivo = arquivo;
    canal.SetTipo_Arquivo("XML");
    canal.janelaEnvio = janela;
    Clock::time_point authorized{};
    // The block phase: from the first block's reply to the last one's (the
    // report that the end of data went out follows it at once).
    Clock::time_point firstReply{};
    Clock::time_point lastReply{};
    canal.AoEnviarArquivo = [&](vek::channel::TCanalZEBCliente&, const vek::channel::TStatusUpload& s) {
        if (authorized == Clock::time_point{} && s.StatusConexao == vek::channel::tseFinalizada) {
            authorized = Clock::now();
        }
        if (firstReply == Clock::time_point{} && s.Mensagem.starts_with("Enviando dados do arquivo: ")) {
            firstReply = Clock::now();
        }
        if (lastReply == Clock::time_point{} && s.Mensagem.starts_with("Aguardando confirmação de recebimento")) {
            lastReply = Clock::now();
        }
    };
    vek::channel::TResultadoEnvio r;
    try {
        canal.EnviarArquivo(r);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "upload failed: %s\n", e.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - authorized).count();
    const auto blocks = static_cast<double>(canal.BlocosDados.size());
    // Stop-and-wait can do no better than one round trip per block.
    const double roundTrip = 2.0 * static_cast<double>(delay.count()) / 1e6;
    const double limit = blocks * roundTrip;
    std::printf("upload atraso_ms=%.1f janela=%d blocks=%.0f s=%.3f MB_s=%.2f limit_1_s=%.3f ratio_limit=%.3f\n",
                delay.count() / 1000.0,
                janela,
                blocks,
                seconds,
                static_cast<double>(canal.TamanhoCifrado) / seconds / 1e6,
                limit,
                limit / seconds);
    if (janela == 1 && measuredRoundTripMs > 0) {
        // The same floor with the round trip measured through the relay.
        const double measured = blocks * measuredRoundTripMs / 1000.0;
        std::printf("upload atraso_ms=%.1f janela=1 limit_measured_s=%.3f ratio_measured=%.3f\n",
                    delay.count() / 1000.0,
                    measured,
                    measured / seconds);
    }
    // The limits below take the round trip measured through the relay when there is one.
    const double rt = measuredRoundTripMs > 0 ? measuredRoundTripMs / 1000.0 : roundTrip;
    const double uploadMBps = static_cast<double>(canal.TamanhoCifrado) / seconds / 1e6;
    const WindowLimit w = windowLimit(canal.janelaEfetiva(), rt, relayMBps);
    std::printf("upload atraso_ms=%.1f janela=%d window_MB_s=%.2f relay_MB_s=%.2f limit_MB_s=%.2f bound=%s "
                "ratio_window_limit=%.3f\n",
                delay.count() / 1000.0,
                janela,
                w.window,
                relayMBps,
                w.limit,
                w.bound,
                uploadMBps / w.limit);
    // The best the exchange allows at this distance: four round trips of its
    // own (the replies to the hash and the size, the last block's reply a
    // round trip after the block, the receipt) and the blocks at the limit.
    const double wholeLimit = 4 * rt + static_cast<double>(canal.TamanhoCifrado) / (w.limit * 1e6);
    std::printf("upload atraso_ms=%.1f janela=%d limit_whole_s=%.3f ratio_whole=%.3f\n",
                delay.count() / 1000.0,
                janela,
                wholeLimit,
                wholeLimit / seconds);
    // The same without the exchange's fixed round trips and the window's
    // first fill: the rate the blocks keep up once under way, beside the
    // relay's steady rate.
    const double blockSeconds = std::chrono::duration<double>(lastReply - firstReply).count();
    if (blockSeconds > 0 && canal.BlocosDados.size() > 1) {
        // Blocks 2 to n were answered in that time.
        const double blocksMBps =
            static_cast<double>(canal.TamanhoCifrado) * (blocks - 1) / blocks / blockSeconds / 1e6;
        const WindowLimit steady = windowLimit(canal.janelaEfetiva(), rt, relaySteadyMBps);
        std::printf("upload atraso_ms=%.1f janela=%d blocks_s=%.3f blocks_MB_s=%.2f relay_steady_MB_s=%.2f "
                    "steady_limit_MB_s=%.2f bound=%s ratio_blocks_limit=%.3f\n",
                    delay.count() / 1000.0,
                    janela,
                    blockSeconds,
                    blocksMBps,
                    relaySteadyMBps,
                    steady.limit,
                    steady.bound,
                    blocksMBps / steady.limit);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench relay|pingpong|upload --atraso-ms D ...\n");
        return 2;
    }
    auto o = options(argc, argv);
    const std::string mode = argv[1];
    const auto delay = std::chrono::microseconds(static_cast<long>(std::atof(o["--atraso-ms"].c_str()) * 1000));
    if (mode == "relay") {
        return relayRate(delay, o.count("--mb") != 0 ? std::stoul(o["--mb"]) : 20);
    }
    if (mode == "pingpong") {
        return pingPong(delay, o.count("--vezes") != 0 ? std::stoi(o["--vezes"]) : 1000);
    }
    if (mode == "upload") {
        return upload(static_cast<std::uint16_t>(std::stoi(o["--porta"])),
                      delay,
                      std::stoi(o["--janela"]),
                      o["--arquivo"],
                      o.count("--rt-ms") != 0 ? std::atof(o["--rt-ms"].c_str()) : 0.0,
                      o.count("--relay-mb-s") != 0 ? std::atof(o["--relay-mb-s"].c_str()) : 0.0,
                      o.count("--relay-steady-mb-s") != 0 ? std::atof(o["--relay-steady-mb-s"].c_str()) : 0.0);
    }
    return 2;
}
