#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vek::server {

// The fields of a request text joined by "|" (no escaping: n bars give n + 1
// fields).
std::vector<std::string> splitFields(const std::string& text);
// fields[first, end) joined by "|" again: a text field that itself held bars.
std::string joinFields(const std::vector<std::string>& fields, std::size_t first, std::size_t end);

// "MM/AAAA" with a month from 01 to 12.
bool isMonthText(const std::string& text);
// "dd/mm/yyyy" of a real calendar date as "yyyy-mm-dd"; nothing otherwise.
std::optional<std::string> isoDayOf(const std::string& text);

}  // namespace vek::server
