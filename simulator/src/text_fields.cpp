#include "text_fields.h"

#include <cstdio>

namespace fiscalsim {

std::optional<unsigned> ParseDecimal(std::string_view text, unsigned max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::vector<std::string_view> SplitFields(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  for (;;) {
    const size_t at = text.find(separator);
    fields.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return fields;
    text.remove_prefix(at + 1);
  }
}

std::optional<int> ParseHundredths(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  const size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (dot != std::string_view::npos && fraction.empty()) return std::nullopt;
  if (fraction.size() > 2) return std::nullopt;
  const auto units = ParseDecimal(whole, 999999);
  if (!units) return std::nullopt;
  unsigned hundredths = 0;
  if (!fraction.empty()) {
    const auto digits = ParseDecimal(fraction, 99);
    if (!digits) return std::nullopt;
    hundredths = fraction.size() == 1 ? *digits * 10 : *digits;
  }
  const int value = static_cast<int>(*units * 100 + hundredths);
  return negative ? -value : value;
}

std::string FormatHundredths(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", value / 100, value % 100);
  return text;
}

}  // namespace fiscalsim
