#include "crypto/TBlowfishQv.h"
#include "dataset/HistoryTable.h"
#include "server/Store.h"
#include "tests/server/ServerTestSupport.h"
#include "wire/MessageCodes.h"

#include <gtest/gtest.h>

#include <ctime>

namespace vek::test {
namespace {

std::string dayText(int offsetDays)
{
    const std::time_t t = std::time(nullptr) + static_cast<std::time_t>(offsetDays) * 24 * 60 * 60;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%d/%m/%Y", &tm);
    return buf;
}

std::string protocolOf(const UploadOutcome& out)
{
    return out.final ? out.final->text().substr(0, out.final->text().find('|')) : std::string();
}

// Two uploads of the operator (and one of another) are what the history of
// a period that ends today shows, one row each, loaded by the history table.
TEST(History, ShowsTheOperatorsUploadsWithinThePeriod)
{
    RunningServer zebd;
    UploadInput first;
    first.nome = "primeiro.xml";
    UploadInput second;
    second.nome = "segundo.txt";
    second.tipo = "TXT";
    const std::string p1 = protocolOf(runUpload(zebd.port(), first));
    const std::string p2 = protocolOf(runUpload(zebd.port(), second));
    ASSERT_FALSE(p1.empty());
    ASSERT_FALSE(p2.empty());
    zebd.server().store().setOperator("654321", "outra");
    UploadInput other;
    other.registro = "654321";
    other.senha = "outra";
    other.nome = "alheio.xml";
    ASSERT_FALSE(protocolOf(runUpload(zebd.port(), other)).empty());

    ClientOf client(zebd);
    std::string path;
    // Today as the last day of the period: the end day counts whole.
    ASSERT_EQ(client.historico(dayText(-30), dayText(0), path), "");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::filesystem::path(path).extension(), ".zeb");

    dataset::HistoryTable table;
    table.load(path);
    ASSERT_EQ(table.recordCount(), 2U);
    struct Expected
    {
        std::string protocol;
        std::string name;
        std::string type;
    };
    const std::array expected{Expected{p1, "primeiro.xml", "XML"}, Expected{p2, "segundo.txt", "TXT"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(table.asText(i, "CD_PROTOCOLO"), expected[i].protocol);
        EXPECT_EQ(table.asText(i, "NM_ARQUIVO"), expected[i].name);
        EXPECT_EQ(table.asText(i, "CD_TIPO_ARQUIVO"), expected[i].type);
        EXPECT_EQ(table.asText(i, "CD_OPERADORA"), "123456");
        EXPECT_EQ(table.asText(i, "NM_STATUS_PROCESSAMENTO"), "Processado");
        EXPECT_EQ(table.asText(i, "QT_AVISOS"), "0");
        EXPECT_EQ(table.asText(i, "QT_ERROS"), "0");
        EXPECT_EQ(table.asText(i, "DT_TRANSMISSAO").substr(0, 10), dayText(0));
    }
    EXPECT_TRUE(client.boxes().empty());
}

TEST(History, APeriodWithoutUploadsIsAnEmptyResult)
{
    RunningServer zebd;
    ASSERT_FALSE(protocolOf(runUpload(zebd.port(), UploadInput{})).empty());
    struct Case
    {
        const char* name;
        std::string inicio;
        std::string fim;
    };
    const std::array cases{
        Case{"a period that ends yesterday", dayText(-30), dayText(-1)},
        Case{"a period that starts tomorrow", dayText(1), dayText(2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientOf client(zebd);
        std::string path = "antes";
        EXPECT_EQ(client.historico(c.inicio, c.fim, path), "");
        EXPECT_EQ(path, "");
        EXPECT_EQ(client.boxes(), std::vector<std::string>{"Não há transmissões efetuadas no período informado."});
    }
}

TEST(History, DenialsCarryTheReason)
{
    RunningServer zebd;
    struct Case
    {
        const char* name;
        std::string senha;
        std::string inicio;
        std::string fim;
        std::string reason;
    };
    const std::array cases{
        Case{"wrong password", "errada", "01/01/2026", "31/01/2026", "Registro ZEB ou senha de transmissão inválidos."},
        Case{"a day that does not exist",
             "demo",
             "30/02/2026",
             "31/03/2026",
             "Período inválido: \"30/02/2026\" a \"31/03/2026\" (use DD/MM/AAAA)."},
        Case{"end before start",
             "demo",
             "10/03/2026",
             "09/03/2026",
             "Período inválido: a data final 09/03/2026 é anterior à inicial 10/03/2026."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientOf client(zebd);
        client.canal.Senha = c.senha;
        std::string path;
        EXPECT_EQ(client.historico(c.inicio, c.fim, path), " " + c.reason);
        EXPECT_EQ(path, "");
        EXPECT_EQ(client.boxes(), std::vector<std::string>{c.reason});
    }
}

// The demo store starts with a history the demo client can look at.
TEST(History, TheDemoStoreHasPastUploads)
{
    RunningServer zebd([](server::ServerConfig& c) { c.demoContent = true; });
    ClientOf client(zebd);
    std::string path;
    ASSERT_EQ(client.historico(dayText(-30), dayText(0), path), "");
    dataset::HistoryTable table;
    table.load(path);
    EXPECT_EQ(table.recordCount(), 2U);
}

}  // namespace
}  // namespace vek::test
