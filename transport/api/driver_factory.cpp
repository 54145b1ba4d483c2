// Every platform makes the same choice: the kernel-mode driver where its library and kernel driver
// are installed, else libusb (a device bound to a USB driver libusb reaches, or one that presents a
// COM port), else the COM ports that a host names.
#include "api/module.h"
#include "devices/dev_notification_manager.h"
#include "drivers/com_port_driver.h"
#include "drivers/libusb_driver.h"
#include "drivers/wdu_driver.h"

namespace vrn {

DriverFactory DefaultDriverFactory() {
  DriverFactory factory;
  factory.getManager = [] { return DevNotificationManager::GetInstance(); };
  factory.releaseManager = [](DevNotificationManager *manager) { DevNotificationManager::Release(manager); };
  factory.makeKernelMode = [](DevNotificationManager *manager,
                              const SerialIdentitySource &serialIdentity) -> std::unique_ptr<iCOMDriver> {
    return std::make_unique<cVRNWDUDriver>(manager, serialIdentity);
  };
  factory.makeLibusb = [](DevNotificationManager *manager,
                          const SerialIdentitySource &serialIdentity) -> std::unique_ptr<iCOMDriver> {
    return std::make_unique<cLIBUSBDriver>(manager, serialIdentity);
  };
  factory.makeComPortOnly = []() -> std::unique_ptr<iCOMDriver> { return std::make_unique<cComPortDriver>(); };
  return factory;
}

}  // namespace vrn
