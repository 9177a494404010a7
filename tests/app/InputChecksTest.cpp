#include "app/InputChecks.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vek::app {
namespace {

TEST(InputChecks, MonthFiltersOfTheReceivePage)
{
    struct Case
    {
        const char* competencia;
        const char* disponibilizacao;
        InputField refused;  // None: accepted
    };
    using enum InputField;
    // clang-format off
    const std::array cases{
        Case{"  /    ", "  /    ", None},     // the empty mask: no filter
        Case{"", "", None},                   // an option left out on the command line
        Case{"03/2006", "  /    ", None},
        Case{"  /    ", "12/2026", None},
        Case{"01/2006", "03/2006", None},     // both together: the page does not enforce the "ou"
        Case{" 3/2006", "3 /2006", None},     // a one-digit month in either half of the mask
        Case{"\t03/2006\r\n", " \t/ ", None},  // control characters trimmed like blanks, as on every field
        Case{"13/2006", "  /    ", txtMesAnoComp},
        Case{"00/2006", "  /    ", txtMesAnoComp},
        Case{"03/06  ", "  /    ", txtMesAnoComp},   // a year of two digits
        Case{"03/0000", "  /    ", txtMesAnoComp},
        Case{"  /2006", "  /    ", txtMesAnoComp},
        Case{"03/    ", "  /    ", txtMesAnoComp},
        Case{"03-2006", "  /    ", txtMesAnoComp},
        Case{"ab/2006", "  /    ", txtMesAnoComp},
        Case{"03/2006/1", "  /    ", txtMesAnoComp},
        Case{"  /    ", "13/2006", txtMesAnoDisp},
        Case{"  /    ", "1/20066", txtMesAnoDisp},
        Case{"99/9999", "99/9999", txtMesAnoComp},   // the competence is checked first
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("[") + c.competencia + "] [" + c.disponibilizacao + "]");
        const InputCheck r = checkMonthFilters(c.competencia, c.disponibilizacao);
        EXPECT_EQ(r.focus, c.refused);
        if (c.refused == None) {
            EXPECT_TRUE(r.ok());
            EXPECT_EQ(exitCode(r), 0);
            EXPECT_EQ(cliLine(r), "");
        } else {
            EXPECT_EQ(r.kind, InputCheckKind::Error);
            EXPECT_EQ(exitCode(r), 2);
            const char* text = c.refused == txtMesAnoComp
                                   ? "Mês/Ano de competência inválido. Utilize o formato MM/AAAA"
                                   : "Mês/Ano de disponibilização inválido. Utilize o formato MM/AAAA";
            EXPECT_EQ(r.text, text);
            EXPECT_EQ(cliLine(r), std::string("Erro: ") + text);
        }
    }
}

