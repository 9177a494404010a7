#pragma once

#include "tests/fixtures/Sandbox.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/resource.h>

namespace vek::ftp::test {

using vek::test::readFile;
using vek::test::Sandbox;
using vek::test::writeFile;

// Bytes that differ from one position to the next, so a lost or repeated piece shows.
inline std::string patternBytes(std::size_t size, std::uint32_t seed = 0x2545F491u)
{
    std::string out(size, '\0');
    std::uint32_t x = seed;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return out;
}

// Caps the size of files this process writes, as a full disk would, for the
// scope; SIGXFSZ is ignored so the write reports EFBIG instead.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

}  // namespace vek::ftp::test
