#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vek::server {

struct UploadRecord;

// The authentication code of a receipt: an HMAC-SHA256, under a secret that
// only this server keeps, of the protocol number, the operator and the
// SHA-256 of the file content, as 20 upper-case hexadecimal digits. Whoever
// holds the stored file and its record can check a receipt; nobody without
// the secret can make one up.
class Authenticator
{
public:
    static constexpr std::size_t CodeLength = 20;

    // Loads the secret kept in `file`, creating it (owner-only) the first time.
    explicit Authenticator(const std::filesystem::path& file);
    ~Authenticator();
    Authenticator(const Authenticator&) = delete;
    Authenticator& operator=(const Authenticator&) = delete;

    [[nodiscard]] std::string
    code(std::int64_t protocol, const std::string& operatorId, const std::array<std::uint8_t, 32>& contentSha256) const;

    // Recomputes the code from the stored file and compares it with the record's.
    [[nodiscard]] bool verify(const UploadRecord& record) const;

private:
    std::array<std::uint8_t, 32> secret_{};
};

}  // namespace vek::server