TEST(InputChecks, PeriodOfTheHistoryPage)
{
    const CalendarDate hoje{2026, 12, 9};
    const std::string inicioInvalido = "Data inicial do período inválida. \rUtilize o formato dd/mm/aaaa, e uma data "
                                       "não superior ao dia de hoje 09/12/2026";
    const std::string fimInvalido = "Data final do período inválida. \rUtilize o formato dd/mm/aaaa, e uma data não "
                                    "superior ao dia de hoje 09/12/2026";
    const std::string antes = "A data final deve ser maior ou igual a data inicial.";
    const std::string longo = "O intervalo do período da consulta deve ter no máximo 180 dias.";
    struct Case
    {
        const char* inicio;
        const char* fim;
        InputCheckKind kind;
        std::string text;
        InputField focus = InputField::None;
    };
    using enum InputCheckKind;
    using F = InputField;
    const std::array cases{
        Case{"01/01/2026", "30/06/2026", Ok, ""},  // 180 days in a common year
        Case{"01/01/2026", "01/07/2026", Warning, longo},
        Case{"01/01/2024", "29/06/2024", Ok, ""},  // 180 days across a 29 February
        Case{"01/01/2024", "30/06/2024", Warning, longo},
        Case{"01/12/2025", "30/05/2026", Ok, ""},  // across the year's end
        Case{"01/12/2025", "31/05/2026", Warning, longo},
        Case{"09/12/2026", "09/12/2026", Ok, ""},  // today, same day
        Case{"10/12/2026", "10/12/2026", Error, inicioInvalido, F::txtInicioConsultaHist},
        Case{"01/12/2026", "10/12/2026", Error, fimInvalido, F::txtFimConsultaHist},
        Case{"05/12/2026", "04/12/2026", Warning, antes},
        Case{"01/01/2026", "31/12/2025", Warning, antes},
        Case{"31/02/2026", "01/03/2026", Error, inicioInvalido, F::txtInicioConsultaHist},
        Case{"29/02/2024", "01/03/2024", Ok, ""},
        Case{"29/02/2023", "01/03/2023", Error, inicioInvalido, F::txtInicioConsultaHist},
        Case{"1/1/2026", "02/01/2026", Error, inicioInvalido, F::txtInicioConsultaHist},
        Case{"01/01/26", "02/01/2026", Error, inicioInvalido, F::txtInicioConsultaHist},
        Case{"  /  /    ", "02/01/2026", Error, inicioInvalido, F::txtInicioConsultaHist},
        Case{"01/01/2026", "", Error, fimInvalido, F::txtFimConsultaHist},
        Case{"01/01/2026", "02-01-2026", Error, fimInvalido, F::txtFimConsultaHist},
        Case{"00/01/2026", "xx", Error, inicioInvalido, F::txtInicioConsultaHist},  // the start first
        Case{"01/13/2026", "02/01/2026", Error, inicioInvalido, F::txtInicioConsultaHist},
        Case{"01/01/0000", "02/01/2026", Error, inicioInvalido, F::txtInicioConsultaHist},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.inicio) + " - " + c.fim);
        const InputCheck r = checkPeriod(c.inicio, c.fim, hoje);
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(r.focus, c.focus);
        EXPECT_EQ(exitCode(r), c.kind == Ok ? 0 : 2);
        EXPECT_EQ(cliLine(r), c.kind == Ok ? "" : (c.kind == Error ? "Erro: " : "VEK: ") + c.text);
    }
}

// The local date as date(1) sees it under the current TZ.
std::string dateCommandToday()
{
    FILE* p = popen("date +%d/%m/%Y", "r");
    if (p == nullptr) {
        return {};
    }
    char buf[32] = {};
    const bool read = std::fgets(buf, sizeof buf, p) != nullptr;
    pclose(p);
    std::string s = read ? buf : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) {
        s.pop_back();
    }
    return s;
}

class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* tz)
    {
        if (const char* old = std::getenv("TZ")) {
            previous_ = old;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (previous_) {
            setenv("TZ", previous_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

TEST(InputChecks, TodayIsTheLocalDateInEveryTimeZone)
{
    // Kiritimati and Pago Pago are 25 hours apart: on most hours of the day
    // they are on different dates, and neither is on UTC's date for long.
    for (const char* tz : {"Pacific/Kiritimati", "Pacific/Pago_Pago", "America/Sao_Paulo", "UTC"}) {
        SCOPED_TRACE(tz);
        ScopedTimeZone zone(tz);
        std::string expected;
        InputCheck sameDay;
        InputCheck tomorrow;
        CalendarDate now;
        // Around midnight the two clocks may read different days; try again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            expected = dateCommandToday();
            now = today();
            const auto parsed = parseDate(expected);
            ASSERT_TRUE(parsed.has_value()) << expected;
            CalendarDate next = *parsed;
            ++next.day;
            if (!parseDate(formatDate(next))) {
                next = {next.month == 12 ? next.year + 1 : next.year, next.month == 12 ? 1 : next.month + 1, 1};
            }
            sameDay = checkPeriod(expected, expected);
            tomorrow = checkPeriod(expected, formatDate(next));
            if (dateCommandToday() == expected) {
                break;
            }
        }
        EXPECT_EQ(formatDate(now), expected);
        EXPECT_TRUE(sameDay.ok()) << sameDay.text;
        EXPECT_EQ(tomorrow.kind, InputCheckKind::Error);
        EXPECT_EQ(tomorrow.text, std::string(MsgDataFinalInvalida) + expected);
    }
}

}  // namespace
}  // namespace vek::app
