#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vek::app {

// The checks the receive filter page and the history period page make before
// calling the channel, shared by the window and vek-cli.

struct CalendarDate
{
    int year = 0;
    int month = 0;
    int day = 0;

    auto operator<=>(const CalendarDate&) const = default;
};

// The local date now.
CalendarDate today();
// "dd/mm/yyyy"
std::string formatDate(const CalendarDate& d);
// Days from a to b (negative when b is earlier).
long daysBetween(const CalendarDate& a, const CalendarDate& b);

enum class InputCheckKind
{
    Ok,
    // A raised error: the window's standard error box; vek-cli prints "Erro: " + text.
    Error,
    // A message box with the warning icon; vek-cli prints "VEK: " + text.
    Warning,
};

// The field that gets the focus after a refusal.
enum class InputField
{
    None,
    txtMesAnoComp,
    txtMesAnoDisp,
    txtInicioConsultaHist,
    txtFimConsultaHist,
};

struct InputCheck
{
    InputCheckKind kind = InputCheckKind::Ok;
    std::string text;
    InputField focus = InputField::None;

    [[nodiscard]] bool ok() const { return kind == InputCheckKind::Ok; }
};

// vek-cli's exit code for a check: 0 when it passed, else 2 (input error).
int exitCode(const InputCheck& check);
// The line vek-cli writes to standard error, without the line feed: "Erro: "
// or "VEK: " followed by the text; empty when the check passed.
std::string cliLine(const InputCheck& check);

// A month field of the filter page ("MM/AAAA"): accepted when it is empty or
// only the mask's blanks and "/" (no filter), or a month 1 to 12 of one or two
// digits, "/" and a year of four digits, blanks of the mask around them
// allowed (" 3/2006").
bool validMonthField(std::string_view text);

// The filter page's Next button: the competence month, then the
// availability month, each refused with its own raised error.
InputCheck checkMonthFilters(std::string_view competencia, std::string_view disponibilizacao);

// "dd/mm/yyyy" with every digit (the period page's mask), a real date.
std::optional<CalendarDate> parseDate(std::string_view text);

// The period page's Next button: start and end must be dates not after
// today (raised errors that end in today's date), the end not before the
// start and at most 180 days after it (warning messages).
InputCheck checkPeriod(std::string_view inicio, std::string_view fim, const CalendarDate& hoje);
InputCheck checkPeriod(std::string_view inicio, std::string_view fim);

inline constexpr const char* MsgCompetenciaInvalida = "Mês/Ano de competência inválido. Utilize o formato MM/AAAA";
inline constexpr const char* MsgDisponibilizacaoInvalida =
    "Mês/Ano de disponibilização inválido. Utilize o formato MM/AAAA";
// Followed by today's date, "dd/mm/yyyy".
inline constexpr const char* MsgDataInicialInvalida =
    "Data inicial do período inválida. \rUtilize o formato dd/mm/aaaa, e uma data não superior ao dia de hoje ";
inline constexpr const char* MsgDataFinalInvalida =
    "Data final do período inválida. \rUtilize o formato dd/mm/aaaa, e uma data não superior ao dia de hoje ";
inline constexpr const char* MsgFimAntesDoInicio = "A data final deve ser maior ou igual a data inicial.";
inline constexpr const char* MsgPeriodoMaximo = "O intervalo do período da consulta deve ter no máximo 180 dias.";
inline constexpr long MaxPeriodDays = 180;

}  // namespace vek::app
