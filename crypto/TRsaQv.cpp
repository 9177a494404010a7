#include "crypto/TRsaQv.h"

#include "crypto/Gcrypt.h"
#include "platform/Error.h"

#include <gcrypt.h>

#include <string>
#include <utility>

namespace vek::crypto {

struct BigNumber::Impl
{
    gcry_mpi_t mpi = nullptr;
    explicit Impl(gcry_mpi_t m)
        : mpi(m)
    {}
    ~Impl() { gcry_mpi_release(mpi); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
};

namespace {

// An owned MPI for the intermediate values of one computation.
class Mpi
{
public:
    Mpi()
        : m_(gcry_mpi_new(0))
    {}
    explicit Mpi(gcry_mpi_t m)
        : m_(m)
    {}
    ~Mpi() { gcry_mpi_release(m_); }
    Mpi(const Mpi&) = delete;
    Mpi& operator=(const Mpi&) = delete;
    gcry_mpi_t get() const { return m_; }

private:
    gcry_mpi_t m_;
};

std::vector<std::uint8_t> mpiBytes(gcry_mpi_t m)
{
    if (gcry_mpi_cmp_ui(m, 0) == 0) {
        return {};
    }
    unsigned char* buffer = nullptr;
    std::size_t length = 0;
    if (const auto err = gcry_mpi_aprint(GCRYMPI_FMT_USG, &buffer, &length, m); err != 0) {
        throw Error(gcryptMessage(err));
    }
    std::vector<std::uint8_t> out(buffer, buffer + length);
    gcry_free(buffer);
    return out;
}

}  // namespace

BigNumber::BigNumber()
    : impl_(std::make_unique<Impl>((ensureGcrypt(), gcry_mpi_new(0))))
{}

BigNumber::BigNumber(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl))
{}

BigNumber::~BigNumber() = default;

BigNumber::BigNumber(const BigNumber& other)
    : impl_(std::make_unique<Impl>(gcry_mpi_copy(other.impl_->mpi)))
{}

BigNumber& BigNumber::operator=(const BigNumber& other)
{
    if (this != &other) {
        impl_ = std::make_unique<Impl>(gcry_mpi_copy(other.impl_->mpi));
    }
    return *this;
}

// A moved-from number is zero, so every object stays usable.
BigNumber::BigNumber(BigNumber&& other) noexcept
    : impl_(std::make_unique<Impl>(gcry_mpi_new(0)))
{
    std::swap(impl_, other.impl_);
}

BigNumber& BigNumber::operator=(BigNumber&& other) noexcept
{
    std::swap(impl_, other.impl_);
    return *this;
}

unsigned BigNumber::bitLength() const
{
    return gcry_mpi_get_nbits(impl_->mpi);
}

std::vector<std::uint8_t> BigNumber::toBytes() const
{
    return mpiBytes(impl_->mpi);
}

BigNumber NumberFromBytes(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) {
        throw Error("Número vazio: nenhum byte recebido");
    }
    ensureGcrypt();
    gcry_mpi_t m = nullptr;
    if (const auto err = gcry_mpi_scan(&m, GCRYMPI_FMT_USG, bytes.data(), bytes.size(), nullptr); err != 0) {
        throw Error(gcryptMessage(err));
    }
    return BigNumber(std::make_unique<BigNumber::Impl>(m));
}

BigNumber NumberFromDecimal(std::string_view text)
{
    ensureGcrypt();
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        throw Error("Número decimal inválido: " + std::string(text));
    }
    gcry_mpi_t m = gcry_mpi_new(0);
    for (const char c : text) {
        gcry_mpi_mul_ui(m, m, 10);
        gcry_mpi_add_ui(m, m, static_cast<unsigned long>(c - '0'));
    }
    return BigNumber(std::make_unique<BigNumber::Impl>(m));
}

TRsaQv::TRsaQv(const TRsaParams& params)
    : params_(params)
{}

std::vector<std::uint8_t> TRsaQv::Encrypt(std::span<const std::uint8_t> data, bool usePrivateExponent) const
{
    gcry_mpi_t n = params_.Modulus.impl().mpi;
    gcry_mpi_t k = (usePrivateExponent ? params_.PrivateExponent : params_.PublicExponent).impl().mpi;
    const unsigned b = gcry_mpi_get_nbits(n);
    if (b < 2) {
        throw Error("RSA: o módulo deve ser pelo menos 2");
    }
    const unsigned chunkBits = b - 1;

    // X = binary 111 followed by the data's bits: the byte 07 in front of the data.
    std::vector<std::uint8_t> prefixed;
    prefixed.reserve(data.size() + 1);
    prefixed.push_back(0x07);
    prefixed.insert(prefixed.end(), data.begin(), data.end());
    gcry_mpi_t xRaw = nullptr;
    if (const auto err = gcry_mpi_scan(&xRaw, GCRYMPI_FMT_USG, prefixed.data(), prefixed.size(), nullptr); err != 0) {
        throw Error(gcryptMessage(err));
    }
    const Mpi x(xRaw);

    const std::size_t totalBits = 3 + 8 * data.size();
    const std::size_t chunks = (totalBits + chunkBits - 1) / chunkBits;
    const Mpi result;
    const Mpi chunk;
    const Mpi power;
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::size_t shift = chunkBits * (chunks - 1 - i);
        gcry_mpi_rshift(chunk.get(), x.get(), static_cast<unsigned>(shift));
        gcry_mpi_clear_highbit(chunk.get(), chunkBits);
        if (gcry_mpi_cmp_ui(chunk.get(), 0) == 0) {
            gcry_mpi_set_ui(power.get(), 0);
        } else {
            gcry_mpi_powm(power.get(), chunk.get(), k, n);
        }
        gcry_mpi_lshift(result.get(), result.get(), b);
        gcry_mpi_add(result.get(), result.get(), power.get());
    }
    std::vector<std::uint8_t> out = mpiBytes(result.get());
    if (out.empty()) {
        out.push_back(0);
    }
    return out;
}

}  // namespace vek::crypto
