// Builds without libusb (Windows, where none is packaged for the cross compiler): no
// notification manager; the kernel-mode driver is tried first as everywhere, and when its library
// is not there SelectDriver traces "Driver Init Failed" and serves COM ports only.
#include "api/module.h"
#include "drivers/com_port_driver.h"
#include "drivers/wdu_driver.h"

namespace vrn {

DriverFactory DefaultDriverFactory() {
  DriverFactory factory;
  factory.makeKernelMode = [](DevNotificationManager *manager,
                              const SerialIdentitySource &serialIdentity) -> std::unique_ptr<iCOMDriver> {
    return std::make_unique<cVRNWDUDriver>(manager, serialIdentity);
  };
  factory.makeComPortOnly = []() -> std::unique_ptr<iCOMDriver> { return std::make_unique<cComPortDriver>(); };
  return factory;
}

}  // namespace vrn
