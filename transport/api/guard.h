// Scoped entry into a driver's lock: plainly (blocking), or, through TryEnterFor, by trying
// every millisecond until a time limit, so that a transfer that hangs cannot block a device
// close for ever.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/mutex.h"

namespace vrn {

class SCOPED_CAPABILITY CGuard {
 public:
  explicit CGuard(platform::Mutex &section) ACQUIRE(section);
  // Takes over a lock that TryEnterFor entered.
  CGuard(platform::Mutex &section, platform::AdoptLock) REQUIRES(section);
  virtual ~CGuard() RELEASE();
  CGuard(const CGuard &) = delete;
  CGuard &operator=(const CGuard &) = delete;

 private:
  platform::Mutex &section_;
};

// Tries to enter the lock every millisecond until `timeoutMs` has passed. `whileBusy`, when
// given, runs after each try that found the lock taken (a driver cancels the transfer that
// holds it there) and gives up at once by returning false. True when the lock was entered.
bool TryEnterFor(platform::Mutex &section, uint32_t timeoutMs, const std::function<bool()> &whileBusy = {})
    TRY_ACQUIRE(true, section);

}  // namespace vrn
