// Builds without a device tree to look in (Windows, for now): no device is found, none can be
// restarted, and paths are matched by the rule of Windows interface paths.
#include "devices/device_rules.h"
#include "devices/device_tree.h"

namespace vrn {

bool FindDevice(InterfaceClass, int32_t, int32_t, DeviceInfo &info) {
  info.serial = 0;
  info.portName[0] = '\0';
  return false;
}

std::vector<DeviceInfo> ListUsbDevices() { return {}; }

bool RestartDeviceNode(uint32_t, const char *) { return false; }

bool DevicePathsMatch(const char *stored, const char *given) {
  if (stored == nullptr || given == nullptr || stored[0] == '\0') return false;
  return InterfacePathsMatch(stored, given);
}

}  // namespace vrn
