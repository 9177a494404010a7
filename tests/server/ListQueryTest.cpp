#include "crypto/TBlowfishQv.h"
#include "dataset/ListTable.h"
#include "server/Availability.h"
#include "server/CommandLine.h"
#include "server/Store.h"
#include "tests/server/ServerTestSupport.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <sstream>

namespace vek::test {
namespace {

std::string thisMonth()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%m/%Y", &tm);
    return buf;
}

std::vector<std::string> namesIn(const std::string& path)
{
    dataset::ListTable table;
    table.load(path);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < table.recordCount(); ++i) {
        names.push_back(table.asText(i, "NM_ARQUIVO"));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The whole query through the real client: the list arrives gzipped in
// blocks, expands in temp/ under a .zeb name, loads into the list table with
// every field the download needs, and the FTP login that follows is the one
// the store now holds.
TEST(ListQuery, TheClientLoadsTheListAndReceivesFreshFtpCredentials)
{
    RunningServer zebd;
    const auto ret = publish(zebd, "retorno.xml", "<retorno/>", "RET", "03/2026");
    const auto large = publish(zebd, "grande.bin", std::string(3 * 1024 * 1024 + 1, 'x'), "RET", "04/2026");
    (void)publish(zebd, "relatorio.txt", "relatório", "REL");
    zebd.server().store().setOperator("654321", "outra");
    (void)publish(zebd, "alheio.xml", "<de outra operadora/>", "RET", {}, "654321");

    ClientOf client(zebd);
    std::string path;
    ASSERT_EQ(client.listar("RET", path), "");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::filesystem::path(path).parent_path(), client.box.path() / "temp");
    EXPECT_EQ(std::filesystem::path(path).extension(), ".zeb");
    EXPECT_FALSE(std::filesystem::exists(client.box.path() / "temp" / "dados.gz"));

    dataset::ListTable table;
    table.load(path);
    ASSERT_EQ(table.recordCount(), 2U);
    const auto row = table.findById(std::to_string(ret.id));
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(table.asText(*row, "NM_ARQUIVO"), "retorno.xml");
    EXPECT_EQ(table.asText(*row, "DE_CONTEUDO_ARQUIVO"), "Arquivo retorno.xml");
    EXPECT_EQ(table.asText(*row, "CD_CHAVE_CRIPTOGRAFIA"), ret.cipherKey);
    EXPECT_EQ(table.asText(*row, "CD_TIPO_ARQUIVO"), "RET");
    EXPECT_EQ(table.asText(*row, "DE_PATH_ARQUIVO"),
              "disponiveis/" + std::filesystem::path(ret.storedPath).filename().string());
    EXPECT_EQ(table.asText(*row, "ULT_DOWNLOAD"), "");
    EXPECT_FALSE(table.asText(*row, "DT_CADASTRO").empty());
    EXPECT_EQ(table.TAMANHOFTM(*row), "0 KBytes(s)");
    const auto bigRow = table.findById(std::to_string(large.id));
    ASSERT_TRUE(bigRow.has_value());
    EXPECT_EQ(table.asText(*bigRow, "TAMANHO"), "3.01");
    EXPECT_EQ(table.asText(*bigRow, "MEDIDA"), "MBytes");
    EXPECT_EQ(table.expectedSizeKb(*bigRow), 3 * 1024);

    ASSERT_FALSE(client.canal.UsuarioDownload.empty());
    ASSERT_FALSE(client.canal.SenhaDownload.empty());
    const auto login =
        zebd.server().store().findDownloadCredentials(client.canal.UsuarioDownload, client.canal.SenhaDownload);
    ASSERT_TRUE(login.has_value());
    EXPECT_EQ(login->identifier, client.canal.IdentificadorDownload);
    EXPECT_EQ(login->operatorId, "123456");

    // Every query hands out a login of its own.
    const std::string firstUser = client.canal.UsuarioDownload;
    ASSERT_EQ(client.listar("RET", path), "");
    EXPECT_NE(client.canal.UsuarioDownload, firstUser);
    EXPECT_TRUE(client.boxes().empty());
}

TEST(ListQuery, FiltersByCompetenceAndByTheMonthTheFileWasMadeAvailable)
{
    RunningServer zebd;
    (void)publish(zebd, "marco.xml", "m", "RET", "03/2026");
    (void)publish(zebd, "abril.xml", "a", "RET", "04/2026");
    (void)publish(zebd, "sem-competencia.xml", "s", "RET");
    struct Case
    {
        const char* name;
        std::string competencia;
        std::string disponibilizacao;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"no filter", "", "", {"abril.xml", "marco.xml", "sem-competencia.xml"}},
        {"the input mask counts as empty", "  /    ", "  /    ", {"abril.xml", "marco.xml", "sem-competencia.xml"}},
        {"competence", "03/2026", "", {"marco.xml"}},
        {"made available this month", "", thisMonth(), {"abril.xml", "marco.xml", "sem-competencia.xml"}},
        {"both", "04/2026", thisMonth(), {"abril.xml"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientOf client(zebd);
        std::string path;
        ASSERT_EQ(client.listar("ret", path, c.competencia, c.disponibilizacao), "");
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(namesIn(path), c.expected);
    }
}

// Nothing matches: the result message "0", no file, no credentials; the
// client shows its own box and returns without an error.
TEST(ListQuery, AnEmptyResultSendsNoFileAndNoCredentials)
{
    RunningServer zebd;
    (void)publish(zebd, "marco.xml", "m", "RET", "03/2026");
    struct Case
    {
        const char* name;
        std::string tipo;
        std::string competencia;
        std::string disponibilizacao;
    };
    const std::array cases{
        Case{"no file of the type", "CNF", "", ""},
        Case{"another competence", "RET", "05/2026", ""},
        Case{"made available in another month", "RET", "", "01/2000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientOf client(zebd);
        std::string path = "antes";
        EXPECT_EQ(client.listar(c.tipo, path, c.competencia, c.disponibilizacao), "");
        EXPECT_EQ(path, "");
        EXPECT_EQ(client.canal.UsuarioDownload, "");
        ASSERT_EQ(client.boxes().size(), 1U);
        EXPECT_EQ(client.boxes()[0].rfind("A consulta efetuada, com os parâmetros informados, não retornou", 0), 0U);
    }
}

TEST(ListQuery, DenialsCarryTheReasonAndNoList)
{
    RunningServer zebd;
    (void)publish(zebd, "marco.xml", "m", "RET", "03/2026");
    struct Case
    {
        const char* name;
        std::string registro;
        std::string senha;
        std::string tipo;
        std::string competencia;
        std::string reason;
    };
    const std::array cases{
        Case{"wrong password", "123456", "errada", "RET", "", "Registro ZEB ou senha de transmissão inválidos."},
        Case{"unknown operator", "999999", "demo", "RET", "", "Registro ZEB ou senha de transmissão inválidos."},
        Case{"type not in the download list",
             "123456",
             "demo",
             "XML",
             "",
             "Tipo de arquivo \"XML\" não disponível para download."},
        Case{"competence that is no month",
             "123456",
             "demo",
             "RET",
             "13/2026",
             "Mês de competência inválido: \"13/2026\" (use MM/AAAA)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientOf client(zebd);
        client.canal.CD_Operadora = c.registro;
        client.canal.Senha = c.senha;
        std::string path;
        EXPECT_EQ(client.listar(c.tipo, path, c.competencia), " " + c.reason);
        EXPECT_EQ(path, "");
        EXPECT_EQ(client.boxes(), std::vector<std::string>{c.reason});
        EXPECT_EQ(client.canal.UsuarioDownload, "");
    }
}

// A client that answers a list block with something else than an
// acknowledgement gets nothing more, and no credentials are handed out.
TEST(ListQuery, AClientThatDoesNotAcknowledgeABlockIsDropped)
{
    RunningServer zebd;
    (void)publish(zebd, "marco.xml", "m", "RET");
    platform::TcpSocket s = connectTo(zebd.port());
    sendText(s, wire::CMD_PEDIDO_LISTA, "4.0.8|VEK|RET|123456| (Linux)|||" + crypto::EncryptProtocolText("demo"));
    EXPECT_EQ(receive(s).code, wire::CMD_ACEITO);
    EXPECT_EQ(receive(s).text(), "1");
    const wire::Message header = receive(s);
    EXPECT_EQ(header.code, wire::CMD_TAMANHO);
    EXPECT_NE(header.text().find("|Xlista-123456.zeb"), std::string::npos) << header.text();
    EXPECT_EQ(receive(s).code, wire::CMD_BLOCO);
    sendFrame(s, wire::CMD_LISTA_RECEBIDA, {});
    EXPECT_TRUE(closedByPeer(s));
}

// The administration command prints the identifier of a file that the
// running server then lists.
TEST(ListQuery, AFileMadeAvailableByTheCommandIsListed)
{
    RunningServer zebd;
    const auto source = zebd.dataDir() / "origem.txt";
    writeFile(source, "conteúdo");
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(server::runZebd({"disponibilizar",
                               "--dados",
                               zebd.dataDir().string(),
                               "--registro",
                               "123456",
                               "--tipo",
                               "REL",
                               "--arquivo",
                               source.string(),
                               "--descricao",
                               "Relatório"},
                              out,
                              err,
                              {}),
              server::ExitOk)
        << err.str();
    const std::string id = out.str().substr(0, out.str().find('\n'));

    ClientOf client(zebd);
    std::string path;
    ASSERT_EQ(client.listar("REL", path), "");
    dataset::ListTable table;
    table.load(path);
    const auto row = table.findById(id);
    ASSERT_TRUE(row.has_value()) << id;
    EXPECT_EQ(table.asText(*row, "NM_ARQUIVO"), "origem.txt");
    EXPECT_EQ(table.asText(*row, "DE_CONTEUDO_ARQUIVO"), "Relatório");
}

}  // namespace
}  // namespace vek::test

namespace vek::test {
namespace {

// The demo store offers files of each download type, one of about 2 MB.
TEST(ListQuery, TheDemoStoreOffersFilesOfSeveralTypesAndSizes)
{
    RunningServer zebd([](server::ServerConfig& c) { c.demoContent = true; });
    struct Case
    {
        const char* tipo;
        std::vector<std::string> names;
    };
    const std::array cases{
        Case{"RET", {"retorno-042024.xml", "retorno-052024.xml"}},
        Case{"REL", {"relatorio-processamento.txt"}},
        Case{"CNF", {"conferencia-cadastro.csv"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tipo);
        ClientOf client(zebd);
        std::string path;
        ASSERT_EQ(client.listar(c.tipo, path), "");
        EXPECT_EQ(namesIn(path), c.names);
    }
    ClientOf client(zebd);
    std::string path;
    ASSERT_EQ(client.listar("CNF", path, "04/2024"), "");
    dataset::ListTable table;
    table.load(path);
    ASSERT_EQ(table.recordCount(), 1U);
    EXPECT_EQ(table.asText(0, "MEDIDA"), "MBytes");
    EXPECT_EQ(table.TAMANHOFTM(0), "2 MBytes(s)");
}

}  // namespace
}  // namespace vek::test
