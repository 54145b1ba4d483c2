#include "device_port.h"

#include <charconv>

namespace hub {

bool StatusRefused(std::string_view status) {
  if (status.size() < 2) return false;
  unsigned byte0 = 0;
  const auto [end, error] = std::from_chars(status.data(), status.data() + 2, byte0, 16);
  if (error != std::errc() || end != status.data() + 2) return false;
  // 0x20: general error, which the device sets with either of the others; 0x02: unknown
  // command; 0x01: syntax error.
  return (byte0 & 0x23) != 0;
}

Effect EffectOf(const CallResult &result) {
  switch (result.code) {
    case kSuccess:
      return StatusRefused(result.status) ? Effect::Refused : Effect::Executed;
    case kNotConnected:
    case kBadParameter:
      return Effect::NotSent;
    default:
      return Effect::Unknown;
  }
}

const char *EffectName(Effect effect) {
  switch (effect) {
    case Effect::Executed:
      return "executed";
    case Effect::Refused:
      return "refused";
    case Effect::NotSent:
      return "not-sent";
    case Effect::Unknown:
      return "unknown";
  }
  return "unknown";
}

}  // namespace hub
