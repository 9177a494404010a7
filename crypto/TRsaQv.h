#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace vek::crypto {

// A non-negative integer of any size.
class BigNumber
{
public:
    BigNumber();  // zero
    ~BigNumber();
    BigNumber(const BigNumber& other);
    BigNumber& operator=(const BigNumber& other);
    BigNumber(BigNumber&& other) noexcept;
    BigNumber& operator=(BigNumber&& other) noexcept;

    // Number of binary digits without leading zeros (0 for zero).
    [[nodiscard]] unsigned bitLength() const;
    // Shortest big-endian bytes; zero gives no bytes.
    [[nodiscard]] std::vector<std::uint8_t> toBytes() const;

    struct Impl;
    [[nodiscard]] const Impl& impl() const { return *impl_; }

private:
    explicit BigNumber(std::unique_ptr<Impl> impl);
    friend BigNumber NumberFromBytes(std::span<const std::uint8_t> bytes);
    friend BigNumber NumberFromDecimal(std::string_view text);
    std::unique_ptr<Impl> impl_;
};

// Unsigned big-endian bytes, first byte most significant; leading zero bytes
// are ignored. Throws vek::Error when the bytes are empty.
BigNumber NumberFromBytes(std::span<const std::uint8_t> bytes);
// Decimal digits. Throws vek::Error when the text is not a decimal number.
BigNumber NumberFromDecimal(std::string_view text);

struct TRsaParams
{
    BigNumber Modulus;
    BigNumber PublicExponent;
    BigNumber PrivateExponent;
};

// Wraps a short byte string with an RSA key in the agency's own block
// encoding: X = the binary digits 111 followed by the data's bits is cut into
// digits of base 2^(b-1) (b = bit length of the modulus), most significant
// first; each digit is raised to the exponent modulo the modulus (a zero digit
// stays zero) and the results are joined as base-2^b digits into the shortest
// big-endian byte string (one zero byte when everything is zero). For a
// modulus of 132 bits or more and 16 data bytes this is the shortest
// big-endian form of (7 * 2^128 + data)^e mod n, never padded to the modulus
// length.
class TRsaQv
{
public:
    explicit TRsaQv(const TRsaParams& params);

    // Throws vek::Error when the modulus is below 2 (no room for a chunk).
    [[nodiscard]] std::vector<std::uint8_t> Encrypt(std::span<const std::uint8_t> data, bool usePrivateExponent) const;

private:
    TRsaParams params_;
};

}  // namespace vek::crypto
