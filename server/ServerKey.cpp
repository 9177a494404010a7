#include "server/ServerKey.h"

#include "crypto/Gcrypt.h"
#include "platform/Error.h"
#include "server/DataFiles.h"

#include <gcrypt.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace vek::server {
namespace {

struct SexpDeleter
{
    void operator()(gcry_sexp* s) const { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpDeleter>;

struct MpiDeleter
{
    void operator()(gcry_mpi* m) const { gcry_mpi_release(m); }
};
using Mpi = std::unique_ptr<gcry_mpi, MpiDeleter>;

void check(gcry_error_t err, const std::string& what)
{
    if (err != 0) {
        throw Error("Chave RSA do servidor: " + what + ": " + crypto::gcryptMessage(err));
    }
}

Mpi component(gcry_sexp_t key, const char* name)
{
    Sexp token(gcry_sexp_find_token(key, name, 0));
    if (!token) {
        throw Error(std::string("Chave RSA do servidor: falta o componente ") + name);
    }
    Mpi m(gcry_sexp_nth_mpi(token.get(), 1, GCRYMPI_FMT_USG));
    if (!m) {
        throw Error(std::string("Chave RSA do servidor: componente ilegível ") + name);
    }
    return m;
}

std::vector<std::uint8_t> bytesOf(gcry_mpi_t m)
{
    unsigned char* buffer = nullptr;
    std::size_t length = 0;
    check(gcry_mpi_aprint(GCRYMPI_FMT_USG, &buffer, &length, m), "conversão");
    std::vector<std::uint8_t> out(buffer, buffer + length);
    gcry_free(buffer);
    // libgcrypt prints zero as one zero byte; callers want the shortest form.
    if (out.size() == 1 && out[0] == 0) {
        out.clear();
    }
    return out;
}

Mpi mpiOf(const std::vector<bool>& bits, std::size_t from, std::size_t count)
{
    std::vector<std::uint8_t> bytes((count + 7) / 8, 0);
    const std::size_t pad = bytes.size() * 8 - count;
    for (std::size_t i = 0; i < count; ++i) {
        if (bits[from + i]) {
            const std::size_t pos = pad + i;
            bytes[pos / 8] |= static_cast<std::uint8_t>(0x80u >> (pos % 8));
        }
    }
    gcry_mpi_t m = nullptr;
    check(gcry_mpi_scan(&m, GCRYMPI_FMT_USG, bytes.data(), bytes.size(), nullptr), "leitura");
    return Mpi(m);
}

// The bits of `bytes`, most significant first, without leading zeros.
std::vector<bool> bitsOf(std::span<const std::uint8_t> bytes)
{
    std::vector<bool> bits;
    bits.reserve(bytes.size() * 8);
    for (const std::uint8_t b : bytes) {
        for (int i = 7; i >= 0; --i) {
            const bool bit = ((b >> i) & 1u) != 0;
            if (bit || !bits.empty()) {
                bits.push_back(bit);
            }
        }
    }
    return bits;
}

// Appends `value` as exactly `width` bits; false when it needs more.
bool appendBits(std::vector<bool>& bits, gcry_mpi_t value, unsigned width)
{
    if (gcry_mpi_get_nbits(value) > width) {
        return false;
    }
    for (unsigned i = width; i-- > 0;) {
        bits.push_back(gcry_mpi_test_bit(value, i) != 0);
    }
    return true;
}

}  // namespace

struct ServerKey::Impl
{
    Mpi n;
    Mpi e;
    Mpi d;
    unsigned bits = 0;
    mutable std::atomic<std::uint64_t> privateOperations{0};
};

ServerKey::ServerKey(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl))
{}

ServerKey::~ServerKey() = default;
ServerKey::ServerKey(ServerKey&& other) noexcept = default;
ServerKey& ServerKey::operator=(ServerKey&& other) noexcept = default;

ServerKey ServerKey::loadOrCreate(const std::filesystem::path& file, unsigned bits)
{
    crypto::ensureGcrypt();
    if (!std::filesystem::exists(file)) {
        gcry_sexp_t params = nullptr;
        check(gcry_sexp_build(&params, nullptr, "(genkey (rsa (nbits %u)))", bits), "parâmetros");
        Sexp paramsOwner(params);
        gcry_sexp_t pair = nullptr;
        check(gcry_pk_genkey(&pair, params), "geração");
        Sexp pairOwner(pair);
        Sexp priv(gcry_sexp_find_token(pair, "private-key", 0));
        if (!priv) {
            throw Error("Chave RSA do servidor: geração sem chave privada");
        }
        const std::size_t size = gcry_sexp_sprint(priv.get(), GCRYSEXP_FMT_ADVANCED, nullptr, 0);
        std::string text(size, '\0');
        gcry_sexp_sprint(priv.get(), GCRYSEXP_FMT_ADVANCED, text.data(), size);
        text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
        writeNewPrivateFile(file, text);
    }

    std::string text = readWholeFile(file);
    gcry_sexp_t key = nullptr;
    check(gcry_sexp_new(&key, text.data(), text.size(), 1), "formato de " + file.string());
    Sexp keyOwner(key);
    std::fill(text.begin(), text.end(), '\0');

    auto impl = std::make_unique<Impl>();
    impl->n = component(key, "n");
    impl->e = component(key, "e");
    impl->d = component(key, "d");
    impl->bits = gcry_mpi_get_nbits(impl->n.get());
    if (impl->bits < 132) {
        throw Error("Chave RSA do servidor: módulo pequeno demais em " + file.string());
    }
    return ServerKey(std::move(impl));
}

std::vector<std::uint8_t> ServerKey::modulus() const
{
    return bytesOf(impl_->n.get());
}

std::vector<std::uint8_t> ServerKey::publicExponent() const
{
    return bytesOf(impl_->e.get());
}

unsigned ServerKey::bits() const
{
    return impl_->bits;
}

std::uint64_t ServerKey::privateKeyOperations() const
{
    return impl_->privateOperations.load();
}

std::vector<std::uint8_t> ServerKey::unwrap(std::span<const std::uint8_t> wrapped, std::size_t dataLength) const
{
    const Error invalid("Chave simétrica não corresponde à chave do servidor");
    const unsigned b = impl_->bits;
    // The data and its three marker bits fill this many digits of b - 1 bits,
    // and each became one digit of b bits. A longer input was not made by the
    // wrap, and each extra digit would cost a private-key operation: it is
    // refused by its byte count before anything else is done with it.
    const std::size_t digits = (3 + 8 * dataLength + (b - 2)) / (b - 1);
    const auto significant = std::find_if(wrapped.begin(), wrapped.end(), [](std::uint8_t v) { return v != 0; });
    if (static_cast<std::size_t>(wrapped.end() - significant) > (digits * b + 7) / 8) {
        throw invalid;
    }
    std::vector<bool> y = bitsOf(wrapped);
    if (y.empty() || y.size() > digits * b) {
        throw invalid;
    }
    // Each chunk result was written as exactly b bits; only the first lost
    // its leading zeros.
    y.insert(y.begin(), (b - y.size() % b) % b, false);

    std::vector<bool> x;
    Mpi m(gcry_mpi_new(b));
    for (std::size_t at = 0; at < y.size(); at += b) {
        const Mpi c = mpiOf(y, at, b);
        if (gcry_mpi_cmp(c.get(), impl_->n.get()) >= 0) {
            throw invalid;
        }
        if (gcry_mpi_cmp_ui(c.get(), 0) == 0) {
            gcry_mpi_set_ui(m.get(), 0);
        } else {
            gcry_mpi_powm(m.get(), c.get(), impl_->d.get(), impl_->n.get());
            ++impl_->privateOperations;
        }
        if (!appendBits(x, m.get(), b - 1)) {
            throw invalid;
        }
    }

    // X is 111 followed by the data's bits, zero-filled in front.
    const auto first = std::find(x.begin(), x.end(), true);
    const auto used = static_cast<std::size_t>(x.end() - first);
    if (used != 3 + 8 * dataLength || !*(first + 1) || !*(first + 2)) {
        throw invalid;
    }
    std::vector<std::uint8_t> data(dataLength, 0);
    auto bit = first + 3;
    for (std::size_t i = 0; i < dataLength * 8; ++i, ++bit) {
        if (*bit) {
            data[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
        }
    }
    return data;
}

}  // namespace vek::server
