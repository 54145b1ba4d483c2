// The driver of a build without a USB library: no USB device is ever attached, but the
// protocol's COM port (a device presenting a serial port) carries requests as in any driver, so
// hosts that name their port in vrn_init are served.
#pragma once

#include <atomic>
#include <memory>

#include "drivers/com_driver.h"
#include "platform/mutex.h"
#include "protocol/vrn_protocol.h"

namespace vrn {

class cComPortDriver final : public iCOMDriver {
 public:
  cComPortDriver();
  ~cComPortDriver() override;

  bool IsInitialised() override { return initialised_.load(); }
  bool IsAttached() override { return false; }
  bool Open(const char *comPort) override;
  void Close() override {}
  void Shutdown() override;
  int Write(const void *, size_t) override { return -1; }
  int Read(void *, size_t) override { return 0; }
  int LastWriteResult() override { return -1; }
  int LastReadResult() override { return -1; }
  // Re-opens the COM port; without one there is nothing to recover.
  bool Reset(bool full) override;
  cVRNProtocol *Protocol() override;
  void Cancel() override;

 private:
  std::atomic<bool> initialised_{true};
  // The driver lock: a request calls Reset, and so Protocol, under the protocol's request lock.
  platform::Mutex lock_ ACQUIRED_AFTER(cVRNProtocol::requestLock_);
  std::unique_ptr<cVRNProtocol> protocol_ GUARDED_BY(lock_);
};

}  // namespace vrn
