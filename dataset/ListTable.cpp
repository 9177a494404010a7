#include "dataset/ListTable.h"

#include "platform/Error.h"
#include "platform/Win1252.h"

#include <array>
#include <limits>
#include <ostream>

namespace vek::dataset {
namespace {

FieldDef stored(std::string_view name, FieldType type, int size, bool required, int displayWidth)
{
    return {.name = std::string(name),
            .type = type,
            .size = size,
            .required = required,
            .label = std::string(name),
            .displayWidth = displayWidth};
}

constexpr std::array Columns{
    field::NM_ARQUIVO,
    field::DE_CONTEUDO_ARQUIVO,
    field::TAMANHO,
    field::MEDIDA,
    field::ULT_DOWNLOAD,
    field::DT_CADASTRO,
    field::ID_ARQUIVO_DISPONIVEL,
    field::CD_CHAVE_CRIPTOGRAFIA,
    field::DE_PATH_ARQUIVO,
    field::CD_TIPO_ARQUIVO,
    field::TAMANHOFTM,
};

constexpr int TamanhoFtmSize = 40;

}  // namespace

const std::vector<FieldDef>& ListTable::definition()
{
    // Display labels are the field names except ENVIADO's; the computed
    // fields' display widths are their types' defaults.
    static const std::vector<FieldDef> fields{
        stored(field::NM_ARQUIVO, FieldType::String, 200, true, 240),
        stored(field::DE_CONTEUDO_ARQUIVO, FieldType::String, 400, true, 480),
        stored(field::TAMANHO, FieldType::Decimal, 0, false, 12),
        stored(field::MEDIDA, FieldType::String, 30, false, 15),
        stored(field::ULT_DOWNLOAD, FieldType::Timestamp, 0, false, 41),
        stored(field::DT_CADASTRO, FieldType::Timestamp, 0, true, 41),
        stored(field::ID_ARQUIVO_DISPONIVEL, FieldType::Decimal, 0, true, 40),
        stored(field::CD_CHAVE_CRIPTOGRAFIA, FieldType::String, 64, false, 77),
        stored(field::DE_PATH_ARQUIVO, FieldType::String, 255, true, 306),
        stored(field::CD_TIPO_ARQUIVO, FieldType::String, 3, true, 20),
        {.name = std::string(field::TAMANHOFTM),
         .type = FieldType::String,
         .size = TamanhoFtmSize,
         .label = std::string(field::TAMANHOFTM),
         .displayWidth = TamanhoFtmSize,
         .computed = true},
        {.name = std::string(field::ENVIADO),
         .type = FieldType::Boolean,
         .label = "Enviado",
         .displayWidth = 5,
         .computed = true},
    };
    return fields;
}

ListTable::ListTable()
    : Table(definition())
{}

std::span<const std::string_view> ListTable::tsvColumns()
{
    return Columns;
}

void ListTable::writeTsv(std::ostream& out) const
{
    Table::writeTsv(out, tsvColumns());
}

Value ListTable::computedValue(std::size_t row, std::size_t index) const
{
    if (fields()[index].name == field::TAMANHOFTM) {
        const auto tamanho = asDecimal(row, field::TAMANHO).value_or(dataset::Decimal{});
        const std::string text = tamanho.roundedToInteger().toString() + " " + asText(row, field::MEDIDA) + "(s)";
        return platform::utf8Left(text, TamanhoFtmSize);
    }
    if (fields()[index].name == field::ENVIADO) {
        return downloaded_.contains(asText(row, field::ID_ARQUIVO_DISPONIVEL));
    }
    return {};
}

std::string ListTable::TAMANHOFTM(std::size_t row) const
{
    return asText(row, field::TAMANHOFTM);
}

bool ListTable::ENVIADO(std::size_t row) const
{
    return asBoolean(row, field::ENVIADO);
}

void ListTable::markDownloaded(std::size_t row)
{
    downloaded_.insert(asText(row, field::ID_ARQUIVO_DISPONIVEL));
}

std::optional<std::size_t> ListTable::findById(std::string_view id) const
{
    const auto wanted = dataset::Decimal::parse(id);
    if (!wanted) {
        return std::nullopt;
    }
    for (std::size_t row = 0; row < recordCount(); ++row) {
        if (asDecimal(row, field::ID_ARQUIVO_DISPONIVEL) == wanted) {
            return row;
        }
    }
    return std::nullopt;
}

std::int64_t ListTable::expectedSizeKb(std::size_t row) const
{
    const std::int64_t tamanho = asInteger(row, field::TAMANHO);
    if (platform::upperText(asText(row, field::MEDIDA)).find("MBYTE") == std::string::npos) {
        return tamanho;
    }
    constexpr std::int64_t Limit = std::numeric_limits<std::int64_t>::max() / 1024;
    if (tamanho > Limit || tamanho < -Limit) {
        throw Error("O tamanho " + asText(row, field::TAMANHO) + " " + asText(row, field::MEDIDA) +
                    " não cabe em um número inteiro de kilobytes.");
    }
    return tamanho * 1024;
}

}  // namespace vek::dataset
