// The fault script parser on arbitrary text, and the plan running what it accepted: a script is
// a file a user wrote, so no text may crash it, and a message may only show the text escaped.
//
// Input: the script; its bytes also serve as the commands of the frames the plan then takes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fiscalsim/fault_plan.h"
#include "fiscalsim/fault_script.h"

namespace {

using namespace fiscalsim;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  std::string error;
  const auto rules = ParseFaultScript(text, "fuzz", &error);
  if (!rules) {
    Require(error.rfind("fuzz:", 0) == 0);
    for (const char c : error) Require(c >= 0x20 && c < 0x7F);
    return 0;
  }
  size_t lines = 1;
  for (const char c : text) lines += c == '\n';
  for (const FaultRule &rule : *rules) {
    Require(rule.line >= 1 && rule.line <= lines);
    Require(rule.count >= 1 && rule.time.count() >= 0 && rule.time.count() <= 3'600'000);
  }
  FaultPlan plan;
  plan.SetRules(*rules);
  for (size_t i = 0; i < size && i < 64; ++i) {
    const FaultPlan::Action action = plan.Take(data[i] % 3 != 0, data[i]);
    Require(action.busySpan.count() == 0 || action.busyEvery.count() > 0);
  }
  return 0;
}
