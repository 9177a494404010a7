// zebd's upload decoder on the bytes of an upload. The input after its two
// first bytes is what the client gzipped; it is enciphered here with a fixed
// key, as the client does, so the fuzzing reaches the expansion. The first
// byte sets the block size, the second how far the announced size is off.
// A finished upload is exactly as large as announced and expands within the
// bound; every failure is a vek::Error and leaves no file behind.

#include "crypto/UploadPreparation.h"
#include "platform/Error.h"
#include "server/UploadDecoder.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace vek;

namespace {

constexpr std::int64_t MaxExpanded = 1024 * 1024;
constexpr crypto::SymmetricKey Key{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "zebd_upload_decoder: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const std::size_t blockSize = 1 + static_cast<std::size_t>(data[0]) * 7;
    const auto offBy = static_cast<std::int64_t>(static_cast<std::int8_t>(data[1]));
    const std::span<const std::uint8_t> plain(data + 2, size - 2);

    std::vector<std::uint8_t> enciphered;
    {
        crypto::UploadEncipherer cipher(Key);
        const auto body = cipher.update(plain);
        enciphered.assign(body.begin(), body.end());
        const auto tail = cipher.finish();
        enciphered.insert(enciphered.end(), tail.begin(), tail.end());
    }
    const auto announced = static_cast<std::int64_t>(enciphered.size()) + (offBy == 0 ? 0 : offBy % 3);
    static const auto dir = fuzz::scratchDir() / "recebidos";
    fuzz::emptyDir(dir);
    const auto temp = dir / ".recebendo";
    {
        std::optional<server::UploadDecoder> decoder;
        try {
            decoder.emplace(std::span<const std::uint8_t, server::UploadDecoder::KeySize>(Key.data(), Key.size()),
                            announced,
                            temp,
                            MaxExpanded,
                            (data[0] & 1) != 0);
            for (std::size_t at = 0; at < enciphered.size(); at += blockSize) {
                decoder->feed(std::span(enciphered).subspan(at, std::min(blockSize, enciphered.size() - at)));
            }
            decoder->finish();
            check(decoder->received() == announced, "finished with another size than announced");
            check(decoder->expandedSize() <= MaxExpanded, "expanded past the bound");
            check(decoder->crc32Text().size() == 8, "CRC text is not 8 digits");
            if ((data[0] & 1) != 0) {
                check(decoder->tigerText().size() == 48, "Tiger text is not 48 digits");
            }
        } catch (const vek::Error&) {
        }
    }
    check(std::filesystem::is_empty(dir), "the decoder left a file behind");
    return 0;
}
