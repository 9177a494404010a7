#pragma once

#include "dataset/FieldValue.h"

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vek::dataset {

// An in-memory, read-only table with fields declared in advance, loaded from
// a data packet file (see DataPacket.h). Rows are numbered from 0. Computed
// fields are worked out by the subclass every time they are read.
class Table
{
public:
    explicit Table(std::vector<FieldDef> fields);
    virtual ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    [[nodiscard]] const std::vector<FieldDef>& fields() const { return fields_; }
    // Throws vek::Error for a name the table does not declare.
    [[nodiscard]] std::size_t fieldIndex(std::string_view name) const;

    // Closes the table, reads the whole file and opens the table on its
    // records; the first becomes current. On any failure it throws vek::Error
    // and the table stays closed: nothing of an earlier file is shown.
    void load(const std::filesystem::path& path);
    // The same from a document in memory; sourceName goes into error texts.
    void loadDocument(std::string_view document, const std::string& sourceName);
    // Forgets the records.
    void close();

    // Whether a file has been loaded (an empty file too).
    [[nodiscard]] bool active() const { return active_; }
    [[nodiscard]] std::size_t recordCount() const { return rows_.size(); }
    [[nodiscard]] bool empty() const { return rows_.empty(); }

    // The current record; 0 for an empty table.
    [[nodiscard]] std::size_t current() const { return current_; }
    // Throws vek::Error for a row past the end.
    void setCurrent(std::size_t row);

    // Values; the row must exist and the field be declared (vek::Error otherwise).
    [[nodiscard]] Value value(std::size_t row, std::string_view field) const;
    [[nodiscard]] bool isNull(std::size_t row, std::string_view field) const;
    // Text of any value: tsvCell without the blank replacement ("" for null).
    [[nodiscard]] std::string asText(std::size_t row, std::string_view field) const;
    // A decimal rounded to the nearest whole number, halves to even; a text
    // that is a whole number; 0 for null. Other values throw vek::Error.
    [[nodiscard]] std::int64_t asInteger(std::size_t row, std::string_view field) const;
    // A boolean field; false for null. Other values throw vek::Error.
    [[nodiscard]] bool asBoolean(std::size_t row, std::string_view field) const;
    [[nodiscard]] std::optional<Decimal> asDecimal(std::size_t row, std::string_view field) const;
    [[nodiscard]] std::optional<Timestamp> asTimestamp(std::size_t row, std::string_view field) const;

    // One header line of the field names, then one line per record, cells
    // separated by tabs as tsvCell writes them, lines ended by "\n".
    void writeTsv(std::ostream& out, std::span<const std::string_view> columns) const;

protected:
    // The value of a computed field of an existing row.
    [[nodiscard]] virtual Value computedValue(std::size_t row, std::size_t field) const;

private:
    void checkRow(std::size_t row) const;

    std::vector<FieldDef> fields_;
    std::vector<Row> rows_;
    std::size_t current_ = 0;
    bool active_ = false;
};

}  // namespace vek::dataset
