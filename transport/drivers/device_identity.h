// Which USB devices the drivers take: the fiscal device by its own ids, and a USB serial device
// (one with a COM port) whose ids the host named with vrn_set_serial_id.
#pragma once

#include <cstdint>

#include "platform/mutex.h"

namespace vrn {

// The fiscal device's own USB ids.
inline constexpr int32_t kDeviceVendorId = 0x0483;
inline constexpr int32_t kDeviceProductId = 0x5740;

struct SerialIdentity {
  int32_t vendorId = -1;  // -1: no serial device
  int32_t productId = -1;

  bool Matches(int32_t vendor, int32_t product) const {
    return vendorId != -1 && productId != -1 && vendorId == vendor && productId == product;
  }
};

// The serial identity as the module keeps it and the drivers read it, from any thread. The two
// ids change together.
class SerialIdentitySource {
 public:
  void Set(int32_t vendorId, int32_t productId) EXCLUDES(lock_) {
    platform::MutexLock lock(lock_);
    identity_ = {vendorId, productId};
  }
  SerialIdentity Get() const EXCLUDES(lock_) {
    platform::MutexLock lock(lock_);
    return identity_;
  }

 private:
  // Taken under any lock of the library and takes none.
  mutable platform::Mutex lock_;
  SerialIdentity identity_ GUARDED_BY(lock_);
};

}  // namespace vrn
