// gzip expansion (TGzip::Decompress) of the input as a file, bounded as the
// list reception bounds it: it succeeds with a file no larger than the
// bound, or fails and leaves no destination.

#include "crypto/TGzip.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

using namespace vek;

namespace {

constexpr std::uint64_t Bound = 1024 * 1024;

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "gzip_expansion: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto source = fuzz::scratchDir() / "lista.gz";
    static const auto destination = fuzz::scratchDir() / "lista.xml";
    std::error_code ec;
    std::filesystem::remove(destination, ec);
    fuzz::writeFile(source, fuzz::asText(data, size));

    crypto::TGzip gzip;
    gzip.FileSource = source.string();
    gzip.FileDestination = destination.string();
    gzip.WindowOnError = false;
    gzip.MaxExpandedSize = Bound;
    // Expansion progress is measured against the compressed size, so it
    // passes 100 for anything that compresses; it only has to be computed.
    gzip.ProgressStep = 10;
    gzip.OnProgress = [](crypto::TGzip& g) { check(g.Progress >= 0, "negative progress"); };
    const int result = gzip.Decompress();
    if (result == crypto::TGzip::ResultOk) {
        check(std::filesystem::file_size(destination) <= Bound, "expanded past the bound");
    } else if (gzip.lastErrorCode() == EFBIG) {
        check(!std::filesystem::exists(destination), "a refused expansion left its destination");
    }
    return 0;
}
