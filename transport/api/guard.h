// Scoped entry into a driver's lock: plainly (blocking), or with a time limit so that a
// transfer that hangs cannot block a device close for ever.
#pragma once

#include <cstdint>
#include <mutex>

namespace vrn {

class CGuard {
 public:
  explicit CGuard(std::recursive_timed_mutex &section);
  // Gives up after timeoutMs; IsLocked() tells whether the lock was entered.
  CGuard(std::recursive_timed_mutex &section, uint32_t timeoutMs);
  // Leaves the lock only if it was entered.
  virtual ~CGuard();
  CGuard(const CGuard &) = delete;
  CGuard &operator=(const CGuard &) = delete;

  bool IsLocked() const { return locked_ != 0; }

 private:
  int32_t locked_ = 0;
  uint32_t timeoutMs_ = 0;
  std::recursive_timed_mutex *section_;
};

}  // namespace vrn
