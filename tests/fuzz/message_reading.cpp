// The frame readers on a byte stream from the other end of a socket pair:
// wire::readFrame, wire::FrameReader (its buffer size taken from the first
// input byte, so whole, split and oversized frames all occur) and the
// client's LerMensagem. All three must read the same messages and stop at the
// same one, and the messages written again must give back the bytes read.

#include "channel/TCanalZEBCliente.h"
#include "platform/Error.h"
#include "platform/Socket.h"
#include "tests/fuzz/FuzzSupport.h"
#include "wire/Frame.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace vek;

constexpr std::size_t MaxMessages = 64;

struct Outcome
{
    std::vector<wire::Message> messages;
    bool failed = false;
};

// A socket whose peer has already said `bytes` and closed its side.
platform::TcpSocket streamOf(std::string_view bytes)
{
    const auto [near, far] = fuzz::socketPair();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(far, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            std::perror("send");
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(far);
    return platform::TcpSocket(near);
}

Outcome readAll(const std::function<wire::Message()>& next)
{
    Outcome out;
    try {
        while (out.messages.size() < MaxMessages) {
            out.messages.push_back(next());
        }
    } catch (const vek::Error&) {
        out.failed = true;
    }
    return out;
}

bool same(const wire::Message& a, const wire::Message& b)
{
    return a.code == b.code && a.length == b.length && a.payload == b.payload;
}

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "message_reading: %s\n", what);
        std::abort();
    }
}

class Client : public channel::TCanalZEBCliente
{
public:
    Client() { timeouts = fuzz::quickTimeouts(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    // The stream stays below what a socket pair buffers, so it is written
    // whole before reading.
    if (size > 128 * 1024) {
        return 0;
    }
    (void)fuzz::scratchDir();
    const std::size_t capacity = wire::HeaderSize + static_cast<std::size_t>(data[0]) * 61;
    const std::string_view stream = fuzz::asText(data + 1, size - 1);
    const auto timeout = fuzz::quickTimeouts().streamTimeout;

    platform::TcpSocket a = streamOf(stream);
    const Outcome plain = readAll([&] { return wire::readFrame(a, timeout); });

    platform::TcpSocket b = streamOf(stream);
    wire::FrameReader reader(b, capacity);
    const Outcome buffered = readAll([&] { return reader.read(timeout); });

    static Client client;
    client.fecharSocket();  // nothing of the last input's stream stays buffered
    client.socCliente() = streamOf(stream);
    const Outcome channel = readAll([&] { return client.LerMensagem(); });
    client.fecharSocket();

    for (const Outcome* other : {&buffered, &channel}) {
        check(other->messages.size() == plain.messages.size(), "readers disagree on the number of messages");
        check(other->failed == plain.failed, "readers disagree on the failure");
        for (std::size_t i = 0; i < plain.messages.size(); ++i) {
            check(same(other->messages[i], plain.messages[i]), "readers disagree on a message");
        }
    }

    std::string again;
    for (const auto& m : plain.messages) {
        check(m.length <= 0 ? m.payload.empty() : m.payload.size() == static_cast<std::size_t>(m.length),
              "payload size differs from the announced length");
        const auto frame = wire::MontarMensagem(m.code, m.length, m.payload);
        again.append(frame.begin(), frame.end());
    }
    check(stream.substr(0, again.size()) == again, "messages written again differ from the bytes read");
    if (!plain.failed) {
        check(plain.messages.size() == MaxMessages, "reading stopped without a failure");
    }
    return 0;
}
