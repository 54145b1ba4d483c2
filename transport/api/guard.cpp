#include "api/guard.h"

#include "platform/tick.h"

namespace vrn {

CGuard::CGuard(std::recursive_timed_mutex &section) : section_(&section) {
  section_->lock();
  locked_ = 1;
}

// Tries every millisecond rather than one timed wait: the timed lock of the C++ runtime is a
// call the thread sanitizer does not see, and the wait is short and only taken on contention.
CGuard::CGuard(std::recursive_timed_mutex &section, uint32_t timeoutMs) : timeoutMs_(timeoutMs), section_(&section) {
  const uint32_t start = platform::TickCount();
  for (;;) {
    if (section_->try_lock()) {
      locked_ = 1;
      return;
    }
    if (platform::TicksSince(start) >= timeoutMs_) return;
    platform::SleepMs(1);
  }
}

CGuard::~CGuard() {
  if (locked_ != 0) section_->unlock();
}

}  // namespace vrn
