#include "api/module.h"

#include "platform/trace.h"

namespace vrn {

CDllApp &CDllApp::Instance() {
  static CDllApp app;
  return app;
}

CDllApp::CDllApp() : factory_(DefaultDriverFactory()) { InitInstance(); }

CDllApp::~CDllApp() {
  if (processEnding_.load()) {
    // Left to the system, the drivers included: deleting them would join threads.
    (void)kernelDriver_.release();
    (void)libusbDriver_.release();
    (void)comPortDriver_.release();
    return;
  }
  try {
    ExitInstance();
  } catch (...) {  // nothing may escape while the library unloads
  }
}

int CDllApp::ExitInstance() {
  Dispose();
  return 0;
}

void CDllApp::InstallDriverFactory(DriverFactory factory) {
  platform::WriterLock exclusive(lifeLock_);
  DisposeLocked();
  factory_ = std::move(factory);
}

bool CDllApp::Init(const char *comPort) {
  platform::WriterLock exclusive(lifeLock_);
  if (Closing() || !SelectDriverLocked()) return false;
  ChosenLocked()->Open(comPort);  // whether a device is there is vrn_test_connection's to say
  return true;
}

void CDllApp::Dispose() {
  // Stop new calls, end the one in flight, then tear down: a request kept alive by a device
  // that sends busy bytes must not keep the disposal waiting.
  struct Gate {
    explicit Gate(std::atomic<int> &count) : count_(count) { count_.fetch_add(1); }
    ~Gate() { count_.fetch_sub(1); }
    std::atomic<int> &count_;
  } closing(closing_);
  {
    platform::ReaderLock shared(lifeLock_);
    if (iCOMDriver *driver = ChosenLocked()) driver->Cancel();
  }
  platform::WriterLock exclusive(lifeLock_);
  DisposeLocked();
}

void CDllApp::DisposeLocked() {
  kernelDriver_.reset();
  libusbDriver_.reset();
  comPortDriver_.reset();
  if (manager_ != nullptr) {
    if (factory_.releaseManager) factory_.releaseManager(manager_);
    manager_ = nullptr;
  }
}

iCOMDriver *CDllApp::ChosenLocked() const {
  if (kernelDriver_ != nullptr) return kernelDriver_.get();
  if (libusbDriver_ != nullptr) return libusbDriver_.get();
  return comPortDriver_.get();
}

bool CDllApp::SelectDriverLocked() {
  if (manager_ == nullptr && factory_.getManager) manager_ = factory_.getManager();

  if (kernelDriver_ != nullptr) {
    platform::Trace("Kernel Mode Init Ok");
    return true;
  }
  // Once a driver exists no other is tried: two drivers would both claim the device.
  if (libusbDriver_ != nullptr || comPortDriver_ != nullptr) return true;
  if (factory_.makeKernelMode) {
    std::unique_ptr<iCOMDriver> driver = factory_.makeKernelMode(manager_, serialIdentity_);
    if (driver != nullptr && driver->IsInitialised()) {
      kernelDriver_ = std::move(driver);
      platform::Trace("Kernel Mode Init Ok");
      return true;
    }
  }
  if (factory_.makeLibusb) {
    std::unique_ptr<iCOMDriver> driver = factory_.makeLibusb(manager_, serialIdentity_);
    if (driver != nullptr && driver->IsInitialised()) {
      libusbDriver_ = std::move(driver);
      platform::Trace("Winusb Mode Init Ok");
    }
  }
  if (ChosenLocked() != nullptr) return true;
  platform::Trace("Driver Init Failed");
  // Without a USB driver a host that names its COM port must still be served.
  if (factory_.makeComPortOnly) {
    std::unique_ptr<iCOMDriver> driver = factory_.makeComPortOnly();
    if (driver != nullptr && driver->IsInitialised()) {
      comPortDriver_ = std::move(driver);
      platform::Trace("COM Port Mode Init Ok");
      return true;
    }
  }
  return false;
}

void CDllApp::SetSerialIdentity(int32_t vendorId, int32_t productId) { serialIdentity_.Set(vendorId, productId); }

SerialIdentity CDllApp::GetSerialIdentity() const { return serialIdentity_.Get(); }

DevNotificationManager *CDllApp::NotificationManager() {
  platform::ReaderLock shared(lifeLock_);
  return manager_;
}

}  // namespace vrn
