#include "crypto/TRsaQv.h"
#include "platform/Error.h"
#include "tests/crypto/PeerTools.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace vek::crypto {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string toHex(const Bytes& bytes)
{
    return test::hexLower(bytes.data(), bytes.size());
}

Bytes numberBytes(unsigned long value)
{
    Bytes out;
    while (value > 0) {
        out.insert(out.begin(), static_cast<std::uint8_t>(value & 0xFF));
        value >>= 8;
    }
    return out.empty() ? Bytes{0} : out;
}

TRsaQv key(const Bytes& modulus, const Bytes& exponent)
{
    return TRsaQv(TRsaParams{NumberFromBytes(modulus), NumberFromBytes(exponent), NumberFromDecimal("0")});
}

// The 12-bit worked examples. With exponent 1 each chunk comes out as it
// went in, which shows the chunk values themselves; modulus 3233 with
// exponent 17 takes the chunks 232 and 322 to 161 and 115.
TEST(RsaWrap, TwelveBitWorkedExamples)
{
    struct Case
    {
        const char* name;
        unsigned long modulus;
        unsigned long exponent;
        Bytes data;
        Bytes expected;
    };
    const std::vector<Case> cases{
        // one chunk 1857 = 0x741 -> eleven digits -> two bytes
        {"41, one chunk", 4093, 1, {0x41}, {0x07, 0x41}},
        // chunks 232 and 322 joined as 12-bit digits: 232 * 4096 + 322
        {"41 42, two chunks", 4093, 1, {0x41, 0x42}, {0x0E, 0x81, 0x42}},
        {"41 42, results 161 and 115", 3233, 17, {0x41, 0x42}, {0x0A, 0x10, 0x73}},
        // empty data: one chunk of value 7
        {"empty data", 4093, 1, {}, {0x07}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(key(numberBytes(c.modulus), numberBytes(c.exponent)).Encrypt(c.data, false), c.expected);
    }
}

TEST(RsaWrap, LeadingZeroBytesOfTheModulusDoNotChangeItsLength)
{
    const Bytes data{0x00, 0x00, 0x12, 0x34};
    EXPECT_EQ(key({0x00, 0x00, 0x0F, 0xFD}, {0x11}).Encrypt(data, false),
              key({0x0F, 0xFD}, {0x11}).Encrypt(data, false));
}

TEST(RsaWrap, ModulusBelowTwoIsAnError)
{
    for (const Bytes& modulus : {Bytes{0x00}, Bytes{0x01}, Bytes{0x00, 0x01}}) {
        SCOPED_TRACE(toHex(modulus));
        EXPECT_THROW((void)key(modulus, {0x03}).Encrypt(Bytes{0x41}, false), Error);
    }
}

TEST(RsaWrap, ModulusTwoWorksWithOneDigitChunks)
{
    // b = 2, chunks of one digit: 1,1,1 then the eight bits of 0x80.
    // Each 1 stays 1 (1^e mod 2), each 0 stays 0; every result is written as two digits.
    const Bytes out = key({0x02}, {0x03}).Encrypt(Bytes{0x80}, false);
    // digits: 01 01 01 01 00 00 00 00 00 00 00 -> 0101 0101 0000 0000 0000 00 -> 22 digits, shortest bytes.
    EXPECT_EQ(toHex(out), "154000");
}

unsigned long powMod(unsigned long base, unsigned long exponent, unsigned long modulus)
{
    unsigned long result = 1 % modulus;
    for (base %= modulus; exponent > 0; exponent >>= 1, base = base * base % modulus) {
        if ((exponent & 1) != 0) {
            result = result * base % modulus;
        }
    }
    return result;
}

TEST(RsaWrap, FlagChoosesThePrivateExponent)
{
    const TRsaQv rsa(
        TRsaParams{NumberFromBytes(numberBytes(3233)), NumberFromBytes(numberBytes(17)), NumberFromDecimal("2753")});
    // 0x41 is the one chunk 1857.
    EXPECT_EQ(rsa.Encrypt(Bytes{0x41}, false), numberBytes(powMod(1857, 17, 3233)));
    EXPECT_EQ(rsa.Encrypt(Bytes{0x41}, true), numberBytes(powMod(1857, 2753, 3233)));
}

TEST(Numbers, ConversionsAndTheirErrors)
{
    EXPECT_THROW((void)NumberFromBytes(Bytes{}), Error);
    EXPECT_EQ(NumberFromBytes(Bytes{0x00, 0x00}).bitLength(), 0u);
    EXPECT_EQ(NumberFromBytes(Bytes{0x00, 0x01, 0x00}).bitLength(), 9u);
    EXPECT_EQ(NumberFromBytes(Bytes{0x00, 0x01, 0x00}).toBytes(), (Bytes{0x01, 0x00}));
    EXPECT_EQ(NumberFromDecimal("0").bitLength(), 0u);
    EXPECT_EQ(NumberFromDecimal("65537").toBytes(), (Bytes{0x01, 0x00, 0x01}));
    EXPECT_EQ(NumberFromDecimal("340282366920938463463374607431768211456").bitLength(), 129u);
    EXPECT_THROW((void)NumberFromDecimal(""), Error);
    EXPECT_THROW((void)NumberFromDecimal("12a"), Error);

    BigNumber a = NumberFromDecimal("1234567");
    const BigNumber b = a;
    BigNumber c = std::move(a);
    EXPECT_EQ(b.toBytes(), c.toBytes());
}

// Python's integers as the independent reference: the bit-string rule of the
// encoding written out literally, and for big moduli the closed form
// (7 * 2^128 + key)^e mod n.
constexpr const char* ReferenceScript = R"PY(
import sys
for line in sys.stdin:
    n_hex, e_hex, data_hex = (line.split() + [''])[:3]
    n, e, data = int(n_hex, 16), int(e_hex, 16), bytes.fromhex(data_hex)
    b = n.bit_length()
    bits = '111' + ''.join(format(x, '08b') for x in data)
    bits = '0' * ((-len(bits)) % (b - 1)) + bits
    out = ''
    for i in range(0, len(bits), b - 1):
        m = int(bits[i:i + b - 1], 2)
        out += format(0 if m == 0 else pow(m, e, n), '0%db' % b)
    out = out.lstrip('0') or '0'
    out = '0' * ((-len(out)) % 8) + out
    r = int(out, 2).to_bytes(len(out) // 8, 'big')
    if b >= 132 and len(data) == 16:
        y = pow(7 * 2**128 + int.from_bytes(data, 'big'), e, n)
        assert r == (y.to_bytes((y.bit_length() + 7) // 8, 'big') or b'\0'), 'closed form differs'
    print(r.hex())
)PY";

TEST(RsaWrap, EqualsPythonIntegers)
{
    if (!test::haveTool(test::Python)) {
        GTEST_SKIP() << "python3 is not installed";
    }
    const test::Sandbox sandbox(false);
    std::mt19937 rng(20261210);
    auto randomBytes = [&](std::size_t n) {
        Bytes out(n);
        for (auto& b : out) {
            b = static_cast<std::uint8_t>(rng() & 0xFF);
        }
        return out;
    };
    auto oddModulus = [&](std::size_t bytes) {
        Bytes n = randomBytes(bytes);
        n[0] |= 0x80;
        n.back() |= 0x01;
        return n;
    };

    struct Case
    {
        Bytes modulus;
        Bytes exponent;
        Bytes data;
    };
    std::vector<Case> cases;
    // 2048-bit moduli, 16-byte keys, including keys with leading zero bytes.
    for (int i = 0; i < 6; ++i) {
        Bytes data = randomBytes(16);
        if (i < 2) {
            data[0] = 0;
            data[1] = 0;
        }
        cases.push_back({oddModulus(256), {0x01, 0x00, 0x01}, data});
    }
    // Small moduli (several chunks), odd bit lengths, various data lengths.
    for (const std::size_t bits : {5u, 12u, 17u, 31u, 64u, 100u, 131u, 132u, 133u}) {
        for (const std::size_t length : {0u, 1u, 2u, 16u, 33u}) {
            Bytes n = randomBytes((bits + 7) / 8);
            n[0] &= static_cast<std::uint8_t>(0xFF >> ((8 - bits % 8) % 8));
            n[0] |= static_cast<std::uint8_t>(1u << ((bits - 1) % 8));
            n[n.size() - 1] |= 0x01;
            cases.push_back({n, randomBytes(3), randomBytes(length)});
        }
    }

    std::ostringstream input;
    for (const auto& c : cases) {
        input << toHex(c.modulus) << ' ' << toHex(c.exponent) << ' ' << toHex(c.data) << '\n';
    }
    const auto script = sandbox.write("ref.py", ReferenceScript);
    const auto inputFile = sandbox.write("cases.txt", input.str());
    std::istringstream expected(
        test::captureCommand(test::Python + " " + test::quoted(script) + " < " + test::quoted(inputFile)));

    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.modulus) + " " + toHex(c.data));
        std::string line;
        ASSERT_TRUE(std::getline(expected, line));
        EXPECT_EQ(toHex(key(c.modulus, c.exponent).Encrypt(c.data, false)), line);
    }
}

}  // namespace
}  // namespace vek::crypto
