#include "app/HistoricoXlsx.h"

#include "dataset/HistoryTable.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Win1252.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <locale.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>
#include <vector>

namespace vek::app {
namespace {

// The spreadsheet's limit of characters in one cell.
constexpr std::size_t CellTextLimit = 32767;
constexpr double MinColumnWidth = 8;
constexpr double MaxColumnWidth = 60;

struct WorkbookFree
{
    void operator()(lxw_workbook* wb) const { lxw_workbook_free(wb); }
};

std::string cellText(const std::string& text)
{
    if (platform::utf8Length(text) <= CellTextLimit) {
        return text;
    }
    return platform::utf8Left(text, CellTextLimit - 3) + "...";
}

lxw_format* cellFormat(lxw_workbook* wb, const char* numberFormat)
{
    lxw_format* f = workbook_add_format(wb);
    format_set_font_name(f, "MS Sans Serif");
    format_set_font_size(f, 8);
    if (numberFormat != nullptr) {
        format_set_num_format(f, numberFormat);
    }
    return f;
}

// A temporary file beside the destination, removed unless it was renamed.
class TemporaryFile
{
public:
    explicit TemporaryFile(const std::filesystem::path& destination)
    {
        const std::filesystem::path dir = destination.has_parent_path() ? destination.parent_path() : ".";
        name_ = (dir / ("." + destination.filename().string() + ".XXXXXX")).string();
        platform::File file;
        if (!file.createTemporary(name_)) {
            const int code = errno;
            throw Error("Não foi possível criar a planilha \"" + destination.string() + "\".", code);
        }
        // mkstemp leaves the file private; give it the permissions of a new file.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(file.fd(), 0666 & ~mask);
    }
    ~TemporaryFile()
    {
        if (!name_.empty()) {
            std::remove(name_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    [[nodiscard]] const std::string& name() const { return name_; }
    void renameTo(const std::filesystem::path& destination)
    {
        if (std::rename(name_.c_str(), destination.c_str()) != 0) {
            const int code = errno;
            throw Error("Não foi possível gravar a planilha \"" + destination.string() + "\".", code);
        }
        name_.clear();
    }

private:
    std::string name_;
};

// The library writes numbers (dates, widths) with the C library's number
// formatting, which follows the program's locale; a decimal comma there
// ("45432,5") makes a workbook that no spreadsheet reads. This thread writes
// them in the C locale's form while the object lives (the texts it writes
// are UTF-8 bytes already and need nothing from the locale).
class ClassicNumbers
{
public:
    ClassicNumbers()
    {
        // The whole C locale, which the C library hands out without looking
        // for locale files (a lookup through LOCPATH leaks in glibc).
        locale_ = newlocale(LC_ALL_MASK, "C", nullptr);
        if (locale_ == nullptr) {
            throw Error("Não foi possível preparar a gravação da planilha.", errno);
        }
        previous_ = uselocale(locale_);
    }
    ~ClassicNumbers()
    {
        uselocale(previous_);
        freelocale(locale_);
    }
    ClassicNumbers(const ClassicNumbers&) = delete;
    ClassicNumbers& operator=(const ClassicNumbers&) = delete;

private:
    locale_t locale_ = nullptr;
    locale_t previous_ = nullptr;
};

void check(lxw_error rc, const std::filesystem::path& path)
{
    if (rc != LXW_NO_ERROR) {
        throw Error("Não foi possível gravar a planilha \"" + path.string() + "\": " + lxw_strerror(rc) + ".");
    }
}

}  // namespace

void writeHistoryWorkbook(const dataset::HistoryTable& table, const std::filesystem::path& path)
{
    // Written beside the destination and renamed over it when complete, so a
    // failure leaves no half-written spreadsheet, and an unwritable place is
    // found before the library tries it.
    TemporaryFile file(path);
    const ClassicNumbers numbers;
    std::unique_ptr<lxw_workbook, WorkbookFree> wb(workbook_new(file.name().c_str()));
    if (!wb) {
        throw Error("Não foi possível criar a planilha \"" + path.string() + "\".", errno);
    }
    lxw_worksheet* ws = workbook_add_worksheet(wb.get(), "Historico");
    lxw_format* text = cellFormat(wb.get(), nullptr);
    lxw_format* number = cellFormat(wb.get(), nullptr);
    lxw_format* date = cellFormat(wb.get(), "dd/mm/yyyy hh:mm:ss");
    if (ws == nullptr || text == nullptr || number == nullptr || date == nullptr) {
        throw Error("Não foi possível criar a planilha \"" + path.string() + "\".");
    }

    std::vector<const dataset::FieldDef*> columns;
    for (const auto& f : table.fields()) {
        if (f.visible && !f.computed) {
            columns.push_back(&f);
        }
    }
    std::vector<std::size_t> widths(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const auto col = static_cast<lxw_col_t>(c);
        check(worksheet_write_string(ws, 0, col, columns[c]->label.c_str(), text), path);
        widths[c] = platform::utf8Length(columns[c]->label);
    }
    for (std::size_t r = 0; r < table.recordCount(); ++r) {
        const auto row = static_cast<lxw_row_t>(r + 1);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const auto col = static_cast<lxw_col_t>(c);
            const dataset::Value v = table.value(r, columns[c]->name);
            std::size_t shown = 0;
            if (const auto* s = std::get_if<std::string>(&v)) {
                const std::string t = cellText(*s);
                check(worksheet_write_string(ws, row, col, t.c_str(), text), path);
                shown = platform::utf8Length(t);
            } else if (const auto* d = std::get_if<dataset::Decimal>(&v)) {
                check(worksheet_write_number(ws, row, col, d->toDouble(), number), path);
                shown = d->toString().size();
            } else if (const auto* t = std::get_if<dataset::Timestamp>(&v)) {
                lxw_datetime when{t->year, t->month, t->day, t->hour, t->minute, t->second + t->millisecond / 1000.0};
                check(worksheet_write_datetime(ws, row, col, &when, date), path);
                shown = 19;
            } else {
                check(worksheet_write_blank(ws, row, col, text), path);
            }
            widths[c] = std::max(widths[c], shown);
        }
    }
    // Wide enough for the longest value, within limits that keep long texts
    // (protocols, status messages) from pushing the other columns away.
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const double w = std::clamp(static_cast<double>(widths[c]) + 2, MinColumnWidth, MaxColumnWidth);
        check(worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), w, nullptr), path);
    }

    errno = 0;
    const lxw_error rc = workbook_close(wb.release());
    if (rc != LXW_NO_ERROR) {
        throw Error("Não foi possível gravar a planilha \"" + path.string() + "\": " + lxw_strerror(rc) + ".", errno);
    }
    file.renameTo(path);
}

}  // namespace vek::app
