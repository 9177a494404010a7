#include "crypto/TCrc32.h"
#include "crypto/UploadPreparation.h"
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

// A file that the client's own preparation turns into exactly `target`
// enciphered bytes. Random bytes barely compress, so the enciphered size
// follows the input's length closely: each probe corrects the length by what
// it missed, and whatever deflate engine the preparation uses is the one
// probed.
std::filesystem::path fileWithEncipheredSize(const Sandbox& box, std::uint64_t target, const std::string& name)
{
    const auto dir = box.path() / "work";
    const auto temp = box.path() / "work-temp";
    std::filesystem::create_directories(dir);
    std::filesystem::create_directories(temp);
    const auto path = dir / name;
    const std::string content = randomBytes(target + 4096, 7);
    std::set<std::uint64_t> tried;
    std::uint64_t n = target;
    for (int probe = 0; probe < 200; ++probe) {
        writeFile(path, content.substr(0, n));
        const auto prepared = crypto::prepareUploadFile(path.string(), temp, crypto::UploadBlockSize, {});
        const auto size = static_cast<std::uint64_t>(prepared.blocks.total());
        if (size == target) {
            return path;
        }
        tried.insert(n);
        std::uint64_t next = size > target ? n - (size - target) : n + (target - size);
        while (tried.count(next) != 0) {
            ++next;  // a step that would repeat itself: walk on by one
        }
        n = next;
    }
    ADD_FAILURE() << "no input length gives " << target << " enciphered bytes";
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
        const char* janela = "1";
    };
    const auto bothMultiples = fileWithEncipheredSize(client, 1280 * 1267, "f.bin");
    const std::vector<Case> cases{
        {"empty", client.write("in/vazio.xml", "")},
        {"one byte", client.write("in/um.txt", "x")},
        {"enciphered size a multiple of 1280", fileWithEncipheredSize(client, 10 * 1280, "bloco.dat")},
        // Blocks of 1267 bytes and a last, empty one.
        {"enciphered size a multiple of 1280 and of 1267", bothMultiples},
        {"the same with a window", bothMultiples, "64"},
        {"10 MB of text", client.write("in/texto.xml", textBytes(10 * 1000 * 1000))},
        {"5 MB of random bytes", client.write("in/aleatorio.zip", randomBytes(5 * 1000 * 1000, 3))},
    };
    std::set<std::string> protocols;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r =
            cli.run({"enviar", "--registro", "123456", "--tipo", "XML", "--janela", c.janela, c.path.string()});
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
