#pragma once

#include "dataset/FieldNames.h"
#include "dataset/Table.h"

#include <iosfwd>
#include <span>
#include <string_view>

namespace vek::dataset {

// The operator's transmission history (cdsHistoricoTransmissao).
class HistoryTable : public Table
{
public:
    HistoryTable();

    static const std::vector<FieldDef>& definition();
    // The visible fields in order (all but CD_OPERADORA): the grid's and the
    // spreadsheet's columns and what vek-cli historico prints.
    static std::span<const std::string_view> tsvColumns();
    void writeTsv(std::ostream& out) const;
};

}  // namespace vek::dataset
