#include "app/InputChecks.h"

#include "app/Text.h"
#include "platform/Clock.h"

#include <cstdio>

namespace vek::app {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int number(std::string_view digits)
{
    int n = 0;
    for (const char c : digits) {
        n = n * 10 + (c - '0');
    }
    return n;
}

bool validDate(const CalendarDate& d)
{
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) {
        return false;
    }
    const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    return d.day <= (d.month == 2 && leap ? 29 : Days[d.month - 1]);
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
long daysFromCivil(const CalendarDate& d)
{
    const long y = d.year - (d.month <= 2 ? 1 : 0);
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long mp = (d.month + 9) % 12;
    const long doy = (153 * mp + 2) / 5 + d.day - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

CalendarDate today()
{
    const auto now = platform::localNow();
    return {now.year, now.month, now.day};
}

std::string formatDate(const CalendarDate& d)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day, d.month, d.year);
    return buf;
}

long daysBetween(const CalendarDate& a, const CalendarDate& b)
{
    return daysFromCivil(b) - daysFromCivil(a);
}

int exitCode(const InputCheck& check)
{
    return check.ok() ? 0 : 2;
}

std::string cliLine(const InputCheck& check)
{
    switch (check.kind) {
    case InputCheckKind::Ok:
        break;
    case InputCheckKind::Error:
        return "Erro: " + check.text;
    case InputCheckKind::Warning:
        return "VEK: " + check.text;
    }
    return {};
}

bool validMonthField(std::string_view field)
{
    const std::string text = trimmed(field);
    if (text.empty() || text == "/") {
        return true;
    }
    const auto slash = text.find('/');
    if (slash == std::string::npos) {
        return false;
    }
    const std::string month = trimmed(std::string_view(text).substr(0, slash));
    const std::string year = trimmed(std::string_view(text).substr(slash + 1));
    if (month.empty() || month.size() > 2 || year.size() != 4) {
        return false;
    }
    for (const char c : month) {
        if (!isDigit(c)) {
            return false;
        }
    }
    for (const char c : year) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return validDate({number(year), number(month), 1});
}

InputCheck checkMonthFilters(std::string_view competencia, std::string_view disponibilizacao)
{
    if (!validMonthField(competencia)) {
        return {InputCheckKind::Error, MsgCompetenciaInvalida, InputField::txtMesAnoComp};
    }
    if (!validMonthField(disponibilizacao)) {
        return {InputCheckKind::Error, MsgDisponibilizacaoInvalida, InputField::txtMesAnoDisp};
    }
    return {};
}

std::optional<CalendarDate> parseDate(std::string_view text)
{
    if (text.size() != 10 || text[2] != '/' || text[5] != '/') {
        return std::nullopt;
    }
    for (const std::size_t i : {0, 1, 3, 4, 6, 7, 8, 9}) {
        if (!isDigit(text[i])) {
            return std::nullopt;
        }
    }
    const CalendarDate d{number(text.substr(6, 4)), number(text.substr(3, 2)), number(text.substr(0, 2))};
    if (!validDate(d)) {
        return std::nullopt;
    }
    return d;
}

InputCheck checkPeriod(std::string_view inicio, std::string_view fim, const CalendarDate& hoje)
{
    // A date lies after the current moment only from the next day on, so
    // today is accepted at any hour.
    const auto start = parseDate(inicio);
    if (!start || *start > hoje) {
        return {InputCheckKind::Error, MsgDataInicialInvalida + formatDate(hoje), InputField::txtInicioConsultaHist};
    }
    const auto end = parseDate(fim);
    if (!end || *end > hoje) {
        return {InputCheckKind::Error, MsgDataFinalInvalida + formatDate(hoje), InputField::txtFimConsultaHist};
    }
    if (*end < *start) {
        return {InputCheckKind::Warning, MsgFimAntesDoInicio, InputField::None};
    }
    if (daysBetween(*start, *end) > MaxPeriodDays) {
        return {InputCheckKind::Warning, MsgPeriodoMaximo, InputField::None};
    }
    return {};
}

InputCheck checkPeriod(std::string_view inicio, std::string_view fim)
{
    return checkPeriod(inicio, fim, today());
}

}  // namespace vek::app
