#include "platform/serial_ports.h"

#include <cstddef>
#include <string_view>

namespace platform {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view DigitRun(const std::string &s, size_t &at) {
  const size_t from = at;
  while (at < s.size() && IsDigit(s[at])) ++at;
  std::string_view run(s.data() + from, at - from);
  while (run.size() > 1 && run.front() == '0') run.remove_prefix(1);
  return run;
}

}  // namespace

bool NaturalLess(const std::string &a, const std::string &b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      const std::string_view x = DigitRun(a, i);
      const std::string_view y = DigitRun(b, j);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  // Equal so far: the shorter first; names that differ only in leading zeros by their bytes.
  if (i == a.size() && j == b.size()) return a < b;
  return i == a.size();
}

}  // namespace platform
