#pragma once

#include "dataset/FieldNames.h"
#include "dataset/Table.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

namespace vek::dataset {

// The list of files available for download (cdsListaArqReceber), with the
// run's downloaded-file list: the ID_ARQUIVO_DISPONIVEL texts of the files
// saved in this run. That list is never stored on disk and outlives every
// load, so a new list shows ENVIADO for a file saved from an earlier one.
class ListTable : public Table
{
public:
    ListTable();

    // All fields in order, the two computed ones last.
    static const std::vector<FieldDef>& definition();
    // The columns vek-cli listar prints: every field but ENVIADO.
    static std::span<const std::string_view> tsvColumns();
    void writeTsv(std::ostream& out) const;

    // "%d %s(s)" of TAMANHO rounded to a whole number (halves to even; 0
    // when null) and MEDIDA ("" when null), at most 40 characters.
    [[nodiscard]] std::string TAMANHOFTM(std::size_t row) const;
    // Whether the downloaded-file list holds the row's ID_ARQUIVO_DISPONIVEL text.
    [[nodiscard]] bool ENVIADO(std::size_t row) const;

    // Adds the row's ID_ARQUIVO_DISPONIVEL text to the downloaded-file list
    // (once); call after the file was saved.
    void markDownloaded(std::size_t row);
    [[nodiscard]] const std::set<std::string, std::less<>>& downloadedIds() const { return downloaded_; }

    // The first row whose ID_ARQUIVO_DISPONIVEL equals the number `id` ("42", "42.0").
    [[nodiscard]] std::optional<std::size_t> findById(std::string_view id) const;

    // The size a download expects, in kilobytes: TAMANHO as a whole number,
    // times 1024 when MEDIDA in upper case contains "MBYTE". Throws
    // vek::Error when it does not fit in 64 bits.
    [[nodiscard]] std::int64_t expectedSizeKb(std::size_t row) const;

protected:
    [[nodiscard]] Value computedValue(std::size_t row, std::size_t field) const override;

private:
    std::set<std::string, std::less<>> downloaded_;
};

}  // namespace vek::dataset
