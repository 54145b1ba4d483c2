#include "api/guard.h"

#include "platform/tick.h"

namespace vrn {

CGuard::CGuard(platform::Mutex &section) : section_(section) { section_.Lock(); }

CGuard::CGuard(platform::Mutex &section, platform::AdoptLock) : section_(section) {}

CGuard::~CGuard() { section_.Unlock(); }

// Tries every millisecond rather than one timed wait: the timed lock of the C++ runtime is a
// call the thread sanitizer does not see, and the wait is short and only taken on contention.
bool TryEnterFor(platform::Mutex &section, uint32_t timeoutMs, const std::function<bool()> &whileBusy) {
  const uint32_t start = platform::TickCount();
  while (!section.TryLock()) {
    if (whileBusy && !whileBusy()) return false;
    if (platform::TicksSince(start) >= timeoutMs) return false;
    platform::SleepMs(1);
  }
  return true;
}

}  // namespace vrn
