// Money and numbers in the data of sale, payment and programming commands. Like the rest of
// the device's parsing these are strict: a field either is a number or the command is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fiscalsim {

// A decimal number with an optional sign and up to `decimals` decimals, nothing else.
std::optional<double> ParseNumber(std::string_view text, int decimals = 3);
// A number of currency units with up to two decimals, in hundredths.
std::optional<int64_t> ParseCents(std::string_view text);
// An optionally signed integer.
std::optional<int64_t> ParseInteger(std::string_view text);

// "<number>[*quantity][,percent][@price]" of article and department sales.
struct ItemSale {
  int64_t number = 0;
  double quantity = 1;
  double percent = 0;
  std::optional<int64_t> priceCents;
};
// Nothing when any field is malformed, the quantity is not positive or the number negative.
std::optional<ItemSale> ParseItemSale(std::string_view data);

// Hundredths as "%.2f" prints the amount, sign included.
std::string FormatCents(int64_t cents);

}  // namespace fiscalsim
