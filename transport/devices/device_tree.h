// Lookups in the system's device tree and the restart of a device.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/device_info.h"

namespace vrn {

enum class InterfaceClass {
  ComPort,    // serial ports: the tty devices (Linux), COM-port interfaces (Windows)
  UsbDevice,  // USB devices as a whole: usb_device (Linux), USB-device interfaces (Windows)
};

// Fills `info` for the first present device of the class with these ids: ids, device instance,
// path, and its serial port with the serial flag when it has one. Returns the serial flag.
// `info` keeps what it had when nothing is found, except that the flag and port name are
// cleared.
bool FindDevice(InterfaceClass cls, int32_t vendorId, int32_t productId, DeviceInfo &info);

// Every present USB device, with its serial port when it has one.
std::vector<DeviceInfo> ListUsbDevices();

// Restarts the device. Linux: a USB port reset of its node, or when that is refused, switching
// the device's authorisation off and on again. Windows: removal of the node's subtree and its
// set-up again, or when that is refused, ejection of its parent and set-up. True when either
// worked.
bool RestartDeviceNode(uint32_t deviceInstance, const char *devicePath);

// Whether a path given with a removal or change names the stored device. On Linux both are
// whole sysfs paths; on Windows interface paths, compared without their interface class.
bool DevicePathsMatch(const char *stored, const char *given);

}  // namespace vrn
