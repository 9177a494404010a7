// zebd's request-field parsing: the split at "|" and its join, the month
// text and the calendar day of the queries. Split and join give the text
// back; a month or day that is accepted is what its text says.

#include "server/RequestFields.h"
#include "tests/fuzz/FuzzSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace vek;

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "zebd_request_fields: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(fuzz::asText(data, size));
    const auto fields = server::splitFields(text);
    check(!fields.empty(), "no field at all");
    check(server::joinFields(fields, 0, fields.size()) == text, "join does not give the text back");
    for (std::size_t first = 0; first <= fields.size() && first < 4; ++first) {
        const std::string tail = server::joinFields(fields, first, fields.size() + 3);
        check(server::splitFields(tail).size() == (first < fields.size() ? fields.size() - first : 1),
              "a joined tail splits into other fields");
    }

    for (const auto& field : fields) {
        if (server::isMonthText(field)) {
            const int month = (field[0] - '0') * 10 + (field[1] - '0');
            check(field.size() == 7 && field[2] == '/' && month >= 1 && month <= 12, "a wrong month accepted");
        }
        if (const auto iso = server::isoDayOf(field)) {
            check(iso->size() == 10 && iso->substr(0, 4) == field.substr(6, 4) &&
                      iso->substr(5, 2) == field.substr(3, 2) && iso->substr(8, 2) == field.substr(0, 2),
                  "a day read as another");
            const std::chrono::year_month_day day{
                std::chrono::year(std::stoi(field.substr(6, 4))),
                std::chrono::month(static_cast<unsigned>(std::stoi(field.substr(3, 2)))),
                std::chrono::day(static_cast<unsigned>(std::stoi(field.substr(0, 2))))};
            check(day.ok(), "an impossible day accepted");
        }
    }
    return 0;
}
