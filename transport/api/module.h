// The process-wide state behind the exports: the device-notification manager, the one USB
// driver chosen at first use, and the serial device identity.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "drivers/com_driver.h"
#include "drivers/device_identity.h"
#include "platform/mutex.h"
#include "protocol/vrn_protocol.h"

namespace vrn {

class DevNotificationManager;

// How SelectDriver gets the notification manager and makes its drivers. An empty entry means
// that piece is not available; a maker may hand back a driver that failed to initialise. The USB
// drivers get the module's serial identity, which outlives them.
struct DriverFactory {
  using MakeUsbDriver =
      std::function<std::unique_ptr<iCOMDriver>(DevNotificationManager *, const SerialIdentitySource &)>;

  std::function<DevNotificationManager *()> getManager;
  std::function<void(DevNotificationManager *)> releaseManager;
  MakeUsbDriver makeKernelMode;
  MakeUsbDriver makeLibusb;
  // The last resort when no USB driver could be made: a driver that serves COM ports only.
  std::function<std::unique_ptr<iCOMDriver>()> makeComPortOnly;
};

// The real pieces of this platform: the kernel-mode driver everywhere (its library reports the
// kernel driver missing where the platform has none); the notification manager and the libusb
// driver (over WinUSB on Windows); both fall back to the COM-port driver.
DriverFactory DefaultDriverFactory();

class CDllApp {
 public:
  static CDllApp &Instance();

  CDllApp();
  // Unloading the library does what vrn_dispose does, unless the process is ending.
  virtual ~CDllApp();
  CDllApp(const CDllApp &) = delete;
  CDllApp &operator=(const CDllApp &) = delete;

  // Linux has no hardware-exception translator to install: the exports catch every C++
  // exception instead.
  virtual bool InitInstance() { return true; }
  virtual int ExitInstance();

  // Replaces how drivers are made; what the module holds is disposed first. Internal: the
  // shared library does not export it.
  void InstallDriverFactory(DriverFactory factory) EXCLUDES(lifeLock_);

  // vrn_init: SelectDriver, then Open with the port on the chosen driver.
  bool Init(const char *comPort) EXCLUDES(lifeLock_);
  // vrn_dispose.
  void Dispose() EXCLUDES(lifeLock_);

  // Runs fn with the chosen driver, first choosing and opening one (with no COM port) when none
  // exists; fn gets null when there is none. The driver stays alive while fn runs.
  template <typename Fn>
  auto WithDriver(Fn &&fn) EXCLUDES(lifeLock_) {
    // A call that comes while vrn_dispose runs fails at once: it neither delays the disposal
    // nor reaches a driver that is going away.
    if (Closing()) return fn(nullptr);
    {
      platform::ReaderLock shared(lifeLock_);
      if (Closing()) return fn(nullptr);
      if (ChosenLocked() != nullptr) return fn(ChosenLocked());
    }
    {
      platform::WriterLock exclusive(lifeLock_);
      if (!Closing() && ChosenLocked() == nullptr && SelectDriverLocked()) ChosenLocked()->Open(nullptr);
    }
    platform::ReaderLock shared(lifeLock_);
    return fn(Closing() ? nullptr : ChosenLocked());
  }

  void SetSerialIdentity(int32_t vendorId, int32_t productId);
  SerialIdentity GetSerialIdentity() const;

  DevNotificationManager *NotificationManager() EXCLUDES(lifeLock_);

  // The process is ending without a vrn_dispose (Windows unloads the library after it has ended
  // every other thread): the teardown would join threads that are gone and wait for locks they
  // held, so the system is left to reclaim everything.
  static void ProcessEnding() { processEnding_.store(true); }

 private:
  static inline std::atomic<bool> processEnding_{false};
  bool Closing() const { return closing_.load() != 0; }
  bool SelectDriverLocked() REQUIRES(lifeLock_);
  iCOMDriver *ChosenLocked() const REQUIRES_SHARED(lifeLock_);
  void DisposeLocked() REQUIRES(lifeLock_);

  // Exclusive while drivers are made or deleted, shared while one is used: a request in flight
  // keeps its driver alive, and two first calls cannot both make a driver. The first lock of
  // the library's lock order (see cVRNProtocol::requestLock_).
  mutable platform::SharedMutex lifeLock_ ACQUIRED_BEFORE(cVRNProtocol::requestLock_);
  // Disposals under way. While one runs no call takes lifeLock_ anew, so the exclusive lock it
  // waits for cannot be kept from it by a stream of new requests.
  std::atomic<int> closing_{0};
  DriverFactory factory_ GUARDED_BY(lifeLock_);
  DevNotificationManager *manager_ GUARDED_BY(lifeLock_) = nullptr;
  std::unique_ptr<iCOMDriver> kernelDriver_ GUARDED_BY(lifeLock_);  // has precedence
  std::unique_ptr<iCOMDriver> libusbDriver_ GUARDED_BY(lifeLock_);
  std::unique_ptr<iCOMDriver> comPortDriver_ GUARDED_BY(lifeLock_);  // only without the others
  SerialIdentitySource serialIdentity_;
};

}  // namespace vrn
