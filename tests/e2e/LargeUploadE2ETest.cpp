#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>

namespace vek::test {
namespace {

constexpr std::size_t MiB = 1024 * 1024;

// Random bytes do not compress: the enciphered file is as large as the original.
void writeRandomFile(const std::filesystem::path& path, std::size_t size)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    std::mt19937 gen(11);
    std::vector<std::uint32_t> chunk(MiB / 4);
    for (std::size_t done = 0; done < size; done += MiB) {
        for (auto& w : chunk) {
            w = gen();
        }
        out.write(reinterpret_cast<const char*>(chunk.data()),
                  static_cast<std::streamsize>(std::min(MiB, size - done)));
    }
}

bool sameFiles(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::ifstream x(a, std::ios::binary);
    std::ifstream y(b, std::ios::binary);
    std::vector<char> bx(MiB);
    std::vector<char> by(MiB);
    while (x && y) {
        x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
        y.read(by.data(), static_cast<std::streamsize>(by.size()));
        if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) {
            return false;
        }
    }
    return !x && !y;
}

// The enciphered blocks wait in a work file, not in memory: a large upload
// peaks at the same resident memory as a small one, give or take a bounded
// amount, and leaves no work file behind.
TEST(LargeUploadE2E, PeakMemoryDoesNotGrowWithTheFileSize)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: resident sizes are its own";
#endif
    const Sandbox server(false);
    const Sandbox client(false);
    ZebdProcess zebd(server.path() / "dados");
    const CliClient cli(client, zebd.messagePort());  // writes vek.INI
    const auto small = client.path() / "in" / "pequeno.bin";
    const auto large = client.path() / "in" / "grande.bin";
    writeRandomFile(small, MiB);
    writeRandomFile(large, 128 * MiB);

    const auto temp = client.path() / "tmp";
    std::filesystem::create_directories(temp);
    const auto enviar = [&](const std::filesystem::path& file) {
        return runProcess({binPath("vek-cli"), "enviar", "--registro", "123456", "--tipo", "XML", file.string()},
                          {{"VEK_DIR", client.path().string()}, {"VEK_SENHA", "demo"}, {"TMPDIR", temp.string()}});
    };
    const auto baseline = enviar(small);
    ASSERT_EQ(baseline.exitCode, 0) << baseline.err;
    const auto r = enviar(large);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const long growthKiB = r.maxRssKiB - baseline.maxRssKiB;
    RecordProperty("baseline_kib", std::to_string(baseline.maxRssKiB));
    RecordProperty("growth_kib", std::to_string(growthKiB));
    EXPECT_LE(growthKiB, static_cast<long>(64 * MiB / 1024))
        << "peak " << r.maxRssKiB << " KiB against " << baseline.maxRssKiB << " KiB for 1 MiB";
    const auto stored = storedPath(server.path() / "dados", protocolPrinted(r.out));
    ASSERT_FALSE(stored.empty()) << r.out;
    EXPECT_TRUE(sameFiles(stored, large));
    EXPECT_TRUE(std::filesystem::is_empty(temp));
}

}  // namespace
}  // namespace vek::test
