#include "tests/e2e/E2E.h"
#include "tests/fixtures/LatencyRelay.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <sstream>

namespace vek::test {
namespace {

using namespace std::chrono_literals;

// zebd reads frame by frame, so blocks written ahead of their replies, by a
// window from the command line or from vek.INI, reach it whole and in order,
// straight or through a relay that puts the client at a distance (and
// behind a slow line).
TEST(WindowedUploadE2E, StoredFilesEqualTheOriginalsWhateverTheWindowAndDistance)
{
    const Sandbox server(false);
    const Sandbox client(false);
    ZebdProcess zebd(server.path() / "dados");

    struct Case
    {
        const char* name;
        std::chrono::microseconds delay;  // 0: no relay
        std::uint64_t bytesPerSecond;
        std::vector<std::string> janela;  // the option, or none
        std::string config;               // extra vek.INI lines
        std::size_t size;
    };
    const std::vector<Case> cases{
        {"straight, largest window, more than the sockets hold", 0us, 0, {"--janela", "4096"}, "", 3'000'000},
        {"3 ms away, window from vek.INI", 3000us, 0, {}, "JanelaEnvio=32\r\n", 400'000},
        {"3 ms away, the option over vek.INI", 3000us, 0, {"--janela", "8"}, "JanelaEnvio=1\r\n", 100'000},
        {"2 ms away on a 2 MB/s line", 2000us, 2'000'000, {"--janela", "128"}, "", 600'000},
        {"3 ms away, stop-and-wait", 3000us, 0, {}, "", 30'000},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        std::optional<LatencyRelay> relay;
        std::uint16_t port = zebd.messagePort();
        if (c.delay.count() > 0) {
            relay.emplace(port, LatencyRelay::Options{c.delay, c.bytesPerSecond});
            port = relay->port();
        }
        const CliClient cli(client, port, c.config);
        const auto file = client.write("in/janela" + std::to_string(i) + ".bin", randomBytes(c.size, 100 + i));
        std::vector<std::string> args{"enviar", "--registro", "123456", "--tipo", "XML"};
        args.insert(args.end(), c.janela.begin(), c.janela.end());
        args.push_back(file.string());
        const auto r = cli.run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto stored = storedPath(server.path() / "dados", protocolPrinted(r.out));
        ASSERT_FALSE(stored.empty()) << r.out;
        EXPECT_TRUE(readFile(stored) == readFile(file));
        if (relay) {
            EXPECT_GT(relay->forwarded(), c.size);
        }
    }
}

TEST(WindowedUploadE2E, AWindowOutsideOneTo4096IsAUsageError)
{
    const Sandbox client(false);
    const CliClient cli(client, 9);
    const auto file = client.write("in/a.xml", "<a/>");
    for (const char* janela : {"0", "-1", "4097", "oito", "2x", ""}) {
        SCOPED_TRACE(janela);
        const auto r = cli.run({"enviar", "--registro", "123456", "--janela", janela, file.string()});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("--janela"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
}  // namespace vek::test
