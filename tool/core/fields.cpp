#include "core/fields.h"

#include <algorithm>

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

std::vector<std::string> SplitFieldsInPlace(std::string_view text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string_view piece = text.substr(start, end - start);
    fields.emplace_back(piece == " " ? std::string_view() : piece);
    if (end == text.size()) break;
    start = end + 1;
  }
  return fields;
}

}  // namespace tillwright
