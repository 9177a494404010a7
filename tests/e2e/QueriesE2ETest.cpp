#include "platform/Socket.h"
#include "tests/e2e/E2E.h"
#include "tests/fixtures/SocketPair.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

namespace vek::test {
namespace {

std::vector<std::vector<std::string>> tsv(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
            cells.push_back(line.substr(start, tab - start));
        }
        cells.push_back(line.substr(start));
        rows.push_back(cells);
    }
    return rows;
}

class QueriesE2E : public ::testing::Test
{
protected:
    Sandbox server{false};
    Sandbox client{false};
    ZebdProcess zebd{server.path() / "dados"};
    CliClient cli{client,
                  zebd.messagePort(),
                  "PortaFTP=" + std::to_string(zebd.ftpPort()) + "\r\nPortaDados=" + std::to_string(freePort()) +
                      "\r\n"};

    std::string publish(const std::filesystem::path& file, const std::string& tipo)
    {
        const auto r = runProcess({binPath("zebd"),
                                   "disponibilizar",
                                   "--dados",
                                   (server.path() / "dados").string(),
                                   "--registro",
                                   "123456",
                                   "--tipo",
                                   tipo,
                                   "--arquivo",
                                   file.string(),
                                   "--descricao",
                                   "Arquivo publicado no teste"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::string id = r.out;
        while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) {
            id.pop_back();
        }
        return id;
    }
};

TEST_F(QueriesE2E, ListThenDownloadGivesThePublishedFile)
{
    std::string content;
    for (int i = 0; i < 20000; ++i) {
        content += "linha " + std::to_string(i) + " do retorno da ZEB\n";
    }
    const auto published = server.write("publicar/retorno-e2e.xml", content);
    const std::string id = publish(published, "RET");
    ASSERT_FALSE(id.empty());

    auto r = cli.run({"listar", "--registro", "123456", "--tipo", "RET"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rows = tsv(r.out);
    ASSERT_GE(rows.size(), 2U);
    EXPECT_EQ(rows[0][0], "NM_ARQUIVO");
    bool listed = false;
    for (const auto& row : rows) {
        listed = listed || (row.size() == 11 && row[0] == "retorno-e2e.xml" && row[6] == id);
    }
    EXPECT_TRUE(listed) << r.out;

    const auto destino = client.path() / "baixados";
    std::filesystem::create_directories(destino);
    r = cli.run({"baixar", "--registro", "123456", "--tipo", "RET", "--id", id, "--destino", destino.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, (destino / "retorno-e2e.xml").string() + "\n");
    EXPECT_TRUE(readFile(destino / "retorno-e2e.xml") == content);
    EXPECT_TRUE(std::filesystem::is_empty(client.path() / "temp") ||
                !std::filesystem::exists(client.path() / "temp" / "retorno-e2e.xml"));

    // Never replaces a file without being told to.
    r = cli.run({"baixar", "--registro", "123456", "--tipo", "RET", "--id", id, "--destino", destino.string()});
    EXPECT_EQ(r.exitCode, 1);
    // The window's text for a file it may not replace, naming where the download stayed.
    EXPECT_EQ(r.err,
              "Erro: O arquivo \"" + (destino / "retorno-e2e.xml").string() +
                  "\" já existe e não foi substituído. O arquivo baixado ficou em \"" +
                  (client.path() / "temp" / "retorno-e2e.xml").string() + "\".\n");
    EXPECT_TRUE(std::filesystem::exists(client.path() / "temp" / "retorno-e2e.xml"));
    r = cli.run(
        {"baixar", "--registro", "123456", "--tipo", "RET", "--id", id, "--destino", destino.string(), "--substituir"});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    r = cli.run({"baixar", "--registro", "123456", "--tipo", "RET", "--id", "999999"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Erro: ", 0), 0U) << r.err;
}

TEST_F(QueriesE2E, HistoryShowsUploadsAndExportsASpreadsheet)
{
    for (const char* name : {"primeiro.xml", "segundo.xml"}) {
        const auto r = cli.run({"enviar", "--registro", "123456", client.write(name, "<a/>").string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    const auto xlsx = client.path() / "historico.xlsx";
    char hoje[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(hoje, sizeof hoje, "%d/%m/%Y", std::localtime(&now));
    const auto r =
        cli.run({"historico", "--registro", "123456", "--inicio", hoje, "--fim", hoje, "--xlsx", xlsx.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\tprimeiro.xml\tXML\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tsegundo.xml\tXML\t"), std::string::npos) << r.out;

    const auto check = runProcess({"/usr/bin/python3",
                                   "-c",
                                   "import sys, openpyxl\n"
                                   "wb = openpyxl.load_workbook(sys.argv[1])\n"
                                   "ws = wb['Historico']\n"
                                   "rows = list(ws.iter_rows(values_only=True))\n"
                                   "print(len(rows[0]))\n"
                                   "print(sorted(r[1] for r in rows[1:] if r[1] in ('primeiro.xml', 'segundo.xml')))\n"
                                   "print(type(rows[1][0]).__name__)\n",
                                   xlsx.string()});
    if (check.err.find("No module named") != std::string::npos) {
        GTEST_SKIP() << "openpyxl is not installed";
    }
    ASSERT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(check.out, "7\n['primeiro.xml', 'segundo.xml']\ndatetime\n");
}

TEST_F(QueriesE2E, PasswordChangeThenOnlyTheNewPasswordWorks)
{
    auto r = cli.run({"alterar-senha", "--registro", "123456"}, {{"VEK_NOVA_SENHA", "nova-senha"}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.rfind("VEK: ", 0), 0U) << r.err;
    const auto file = client.write("depois.xml", "<a/>");
    r = cli.run({"enviar", "--registro", "123456", file.string()});
    EXPECT_EQ(r.exitCode, 1);
    r = cli.run({"enviar", "--registro", "123456", file.string()}, {{"VEK_SENHA", "nova-senha"}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The old password no longer changes anything either.
    r = cli.run({"alterar-senha", "--registro", "123456"}, {{"VEK_NOVA_SENHA", "outra"}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("VEK: ", 0), 0U) << r.err;
}

// A disk that fills up (here a file-size limit on the process) fails the
// download and the upload with their texts; nothing reaches the destination
// and no work file is left behind.
TEST_F(QueriesE2E, FullDiskFailsDownloadAndUploadWithTheirTexts)
{
    std::string noise(3'000'000, '\0');
    unsigned x = 12345;
    for (char& c : noise) {
        x = x * 1103515245U + 12345U;
        c = static_cast<char>(x >> 24);
    }
    const auto published = client.write("grande.bin", noise);
    const std::string id = publish(published, "RET");
    const auto destination = client.path() / "destino";
    std::filesystem::create_directories(destination);
    const auto limited = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/prlimit", "--fsize=1000000", binPath("vek-cli")});
        return runProcess(args, {{"VEK_DIR", cli.dir}, {"VEK_SENHA", "demo"}}, {"TMPDIR"});
    };

    const auto down =
        limited({"baixar", "--registro", "123456", "--tipo", "RET", "--id", id, "--destino", destination.string()});
    EXPECT_EQ(down.exitCode, 1) << down.err;
    EXPECT_NE(down.err.find("Erro:  Houve um erro ao efetuar download do arquivo."), std::string::npos) << down.err;
    EXPECT_TRUE(std::filesystem::is_empty(destination));

    const auto up = limited({"enviar", "--registro", "123456", published.string(), "--tipo", "XML"});
    EXPECT_EQ(up.exitCode, 1) << up.err;
    EXPECT_NE(up.err.find("Erro:  Erro na preparação dos dados."), std::string::npos) << up.err;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(client.path() / "temp", ec)) {
        EXPECT_NE(e.path().extension(), ".gz") << e.path();
    }
}

}  // namespace
}  // namespace vek::test
