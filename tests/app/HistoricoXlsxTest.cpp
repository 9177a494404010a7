#include "app/HistoricoXlsx.h"

#include "dataset/HistoryTable.h"
#include "platform/Error.h"
#include "tests/fixtures/Sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace vek::app {
namespace {

// Debian's own interpreter: the one that has python3-openpyxl.
constexpr const char* Python = "/usr/bin/python3";

std::string run(const std::string& command, int& status)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        status = -1;
        return out;
    }
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    status = pclose(p);
    return out;
}

// Prints every non-empty cell as "ref|type|python type|value", then the fonts and what the widths are like.
constexpr const char* Dump = R"(import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
print("sheets", wb.sheetnames)
ws = wb["Historico"]
for row in ws.iter_rows():
    for c in row:
        if c.value is None:
            continue
        v = c.value
        if c.is_date:
            v = "%s.%03d %s" % (v.strftime("%Y-%m-%d %H:%M:%S"), round(v.microsecond / 1000), c.number_format)
        print("%s|%s|%s|%s" % (c.coordinate, c.data_type, type(c.value).__name__, repr(v)))
print("font", ws["A1"].font.name, ws["A1"].font.sz, ws["B2"].font.name, ws["B2"].font.sz)
widths = [ws.column_dimensions[k].width for k in "ABCDEFG"]
print("widths fit the headers", all(w >= len(ws[k + "1"].value) for w, k in zip(widths, "ABCDEFG")),
      "and the dates", widths[0] >= 19, "and stay narrow", max(widths) <= 61)
)";

TEST(HistoricoXlsx, WorkbookReadsBackWithSheetHeaderAndTypedCells)
{
    int status = 0;
    run(std::string(Python) + " -c 'import openpyxl' 2>/dev/null", status);
    if (status != 0) {
        GTEST_SKIP() << Python << " has no openpyxl";
    }
    test::Sandbox box;
    const auto script = box.write("dump.py", Dump);
    dataset::HistoryTable table;
    table.load(VEK_TEST_DATA_DIR "/dataset/historico.xml");
    const auto workbook = box.path() / "historico.xlsx";
    box.write("historico.xlsx", "an older file that gets replaced");
    writeHistoryWorkbook(table, workbook);

    const std::string out = run(std::string(Python) + " " + script.string() + " " + workbook.string(), status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out,
              "sheets ['Historico']\n"
              "A1|s|str|'Transmissão'\n"
              "B1|s|str|'Arquivo'\n"
              "C1|s|str|'Tipo do Arquivo'\n"
              "D1|s|str|'Protocolo'\n"
              "E1|s|str|'Status'\n"
              "F1|s|str|'Avisos'\n"
              "G1|s|str|'Erros'\n"
              "A2|d|datetime|'2026-12-09 14:05:09.000 dd/mm/yyyy hh:mm:ss'\n"
              "B2|s|str|'remessa.xml'\n"
              "C2|s|str|'XML'\n"
              "D2|s|str|'2026000001'\n"
              "E2|s|str|'Processado com sucesso'\n"
              "F2|n|int|0\n"
              "G2|n|int|0\n"
              "B3|s|str|'=SOMA(A1:A2)'\n"
              "C3|s|str|'TXT'\n"
              "D3|s|str|'2026000002'\n"
              "E3|s|str|'Rejeitado:\\nlinha 3 inválida'\n"
              "F3|n|float|2.5\n"
              "G3|n|int|17\n"
              "A4|d|datetime|'2026-01-02 03:04:05.006 dd/mm/yyyy hh:mm:ss'\n"
              "font MS Sans Serif 8.0 MS Sans Serif 8.0\n"
              "widths fit the headers True and the dates True and stay narrow True\n");
}

TEST(HistoricoXlsx, FailureNamesThePathAndLeavesNothingBehind)
{
    test::Sandbox box;
    dataset::HistoryTable table;
    table.load(VEK_TEST_DATA_DIR "/dataset/historico.xml");
    struct Case
    {
        const char* name;
        std::filesystem::path path;
        int code;
    };
    std::filesystem::create_directory(box.path() / "pasta");
    const std::array cases{
        Case{"missing directory", box.path() / "nao-existe" / "h.xlsx", ENOENT},
        Case{"a directory in the way", box.path() / "pasta", EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            writeHistoryWorkbook(table, c.path);
            ADD_FAILURE() << "written";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), c.code);
            EXPECT_NE(std::string(e.what()).find("\"" + c.path.string() + "\""), std::string::npos) << e.what();
        }
    }
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(box.path())) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"pasta"});
}

}  // namespace
}  // namespace vek::app
