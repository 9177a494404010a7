#pragma once

#include <filesystem>

namespace vek::dataset {
class HistoryTable;
}

namespace vek::app {

// The history export: a workbook with one sheet "Historico"; row 1 holds
// the display labels of the visible fields in field order, then one row per
// record. Texts go in as texts (one past the spreadsheet's cell limit is cut
// and ends in "..."), decimals as numbers, timestamps as date-time values
// with a date format; a null leaves its cell empty. Replaces an existing
// file; throws vek::Error when the workbook cannot be written.
void writeHistoryWorkbook(const dataset::HistoryTable& table, const std::filesystem::path& path);

}  // namespace vek::app
