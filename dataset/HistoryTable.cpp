#include "dataset/HistoryTable.h"

#include <array>

namespace vek::dataset {
namespace {

constexpr std::array Columns{
    field::DT_TRANSMISSAO,
    field::NM_ARQUIVO,
    field::CD_TIPO_ARQUIVO,
    field::CD_PROTOCOLO,
    field::NM_STATUS_PROCESSAMENTO,
    field::QT_AVISOS,
    field::QT_ERROS,
};

FieldDef visible(std::string_view name, FieldType type, int size, const char* label, int displayWidth)
{
    return {.name = std::string(name), .type = type, .size = size, .label = label, .displayWidth = displayWidth};
}

// Display widths that are not fixed elsewhere are the length of the field's
// text: its size, 19 for "dd/mm/yyyy hh:nn:ss", 34 for a signed 32-digit decimal.
constexpr int TimestampWidth = 19;
constexpr int DecimalWidth = 34;

}  // namespace

const std::vector<FieldDef>& HistoryTable::definition()
{
    static const std::vector<FieldDef> fields{
        {.name = std::string(field::CD_OPERADORA),
         .type = FieldType::FixedString,
         .size = 6,
         .required = true,
         .label = "Operadora",
         .displayWidth = 6,
         .visible = false},
        visible(field::DT_TRANSMISSAO, FieldType::Timestamp, 0, "Transmissão", TimestampWidth),
        visible(field::NM_ARQUIVO, FieldType::String, 128, "Arquivo", 200),
        visible(field::CD_TIPO_ARQUIVO, FieldType::String, 3, "Tipo do Arquivo", 3),
        visible(field::CD_PROTOCOLO, FieldType::String, 4000, "Protocolo", 4000),
        visible(field::NM_STATUS_PROCESSAMENTO, FieldType::String, 4000, "Status", 4000),
        visible(field::QT_AVISOS, FieldType::Decimal, 0, "Avisos", DecimalWidth),
        visible(field::QT_ERROS, FieldType::Decimal, 0, "Erros", DecimalWidth),
    };
    return fields;
}

HistoryTable::HistoryTable()
    : Table(definition())
{}

std::span<const std::string_view> HistoryTable::tsvColumns()
{
    return Columns;
}

void HistoryTable::writeTsv(std::ostream& out) const
{
    Table::writeTsv(out, tsvColumns());
}

}  // namespace vek::dataset
