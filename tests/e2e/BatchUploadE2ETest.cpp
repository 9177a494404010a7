#include "tests/e2e/E2E.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace vek::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> records(const fs::path& base)
{
    std::vector<fs::path> all;
    if (fs::exists(base / "Protocolos")) {
        for (const auto& e : fs::directory_iterator(base / "Protocolos")) {
            if (e.path().extension() == ".xml") {  // not the receipts' companions
                all.push_back(e.path());
            }
        }
    }
    return all;
}

class BatchUploadE2E : public ::testing::Test
{
protected:
    Sandbox server{false};
    Sandbox client{false};
    ZebdProcess zebd{server.path() / "dados"};
    CliClient cli{client, zebd.messagePort()};
    // The second one's type (from its extension) is not in the operator's list.
    fs::path a = client.write("lote/a.xml", "<a>primeiro</a>");
    fs::path b = client.write("lote/b.qqq", "recusado");
    fs::path c = client.write("lote/c.txt", "terceiro\n");

    std::size_t before = storedByProtocol(data()).size();

    fs::path data() const { return server.path() / "dados"; }
};

TEST_F(BatchUploadE2E, EveryFileGetsItsBlockAndRecordAndTheSummaryNamesTheFailure)
{
    const auto r = cli.run({"enviar", "--registro", "123456", a.string(), b.string(), c.string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;

    // Two receipts, one failure, in the order given, then the summary.
    const std::regex block("Arquivo: ([^\n]*)\n"
                           "(?:Protocolo: ([^\n]+)\nDataHora: [^\n]+\nEnderecoIP: [^\n]*\nAutenticacao: [^\n]*\n"
                           "|Falha: ([^\n]+)\n)"
                           "Registro: ([^\n]+)\n\n");
    std::vector<std::smatch> blocks;
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), block), end; it != end; ++it) {
        blocks.push_back(*it);
    }
    ASSERT_EQ(blocks.size(), 3U) << r.out;
    EXPECT_EQ(blocks[0][1], a.string());
    EXPECT_EQ(blocks[1][1], b.string());
    EXPECT_EQ(blocks[2][1], c.string());
    EXPECT_TRUE(blocks[0][2].matched && blocks[2][2].matched);
    ASSERT_TRUE(blocks[1][3].matched);
    EXPECT_NE(blocks[1][3].str().find("QQQ"), std::string::npos) << blocks[1][3];
    EXPECT_EQ(r.out.substr(blocks[2].position() + blocks[2].length()),
              "Resumo: 2 de 3 enviados; falharam: " + b.string() + "\n");
    // The failure's error also reaches standard error, once.
    EXPECT_EQ(r.err.find("Erro: "), r.err.rfind("Erro: ")) << r.err;
    EXPECT_NE(r.err.find("QQQ"), std::string::npos) << r.err;

    // One record each; the failure's has no protocol.
    EXPECT_EQ(records(client.path()).size(), 3U);
    const auto stored = storedByProtocol(data());
    ASSERT_EQ(stored.size(), before + 2);
    for (const std::size_t i : {0U, 2U}) {
        const std::string protocolo = blocks[i][2];
        const auto record = readFile(blocks[i][4].str());
        EXPECT_NE(record.find("<protocoloTX>" + protocolo + "</protocoloTX>"), std::string::npos) << record;
        ASSERT_EQ(stored.count(protocolo), 1U);
        EXPECT_EQ(readFile(stored.at(protocolo)), readFile(i == 0 ? a : c));
    }
    const auto refused = readFile(blocks[1][4].str());
    EXPECT_TRUE(std::regex_search(refused, std::regex("<protocoloTX */>|<protocoloTX></protocoloTX>"))) << refused;
}

TEST_F(BatchUploadE2E, StopAtTheFirstFailureSendsNothingAfterIt)
{
    const auto r = cli.run({"enviar", "--registro", "123456", "--parar-no-erro", a.string(), b.string(), c.string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(storedByProtocol(data()).size(), before + 1);
    EXPECT_EQ(r.out.find("Arquivo: " + c.string()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Arquivo: " + b.string() + "\nFalha: "), std::string::npos) << r.out;
    const std::string summary =
        "Resumo: 1 de 3 enviados; falharam: " + b.string() + "; não enviados (parada no erro): " + c.string() + "\n";
    ASSERT_GE(r.out.size(), summary.size());
    EXPECT_EQ(r.out.substr(r.out.size() - summary.size()), summary) << r.out;
    // The file never tried has no record.
    EXPECT_EQ(records(client.path()).size(), 2U);
}

TEST_F(BatchUploadE2E, AllSentExitsWithZero)
{
    const auto r = cli.run({"enviar", "--registro", "123456", "--parar-no-erro", a.string(), c.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(storedByProtocol(data()).size(), before + 2);
    const std::string summary = "Resumo: 2 de 2 enviados\n";
    ASSERT_GE(r.out.size(), summary.size());
    EXPECT_EQ(r.out.substr(r.out.size() - summary.size()), summary) << r.out;
}

}  // namespace
}  // namespace vek::test
