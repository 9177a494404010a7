// The data-packet reader with the list table (first byte even) or the
// history table (odd): the rows it reads, written again by the writer zebd
// uses, must read back the same; the loaded table is then shown as vek-cli
// shows it, computed fields included.

#include "dataset/DataPacket.h"
#include "dataset/HistoryTable.h"
#include "dataset/ListTable.h"
#include "platform/Error.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace vek;

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "data_packet: %s\n", what);
        std::abort();
    }
}

template <class TableType> void readAndShow(std::string_view document)
{
    const auto& fields = TableType::definition();
    std::vector<dataset::Row> rows;
    try {
        rows = dataset::readDataPacket(document, fields, "lista.zeb");
    } catch (const vek::Error&) {
        return;
    }
    for (const auto& row : rows) {
        check(row.size() == fields.size(), "a row is not as wide as the table");
    }
    const std::string again = dataset::writeDataPacket(fields, rows);
    check(dataset::readDataPacket(again, fields, "copia.zeb") == rows, "rows written again read back differently");

    TableType table;
    table.loadDocument(document, "lista.zeb");
    check(table.recordCount() == rows.size(), "the table holds other rows than the reader gave");
    std::ostringstream out;
    table.writeTsv(out);
    if constexpr (std::is_same_v<TableType, dataset::ListTable>) {
        for (std::size_t row = 0; row < table.recordCount(); ++row) {
            (void)table.TAMANHOFTM(row);
            try {
                (void)table.expectedSizeKb(row);
            } catch (const vek::Error&) {
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::string_view document = fuzz::asText(data + 1, size - 1);
    if ((data[0] & 1) == 0) {
        readAndShow<dataset::ListTable>(document);
    } else {
        readAndShow<dataset::HistoryTable>(document);
    }
    return 0;
}
