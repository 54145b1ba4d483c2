#include "devices/device_rules.h"

#include <cctype>
#include <cstddef>

namespace vrn {
namespace {

constexpr size_t kClassIdLength = 38;  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
constexpr size_t kMinCompared = 8;
constexpr size_t kMaxPath = 128;
constexpr size_t kMaxPortName = 63;

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

size_t FindNoCase(std::string_view hay, std::string_view needle) {
  if (needle.size() > hay.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && Lower(hay[i + k]) == Lower(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

// The hexadecimal number right after the tag, or -1 when there is no tag or no digit.
int32_t HexAfter(std::string_view name, std::string_view tag) {
  const size_t at = FindNoCase(name, tag);
  if (at == std::string_view::npos) return -1;
  int64_t value = 0;
  size_t digits = 0;
  for (size_t i = at + tag.size(); i < name.size() && std::isxdigit(static_cast<unsigned char>(name[i])) != 0; ++i) {
    const char c = Lower(name[i]);
    value = value * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
    if (value > 0xFFFF) return -1;  // not a USB id; never an overflow
    ++digits;
  }
  return digits == 0 ? -1 : static_cast<int32_t>(value);
}

}  // namespace

bool ParseInterfaceIds(std::string_view name, int32_t &vendorId, int32_t &productId) {
  const int32_t vid = HexAfter(name, "vid_");
  const int32_t pid = HexAfter(name, "pid_");
  if (vid < 0 || pid < 0) return false;
  vendorId = vid;
  productId = pid;
  return true;
}

std::string PortNameFromValue(std::string_view value, bool &isComPort) {
  std::string upper;
  upper.reserve(value.size());
  for (char c : value) upper.push_back(Upper(c));
  isComPort = false;
  for (size_t at = upper.find("COM"); at != std::string::npos; at = upper.find("COM", at + 1)) {
    size_t end = at + 3;
    while (end < upper.size() && std::isdigit(static_cast<unsigned char>(upper[end])) != 0) ++end;
    if (end > at + 3) {
      isComPort = true;
      return upper.substr(at, std::min(end - at, kMaxPortName));
    }
  }
  return upper.substr(0, kMaxPortName);
}

bool InterfacePathsMatch(std::string_view stored, std::string_view given) {
  if (given.size() > kMaxPath) given = given.substr(0, kMaxPath);
  if (given.size() < kClassIdLength + kMinCompared) return false;
  const size_t compared = given.size() - kClassIdLength;
  if (stored.size() < compared) return false;
  for (size_t i = 0; i < compared; ++i) {
    if (Lower(stored[i]) != Lower(given[i])) return false;
  }
  return true;
}

}  // namespace vrn
