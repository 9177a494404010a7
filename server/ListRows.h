#pragma once

#include "dataset/FieldValue.h"
#include "server/Store.h"

#include <optional>
#include <string>
#include <vector>

namespace vek::server {

// Name under which the list query's DE_PATH_ARQUIVO names a stored file; the
// download request must repeat it.
std::string serverPathOf(const AvailableFile& file);

// The size as TAMANHO and MEDIDA show it: kilobytes below one megabyte,
// megabytes from there, rounded up to two decimals ("0.01" KBytes for one byte).
struct ListedSize
{
    std::string amount;
    std::string unit;
};
ListedSize listedSizeOf(std::int64_t bytes);

// A store time ("yyyy-mm-dd hh:nn:ss") as a dataset timestamp; nothing when
// empty or malformed.
std::optional<dataset::Timestamp> timestampOf(const std::string& storeTime);

// The rows of the list table (dataset::ListTable::definition()) and of the
// history table (dataset::HistoryTable::definition()). Texts longer than
// their fields are cut to fit.
std::vector<dataset::Row> listRows(const std::vector<AvailableFile>& files);
std::vector<dataset::Row> historyRows(const std::vector<UploadRecord>& uploads);

}  // namespace vek::server
