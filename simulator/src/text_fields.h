// Small parsers for command data. Device data is strict: anything unexpected is a syntax error.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fiscalsim {

// Decimal digits only (no sign, no blanks), at most `max`.
std::optional<unsigned> ParseDecimal(std::string_view text, unsigned max);

// Every field, empty ones included.
std::vector<std::string_view> SplitFields(std::string_view text, char separator);

// A percentage with up to two decimals ("20", "9.5", "-1.00") in hundredths.
std::optional<int> ParseHundredths(std::string_view text);

// Non-negative hundredths as "%.2f" would print the percentage.
std::string FormatHundredths(int value);

}  // namespace fiscalsim
