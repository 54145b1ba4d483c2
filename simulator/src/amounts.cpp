#include "amounts.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace fiscalsim {

std::optional<double> ParseNumber(std::string_view text, int decimals) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
  const size_t dot = digits.find('.');
  const std::string_view whole = digits.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : digits.substr(dot + 1);
  if (whole.empty() || whole.size() > 12 || (dot != std::string_view::npos && fraction.empty()) ||
      fraction.size() > static_cast<size_t>(decimals)) {
    return std::nullopt;
  }
  for (std::string_view part : {whole, fraction}) {
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
    }
  }
  return std::strtod(std::string(text).c_str(), nullptr);
}

std::optional<int64_t> ParseCents(std::string_view text) {
  const auto value = ParseNumber(text, 2);
  if (!value) return std::nullopt;
  return std::llround(*value * 100);
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  const auto value = ParseNumber(text, 0);
  if (!value) return std::nullopt;
  return static_cast<int64_t>(*value);
}

std::string FormatCents(int64_t cents) {
  char text[32];
  const int64_t magnitude = cents < 0 ? -cents : cents;
  std::snprintf(text, sizeof text, "%s%lld.%02lld", cents < 0 ? "-" : "", static_cast<long long>(magnitude / 100),
                static_cast<long long>(magnitude % 100));
  return text;
}

std::optional<ItemSale> ParseItemSale(std::string_view data) {
  ItemSale sale;
  const size_t at = data.find('@');
  if (at != std::string_view::npos) {
    sale.priceCents = ParseCents(data.substr(at + 1));
    if (!sale.priceCents) return std::nullopt;
    data = data.substr(0, at);
  }
  const size_t comma = data.find(',');
  if (comma != std::string_view::npos) {
    const auto percent = ParseNumber(data.substr(comma + 1), 2);
    if (!percent) return std::nullopt;
    sale.percent = *percent;
    data = data.substr(0, comma);
  }
  const size_t star = data.find('*');
  if (star != std::string_view::npos) {
    const auto quantity = ParseNumber(data.substr(star + 1), 3);
    if (!quantity || *quantity <= 0) return std::nullopt;
    sale.quantity = *quantity;
    data = data.substr(0, star);
  }
  const auto number = ParseInteger(data);
  if (!number || *number < 0) return std::nullopt;
  sale.number = *number;
  return sale;
}

}  // namespace fiscalsim
