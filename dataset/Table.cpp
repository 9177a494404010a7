#include "dataset/Table.h"

#include "dataset/DataPacket.h"
#include "platform/Error.h"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <ostream>
#include <sstream>

namespace vek::dataset {

Table::Table(std::vector<FieldDef> fields)
    : fields_(std::move(fields))
{}

Table::~Table() = default;

std::size_t Table::fieldIndex(std::string_view name) const
{
    return dataset::fieldIndex(fields_, name);
}

void Table::load(const std::filesystem::path& path)
{
    // What the table held belongs to an earlier query: a file that cannot be
    // used leaves the table empty rather than showing that answer as this one.
    close();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    if (in) {
        bytes << in.rdbuf();
    }
    const int code = errno;
    if (!in) {
        throw Error("Não foi possível ler o arquivo \"" + path.string() + "\".", code);
    }
    loadDocument(bytes.str(), path.string());
}

void Table::loadDocument(std::string_view document, const std::string& sourceName)
{
    close();
    std::vector<Row> rows = readDataPacket(document, fields_, sourceName);
    rows_ = std::move(rows);
    current_ = 0;
    active_ = true;
}

void Table::close()
{
    rows_.clear();
    current_ = 0;
    active_ = false;
}

void Table::setCurrent(std::size_t row)
{
    checkRow(row);
    current_ = row;
}

void Table::checkRow(std::size_t row) const
{
    if (row >= rows_.size()) {
        throw Error("Registro " + std::to_string(row + 1) + " inexistente.");
    }
}

Value Table::value(std::size_t row, std::string_view field) const
{
    const std::size_t i = fieldIndex(field);
    checkRow(row);
    if (fields_[i].computed) {
        return computedValue(row, i);
    }
    return rows_[row][i];
}

Value Table::computedValue(std::size_t, std::size_t) const
{
    return {};
}

bool Table::isNull(std::size_t row, std::string_view field) const
{
    return dataset::isNull(value(row, field));
}

std::string Table::asText(std::size_t row, std::string_view field) const
{
    const Value v = value(row, field);
    if (const auto* s = std::get_if<std::string>(&v)) {
        return *s;
    }
    return tsvCell(v);
}

std::int64_t Table::asInteger(std::size_t row, std::string_view field) const
{
    const Value v = value(row, field);
    if (dataset::isNull(v)) {
        return 0;
    }
    if (const auto* d = std::get_if<Decimal>(&v)) {
        return d->toInt64();
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        std::int64_t n = 0;
        const auto [end, ec] = std::from_chars(s->data(), s->data() + s->size(), n);
        if (ec == std::errc{} && end == s->data() + s->size()) {
            return n;
        }
        throw Error("O valor \"" + *s + "\" do campo " + std::string(field) + " não é um número inteiro válido.");
    }
    throw Error("O campo " + std::string(field) + " não pode ser lido como número inteiro.");
}

bool Table::asBoolean(std::size_t row, std::string_view field) const
{
    const Value v = value(row, field);
    if (dataset::isNull(v)) {
        return false;
    }
    if (const auto* b = std::get_if<bool>(&v)) {
        return *b;
    }
    throw Error("O campo " + std::string(field) + " não pode ser lido como valor lógico.");
}

std::optional<Decimal> Table::asDecimal(std::size_t row, std::string_view field) const
{
    const Value v = value(row, field);
    if (const auto* d = std::get_if<Decimal>(&v)) {
        return *d;
    }
    if (dataset::isNull(v)) {
        return std::nullopt;
    }
    throw Error("O campo " + std::string(field) + " não é numérico.");
}

std::optional<Timestamp> Table::asTimestamp(std::size_t row, std::string_view field) const
{
    const Value v = value(row, field);
    if (const auto* t = std::get_if<Timestamp>(&v)) {
        return *t;
    }
    if (dataset::isNull(v)) {
        return std::nullopt;
    }
    throw Error("O campo " + std::string(field) + " não é data e hora.");
}

void Table::writeTsv(std::ostream& out, std::span<const std::string_view> columns) const
{
    std::vector<std::size_t> indices;
    std::string line;
    for (const auto name : columns) {
        if (!indices.empty()) {
            line += '\t';
        }
        indices.push_back(fieldIndex(name));
        line += name;
    }
    out << line << '\n';
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        line.clear();
        for (std::size_t k = 0; k < indices.size(); ++k) {
            if (k > 0) {
                line += '\t';
            }
            const std::size_t i = indices[k];
            line += tsvCell(fields_[i].computed ? computedValue(row, i) : rows_[row][i]);
        }
        out << line << '\n';
    }
}

}  // namespace vek::dataset
