#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace vek::server {

// The server's RSA key: its public half goes to every client that is allowed
// to upload, its private half unwraps the symmetric key of each upload.
class ServerKey
{
public:
    static constexpr unsigned DefaultBits = 2048;

    // Loads the key kept in `file`; when there is none, generates one and
    // keeps it there, readable by the owner only.
    static ServerKey loadOrCreate(const std::filesystem::path& file, unsigned bits = DefaultBits);

    ~ServerKey();
    ServerKey(ServerKey&& other) noexcept;
    ServerKey& operator=(ServerKey&& other) noexcept;
    ServerKey(const ServerKey&) = delete;
    ServerKey& operator=(const ServerKey&) = delete;

    // Unsigned big-endian bytes, as messages 4 and 5 carry them.
    [[nodiscard]] std::vector<std::uint8_t> modulus() const;
    [[nodiscard]] std::vector<std::uint8_t> publicExponent() const;
    [[nodiscard]] unsigned bits() const;

    // The inverse of the clients' key wrap: the wrapped bytes are read as one
    // integer, cut into base-2^b digits (b = the modulus' bit length), each
    // digit raised to the private exponent, the results joined as
    // base-2^(b-1) digits; that number must be the binary digits 111 followed
    // by exactly `dataLength` bytes, which are returned. Anything else throws
    // vek::Error: the bytes were not wrapped with this key.
    [[nodiscard]] std::vector<std::uint8_t> unwrap(std::span<const std::uint8_t> wrapped, std::size_t dataLength) const;

    // How many private-key operations this key has made so far (one per
    // digit unwrapped): what an unwrap costs, for the server's own checks.
    [[nodiscard]] std::uint64_t privateKeyOperations() const;

private:
    struct Impl;
    explicit ServerKey(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vek::server
