// Builds without a USB library (Windows, where none is packaged for the cross compiler): no
// notification manager and no USB driver, so SelectDriver traces "Driver Init Failed" and serves
// COM ports only.
#include "api/module.h"
#include "drivers/com_port_driver.h"

namespace vrn {

DriverFactory DefaultDriverFactory() {
  DriverFactory factory;
  factory.makeComPortOnly = []() -> std::unique_ptr<iCOMDriver> { return std::make_unique<cComPortDriver>(); };
  return factory;
}

}  // namespace vrn
