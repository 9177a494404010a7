#include "server/ServerKey.h"

#include "crypto/TRsaQv.h"
#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"
#include "tests/server/ServerTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vek::test {
namespace {

TEST(ServerKey, IsKeptOwnerOnlyAndReloadedUnchanged)
{
    Sandbox dir(false);
    const auto file = dir.path() / "chave.sexp";
    const auto first = server::ServerKey::loadOrCreate(file, 1024);
    struct stat st
    {
    };
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    EXPECT_EQ(first.bits(), 1024U);

    const auto again = server::ServerKey::loadOrCreate(file, 1024);
    EXPECT_EQ(again.modulus(), first.modulus());
    EXPECT_EQ(again.publicExponent(), first.publicExponent());
}

// The clients' wrap (its own tests pin it to the worked examples) undone by
// the server, for one chunk (the real case: a 16-byte key under 2048 bits)
// and for data long enough to take several chunks.
TEST(ServerKey, UnwrapUndoesTheClientsWrap)
{
    const auto key = server::ServerKey::loadOrCreate(sharedServerKey());
    Sandbox dir(false);
    const auto small = server::ServerKey::loadOrCreate(dir.path() / "pequena.sexp", 512);

    struct Case
    {
        const char* name;
        const server::ServerKey* key;
        std::vector<std::uint8_t> data;
    };
    std::vector<std::uint8_t> leadingZeros(16, 0);
    leadingZeros[15] = 1;
    std::vector<std::uint8_t> longData(150);
    for (std::size_t i = 0; i < longData.size(); ++i) {
        longData[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    const std::array cases{
        Case{"16-byte key", &key, std::vector<std::uint8_t>(16, 0xA5)},
        Case{"key with leading zero bytes", &key, leadingZeros},
        Case{"all-ones key", &key, std::vector<std::uint8_t>(16, 0xFF)},
        Case{"three chunks under a 512-bit key", &small, longData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const crypto::TRsaQv client(crypto::TRsaParams{crypto::NumberFromBytes(c.key->modulus()),
                                                       crypto::NumberFromBytes(c.key->publicExponent()),
                                                       crypto::NumberFromDecimal("0")});
        const auto wrapped = client.Encrypt(c.data, false);
        EXPECT_EQ(c.key->unwrap(wrapped, c.data.size()), c.data);
    }
}

TEST(ServerKey, UnwrapRefusesWhatWasNotWrappedWithItsKey)
{
    const auto key = server::ServerKey::loadOrCreate(sharedServerKey());
    Sandbox dir(false);
    const auto other = server::ServerKey::loadOrCreate(dir.path() / "outra.sexp", 1024);
    const std::vector<std::uint8_t> data(16, 0x42);
    const crypto::TRsaQv otherClient(crypto::TRsaParams{crypto::NumberFromBytes(other.modulus()),
                                                        crypto::NumberFromBytes(other.publicExponent()),
                                                        crypto::NumberFromDecimal("0")});
    const crypto::TRsaQv client(crypto::TRsaParams{crypto::NumberFromBytes(key.modulus()),
                                                   crypto::NumberFromBytes(key.publicExponent()),
                                                   crypto::NumberFromDecimal("0")});
    struct Case
    {
        const char* name;
        std::vector<std::uint8_t> wrapped;
        std::size_t length;
    };
    const std::array cases{
        Case{"wrapped with another key", otherClient.Encrypt(data, false), 16},
        Case{"random bytes", std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}, 16},
        Case{"nothing", {}, 16},
        Case{"only zeros", std::vector<std::uint8_t>(8, 0), 16},
        Case{"a key of another length", client.Encrypt(std::vector<std::uint8_t>(15, 1), false), 16},
        Case{"larger than the modulus", std::vector<std::uint8_t>(256, 0xFF), 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW((void)key.unwrap(c.wrapped, c.length), Error);
    }
}

// A client may send a frame of a megabyte as its wrapped key: that is refused
// by its length, before a private-key operation per digit would cost seconds.
// A key one digit too long is refused the same way; a wrap of the right size
// costs exactly one operation, so the count is what the refusal saves.
TEST(ServerKey, UnwrapRefusesAnOversizedInputBeforeAnyPrivateKeyOperation)
{
    const auto key = server::ServerKey::loadOrCreate(sharedServerKey());
    const std::vector<std::uint8_t> data(16, 0x5A);
    const crypto::TRsaQv client(crypto::TRsaParams{crypto::NumberFromBytes(key.modulus()),
                                                   crypto::NumberFromBytes(key.publicExponent()),
                                                   crypto::NumberFromDecimal("0")});
    const auto wrapped = client.Encrypt(data, false);

    std::vector<std::uint8_t> oneDigitMore(wrapped.size() + key.bits() / 8, 0x41);
    for (const auto& [name, input] : {std::pair{"a megabyte", std::vector<std::uint8_t>(1024 * 1024, 0x41)},
                                      std::pair{"one digit more", oneDigitMore}}) {
        SCOPED_TRACE(name);
        const auto before = key.privateKeyOperations();
        EXPECT_THROW((void)key.unwrap(input, 16), Error);
        EXPECT_EQ(key.privateKeyOperations(), before);
    }

    const auto before = key.privateKeyOperations();
    EXPECT_EQ(key.unwrap(wrapped, 16), data);
    EXPECT_EQ(key.privateKeyOperations(), before + 1);
}

}  // namespace
}  // namespace vek::test
