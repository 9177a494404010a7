#include "server/ListRows.h"

#include "dataset/DataPacket.h"
#include "dataset/ListTable.h"

#include <gtest/gtest.h>

namespace vek::server {
namespace {

// Sizes are rounded up, so a file is never listed smaller than it is and a
// non-empty one never as zero.
TEST(ListRows, SizesInKilobytesBelowAMegabyteAndMegabytesFromThere)
{
    struct Case
    {
        std::int64_t bytes;
        const char* amount;
        const char* unit;
    };
    const std::array cases{
        Case{0, "0", "KBytes"},
        Case{1, "0.01", "KBytes"},
        Case{1024, "1", "KBytes"},
        Case{1025, "1.01", "KBytes"},
        Case{1024 * 1024 - 1, "1024", "KBytes"},
        Case{1024 * 1024, "1", "MBytes"},
        Case{5 * 1024 * 1024 / 2, "2.5", "MBytes"},
        Case{300LL * 1024 * 1024 * 1024, "307200", "MBytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const ListedSize s = listedSizeOf(c.bytes);
        EXPECT_EQ(s.amount, c.amount);
        EXPECT_EQ(s.unit, c.unit);
    }
}

// Texts longer than their fields are cut by characters, not bytes, so the
// packet stays one the reader takes; a malformed store time becomes null.
TEST(ListRows, RowsFitTheListTable)
{
    AvailableFile f;
    f.id = 7;
    f.operatorId = "123456";
    f.fileType = "RET";
    f.fileName = std::string(210, 'a') + ".xml";
    f.description = std::string(500, 'e') + "ção";
    f.size = 2048;
    f.storedPath = "/dados/disponiveis/abc.cpt";
    f.cipherKey = "Chave123";
    f.registeredAt = "2026-03-09 14:05:09";
    f.lastDownload = "quebrado";
    const std::string document = dataset::writeDataPacket(dataset::ListTable::definition(), listRows({f}));
    dataset::ListTable table;
    table.loadDocument(document, "teste");
    ASSERT_EQ(table.recordCount(), 1U);
    EXPECT_EQ(table.asText(0, "NM_ARQUIVO"), std::string(200, 'a'));
    EXPECT_EQ(table.asText(0, "DE_CONTEUDO_ARQUIVO"), std::string(400, 'e'));
    EXPECT_EQ(table.asText(0, "DT_CADASTRO"), "09/03/2026 14:05:09");
    EXPECT_EQ(table.asText(0, "ULT_DOWNLOAD"), "");
    EXPECT_EQ(table.asText(0, "DE_PATH_ARQUIVO"), "disponiveis/abc.cpt");
    EXPECT_EQ(table.asText(0, "TAMANHO"), "2");
    EXPECT_EQ(table.asText(0, "ID_ARQUIVO_DISPONIVEL"), "7");
}

}  // namespace
}  // namespace vek::server
