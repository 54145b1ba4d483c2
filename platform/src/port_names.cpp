#include "platform/port_names.h"

namespace platform {

std::optional<unsigned> ComPortNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 12) return std::nullopt;
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M') return std::nullopt;
  if (name[3] == '0') return std::nullopt;
  unsigned long n = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n > 0xFFFFFFFFul) return std::nullopt;
  return static_cast<unsigned>(n);
}

}  // namespace platform
