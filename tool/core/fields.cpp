#include "core/fields.h"

#include <charconv>
#include <cmath>

namespace tillwright {

std::vector<std::string> SplitFields(std::string_view text, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) fields.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

std::vector<std::string> SplitPieces(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    pieces.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return pieces;
    start = end + 1;
  }
}

std::vector<std::string> SplitFieldsInPlace(std::string_view text) {
  std::vector<std::string> fields = SplitPieces(text);
  if (fields.empty()) fields.emplace_back();
  for (std::string &field : fields)
    if (field == " ") field.clear();
  return fields;
}

namespace {

// The text after the blanks that C's conversions skip.
std::string_view SkipBlanks(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  return text.substr(at);
}

size_t Digits(std::string_view text, size_t at) {
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  return at;
}

}  // namespace

int64_t LeadingInteger(std::string_view text) {
  text = SkipBlanks(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  constexpr size_t kMaxDigits = 18;
  int64_t value = 0;
  for (size_t i = 0; i < text.size() && i < kMaxDigits && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

double LeadingNumber(std::string_view text) {
  text = SkipBlanks(text);
  size_t end = 0;
  if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
  const size_t mantissa = end;
  end = Digits(text, end);
  size_t digits = end - mantissa;
  if (end < text.size() && text[end] == '.') {
    const size_t fraction = end + 1;
    end = Digits(text, fraction);
    digits += end - fraction;
  }
  if (digits == 0) return 0;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    size_t exponent = end + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    const size_t exponentEnd = Digits(text, exponent);
    if (exponentEnd > exponent) end = exponentEnd;
  }
  // from_chars takes no '+'; the sign goes apart.
  std::string_view number = text.substr(0, end);
  const bool negative = number[0] == '-';
  if (number[0] == '+' || number[0] == '-') number.remove_prefix(1);
  double value = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) value = HUGE_VAL;
  return negative ? -value : value;
}

std::string HexBytes(const std::vector<uint8_t> &bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const uint8_t b : bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 0x0F]);
  }
  return hex;
}

}  // namespace tillwright
