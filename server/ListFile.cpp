#include "platform/Error.h"
#include "platform/Win1252.h"
#include "server/Session.h"
#include "wire/MessageCodes.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace vek::server {
namespace {

// Each block waits for its acknowledgement, so larger blocks mean fewer
// round trips; the client takes frames of any reasonable size.
constexpr std::size_t ListBlockSize = 16 * 1024;

std::vector<std::uint8_t> gzipOf(const std::string& data)
{
    z_stream z{};
    // 15 + 16: a gzip wrapper around the deflate stream.
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw Error("gzip: deflateInit2 falhou");
    }
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 32);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    const std::size_t produced = z.total_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        throw Error("gzip: deflate falhou (" + std::to_string(rc) + ")");
    }
    out.resize(produced);
    return out;
}

}  // namespace

bool Session::sendListFile(const std::string& name, const std::string& document)
{
    using namespace wire;
    const std::vector<std::uint8_t> gz = gzipOf(document);
    // The client drops the one character after the bar before the name.
    send(CMD_TAMANHO, platform::toWin1252(std::to_string(gz.size()) + "|X" + name));
    for (std::size_t at = 0; at < gz.size(); at += ListBlockSize) {
        const std::size_t n = std::min(ListBlockSize, gz.size() - at);
        send(CMD_BLOCO, std::span(gz).subspan(at, n));
        const Message ack = read();
        if (ack.code != CMD_ACK) {
            log("bloco do arquivo " + name + " respondido com " + debugName(ack.code) + "; conexão encerrada");
            return false;
        }
    }
    send(CMD_FIM_DADOS);
    return true;
}

}  // namespace vek::server
