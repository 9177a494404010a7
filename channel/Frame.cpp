#include "channel/Frame.h"

#include "channel/MessageCodes.h"
#include "platform/Error.h"
#include "platform/Socket.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace vek::channel {

std::string Message::text() const
{
    return payloadText(payload);
}

std::vector<std::uint8_t> MontarMensagem(std::uint8_t code, std::int32_t length, std::span<const std::uint8_t> payload)
{
    const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
    std::vector<std::uint8_t> frame(HeaderSize + n, 0);
    frame[0] = code;
    const auto u = static_cast<std::uint32_t>(length);
    frame[1] = static_cast<std::uint8_t>(u & 0xFF);
    frame[2] = static_cast<std::uint8_t>((u >> 8) & 0xFF);
    frame[3] = static_cast<std::uint8_t>((u >> 16) & 0xFF);
    frame[4] = static_cast<std::uint8_t>((u >> 24) & 0xFF);
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

Header decodeHeader(std::span<const std::uint8_t, HeaderSize> bytes)
{
    const std::uint32_t u = static_cast<std::uint32_t>(bytes[1]) | (static_cast<std::uint32_t>(bytes[2]) << 8) |
                            (static_cast<std::uint32_t>(bytes[3]) << 16) | (static_cast<std::uint32_t>(bytes[4]) << 24);
    return Header{bytes[0], static_cast<std::int32_t>(u)};
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
    Message m{h.code, h.length, {}};
    if (h.length > maxLength) {
        throw Error("Mensagem " + debugName(h.code) + " anuncia " + std::to_string(h.length) +
                        " bytes, acima do limite de " + std::to_string(maxLength),
                    EMSGSIZE);
    }
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
{
}

namespace {

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

Message FrameReader::read(std::chrono::milliseconds timeout, std::int32_t maxLength)
{
    // The header and then the whole payload, each within one time-out.
    auto deadline = std::chrono::steady_clock::now() + timeout;
    if (buffered() < HeaderSize) {
        fill(HeaderSize, deadline);
    }
    const Header h = decodeHeader(std::span<const std::uint8_t, HeaderSize>(buffer_.data() + begin_, HeaderSize));
    Message m{h.code, h.length, {}};
    if (h.length > maxLength) {
        throw Error("Mensagem " + debugName(h.code) + " anuncia " + std::to_string(h.length) +
                        " bytes, acima do limite de " + std::to_string(maxLength),
                    EMSGSIZE);
    }
    begin_ += HeaderSize;
    if (h.length <= 0) {
        return m;
    }
    const auto length = static_cast<std::size_t>(h.length);
    deadline = std::chrono::steady_clock::now() + timeout;
    if (length <= buffer_.size()) {
        fill(length, deadline);
        m.payload.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                         buffer_.begin() + static_cast<std::ptrdiff_t>(begin_ + length));
        begin_ += length;
    } else {
        // Larger than the buffer: what is buffered, then the rest straight in.
        const std::size_t have = end_ - begin_;
        m.payload.resize(length);
        std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(end_),
                  m.payload.begin());
        begin_ = end_ = 0;
        socket_.readExact(std::span(m.payload).subspan(have), remaining(deadline));
    }
    if (begin_ == end_) {
        begin_ = end_ = 0;
    }
    return m;
}

std::string debugName(std::uint8_t code)
{
    switch (code) {
    case CMD_PEDIDO_ENVIO:
        return "CMD_PEDIDO_ENVIO";
    case CMD_ACEITO:
        return "CMD_ACEITO";
    case CMD_CHAVE_MODULO:
        return "CMD_CHAVE_MODULO";
    case CMD_CHAVE_EXPOENTE:
        return "CMD_CHAVE_EXPOENTE";
    case CMD_CHAVE_SIMETRICA:
        return "CMD_CHAVE_SIMETRICA";
    case CMD_TAMANHO:
        return "CMD_TAMANHO";
    case CMD_BLOCO:
        return "CMD_BLOCO";
    case CMD_FIM_DADOS:
        return "CMD_FIM_DADOS";
    case CMD_PROTOCOLO:
        return "CMD_PROTOCOLO";
    case CMD_PEDIDO_HISTORICO:
        return "CMD_PEDIDO_HISTORICO";
    case CMD_PRE_VALIDACAO:
        return "CMD_PRE_VALIDACAO";
    case CMD_PEDIDO_LISTA:
        return "CMD_PEDIDO_LISTA";
    case CMD_LISTA_RECEBIDA:
        return "CMD_LISTA_RECEBIDA";
    case CMD_TIPOS_ENVIO:
        return "CMD_TIPOS_ENVIO";
    case CMD_ACK:
        return "CMD_ACK";
    case CMD_TIPOS_DOWNLOAD:
        return "CMD_TIPOS_DOWNLOAD";
    case CMD_HASH_ARQUIVO:
        return "CMD_HASH_ARQUIVO";
    case CMD_NEGADO:
        return "CMD_NEGADO";
    case CMD_ALTERAR_SENHA:
        return "CMD_ALTERAR_SENHA";
    default:
        return std::to_string(code);
    }
}

}  // namespace vek::channel
