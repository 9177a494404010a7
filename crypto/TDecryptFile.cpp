#include "crypto/TDecryptFile.h"

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/UiServices.h"
#include "platform/Win1252.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vek::crypto {

namespace {

// Pieces are taken from a buffer this large, so a piece costs no system call.
constexpr std::size_t BufferSize = 64 * 1024;
static_assert(BufferSize % FileXorCipher::PieceSize == 0);

std::string withoutQuotes(const std::string& s)
{
    std::string out = s;
    std::erase(out, '"');
    return out;
}

[[noreturn]] void fileError(const char* what, const std::string& path)
{
    const int code = errno;
    throw Error("Erro (" + std::to_string(code) + ") ao " + what + " arquivo: " + path, code);
}

// The key stream laid out over a buffer long enough that any offset inside
// one period can be followed by a whole 64 KiB run.
class KeyStream
{
public:
    explicit KeyStream(const std::string& password)
    {
        const std::string key = platform::toWin1252(password);
        std::vector<std::uint8_t> period;
        if (key.empty()) {
            period.push_back(0x7F);
        } else if (key.size() == 1) {
            period.push_back(static_cast<std::uint8_t>(key[0]));
        } else {
            for (std::size_t i = 0; i < key.size(); ++i) {
                period.push_back(static_cast<std::uint8_t>(key[i]));
            }
            for (std::size_t i = key.size() - 2; i >= 1; --i) {
                period.push_back(static_cast<std::uint8_t>(key[i]));
            }
        }
        period_ = period.size();
        stream_.reserve(BufferSize + period_);
        while (stream_.size() < BufferSize + period_) {
            stream_.insert(stream_.end(), period.begin(), period.end());
        }
    }

    std::uint8_t at(std::uint64_t index) const { return stream_[index % period_]; }

    // XORs `size` bytes that start at stream position `index`.
    void apply(std::uint8_t* data, std::size_t size, std::uint64_t index) const
    {
        const std::uint8_t* k = stream_.data() + index % period_;
        std::size_t i = 0;
        // Eight bytes at a time; the key stream may start at any offset.
        for (; i + 8 <= size; i += 8) {
            std::uint64_t d = 0;
            std::uint64_t x = 0;
            std::memcpy(&d, data + i, 8);
            std::memcpy(&x, k + i, 8);
            d ^= x;
            std::memcpy(data + i, &d, 8);
        }
        for (; i < size; ++i) {
            data[i] ^= k[i];
        }
    }

private:
    std::size_t period_ = 1;
    std::vector<std::uint8_t> stream_;
};

}  // namespace

void FileXorCipher::SetArquivoOriginal(const std::string& path)
{
    arquivoOriginal_ = withoutQuotes(path);
}

void FileXorCipher::SetArquivoDestino(const std::string& path)
{
    arquivoDestino_ = withoutQuotes(path);
}

void FileXorCipher::SetSenha(const std::string& senha)
{
    const std::size_t n = platform::utf8Length(senha);
    if (n >= MinPasswordLength && n <= MaxPasswordLength) {
        UsarSenha = true;
        senha_ = senha;
    } else if (n == 0) {
        UsarSenha = false;
        senha_.clear();
    } else if (UsarSenha) {
        throw Error("A senha deve ter de 3 a 25 caracteres");
    } else {
        senha_.clear();
    }
}

std::uint8_t FileXorCipher::keyByte(std::uint64_t index) const
{
    return KeyStream(senha_).at(index);
}

void FileXorCipher::Executar()
{
    try {
        run();
        sucessoExecucao_ = true;
    } catch (const std::exception& e) {
        msgErro_ = e.what();
        if (ExcecaoErro) {
            throw;
        }
        sucessoExecucao_ = false;
    }
}

void FileXorCipher::transform(platform::File& source, platform::File& destination) const
{
    const KeyStream key(senha_);
    std::vector<std::uint8_t> buffer(BufferSize);
    std::uint64_t index = 0;
    auto& ui = platform::ui();
    for (;;) {
        const std::ptrdiff_t n = source.readFull(buffer.data(), buffer.size());
        if (n < 0) {
            fileError("ler", arquivoOriginal_);
        }
        const auto filled = static_cast<std::size_t>(n);
        // Logical pieces of 512 bytes; a buffer that is not full is the end
        // of the file, and its last piece (possibly empty) ends the run.
        std::size_t at = 0;
        bool last = false;
        while (!last) {
            const std::size_t piece = std::min(PieceSize, filled - at);
            last = piece < PieceSize;
            ui.processEvents();
            key.apply(buffer.data() + at, piece, index);
            index += piece;
            at += piece;
            ui.processEvents();
            if (at == buffer.size()) {
                break;
            }
        }
        if (!destination.writeAll(buffer.data(), filled)) {
            fileError("gravar", arquivoDestino_);
        }
        if (last) {
            break;
        }
    }
}

void TDecryptFile::run()
{
    platform::File source;
    if (!source.openRead(ArquivoOriginal())) {
        fileError("abrir", ArquivoOriginal());
    }
    std::uint8_t leading = 0;
    const std::ptrdiff_t n = source.readFull(&leading, 1);
    if (n < 0) {
        fileError("ler", ArquivoOriginal());
    }
    if (n == 0) {
        throw Error("Arquivo cifrado vazio: " + ArquivoOriginal());
    }
    platform::File destination;
    if (!destination.create(ArquivoDestino())) {
        fileError("criar", ArquivoDestino());
    }
    transform(source, destination);
    if (!destination.close()) {
        fileError("gravar", ArquivoDestino());
    }
}

void TEncryptFile::run()
{
    platform::File source;
    if (!source.openRead(ArquivoOriginal())) {
        fileError("abrir", ArquivoOriginal());
    }
    platform::File destination;
    if (!destination.create(ArquivoDestino())) {
        fileError("criar", ArquivoDestino());
    }
    const std::uint8_t leading = 0;
    if (!destination.writeAll(&leading, 1)) {
        fileError("gravar", ArquivoDestino());
    }
    transform(source, destination);
    if (!destination.close()) {
        fileError("gravar", ArquivoDestino());
    }
}

}  // namespace vek::crypto
