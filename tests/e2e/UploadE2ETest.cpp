#include "crypto/TCrc32.h"
#include "crypto/TGzip.h"
#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <regex>
#include <set>
#include <sstream>

namespace vek::test {
namespace {

std::string textBytes(std::size_t n)
{
    std::string s;
    s.reserve(n + 100);
    for (int i = 0; s.size() < n; ++i) {
        s += "<linha numero=\"" + std::to_string(i) + "\">Relatório de transmissão da operadora</linha>\n";
    }
    s.resize(n);
    return s;
}

// A file whose gzip form (hence its enciphered form) is a multiple of 1280 bytes.
std::filesystem::path fileWithGzipSizeMultipleOf1280(const Sandbox& box)
{
    const auto dir = box.path() / "work";
    std::filesystem::create_directories(dir);
    const auto path = dir / "bloco.dat";
    for (std::size_t n = 12000; n < 14000; ++n) {
        writeFile(path, randomBytes(n, 7));
        crypto::TGzip gz;
        gz.FileSource = path.string();
        gz.FileDestination = (dir / "probe.gz").string();
        gz.CompressionLevel = 1;
        gz.WindowOnError = false;
        if (gz.Compress() == 0 && std::filesystem::file_size(dir / "probe.gz") % 1280 == 0) {
            return path;
        }
    }
    ADD_FAILURE() << "no size found";
    return path;
}

struct Receipt
{
    std::string protocolo;
    std::string registro;
};

Receipt parseReceipt(const std::string& out)
{
    std::smatch m;
    Receipt r;
    if (std::regex_search(out, m, std::regex("Protocolo: ([^\n]*)\n"))) {
        r.protocolo = m[1];
    }
    if (std::regex_search(out, m, std::regex("Registro: ([^\n]*)\n"))) {
        r.registro = m[1];
    }
    return r;
}

class UploadE2E : public ::testing::Test
{
protected:
    Sandbox server{false};
    Sandbox client{false};
    ZebdProcess zebd{server.path() / "dados"};
    CliClient cli{client, zebd.messagePort()};

    std::filesystem::path data() const { return server.path() / "dados"; }
};

TEST_F(UploadE2E, StoredFilesEqualTheOriginalsByteForByte)
{
    struct Case
    {
        const char* name;
        std::filesystem::path path;
    };
    const std::vector<Case> cases{
        {"empty", client.write("in/vazio.xml", "")},
        {"one byte", client.write("in/um.txt", "x")},
        {"enciphered size a multiple of 1280", fileWithGzipSizeMultipleOf1280(client)},
        {"10 MB of text", client.write("in/texto.xml", textBytes(10 * 1000 * 1000))},
        {"5 MB of random bytes", client.write("in/aleatorio.zip", randomBytes(5 * 1000 * 1000, 3))},
    };
    std::set<std::string> protocols;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = cli.run({"enviar", "--registro", "123456", "--tipo", "XML", c.path.string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto receipt = parseReceipt(r.out);
        EXPECT_TRUE(protocols.insert(receipt.protocolo).second);
        const auto stored = storedPath(data(), receipt.protocolo);
        ASSERT_FALSE(stored.empty());
        EXPECT_TRUE(readFile(stored) == readFile(c.path)) << stored;
        const auto record = readFile(receipt.registro);
        EXPECT_NE(record.find("<protocoloTX>" + receipt.protocolo + "</protocoloTX>"), std::string::npos);
    }
}

TEST_F(UploadE2E, RefusalsCarryTheServersReason)
{
    const auto file = client.write("in/dados.xml", "<a>dados</a>");
    crypto::TCrc32 crc;
    crc.Crc32FileName = file.string();
    const std::string rightCrc = crc.Crc32Hex();

    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"wrong password", {"--registro", "123456"}, {{"VEK_SENHA", "errada"}}, "senha"},
        {"type not in the list", {"--registro", "123456", "--tipo", "QQQ"}, {}, "QQQ"},
        {"CRC mismatch", {"--registro", "123456", "--hash", "00000000"}, {}, "CRC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto args = c.args;
        args.insert(args.begin(), "enviar");
        args.push_back(file.string());
        const auto r = cli.run(args, c.env);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Erro: "), std::string::npos) << r.err;
    }
    const auto ok = cli.run({"enviar", "--registro", "123456", "--hash", rightCrc, file.string()});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
}

TEST_F(UploadE2E, EightParallelUploadsGetDistinctReceipts)
{
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 8; ++i) {
        files.push_back(client.write("par/arquivo" + std::to_string(i) + ".xml", randomBytes(200000 + i, i)));
    }
    std::vector<std::future<ProcessResult>> runs;
    for (const auto& f : files) {
        runs.push_back(std::async(std::launch::async, [this, f] {
            return cli.run({"enviar", "--registro", "123456", f.string()});
        }));
    }
    std::set<std::string> protocols;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto r = runs[i].get();
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto receipt = parseReceipt(r.out);
        EXPECT_TRUE(protocols.insert(receipt.protocolo).second);
        EXPECT_TRUE(readFile(storedPath(data(), receipt.protocolo)) == readFile(files[i]));
    }
    EXPECT_EQ(protocols.size(), 8U);
}

}  // namespace
}  // namespace vek::test
