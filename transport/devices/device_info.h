// The description of a present device that the notification manager hands to a driver's
// arrival callback and that the device lookups fill in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vrn {

struct DeviceInfo {
  int32_t vendorId = -1;  // -1: unknown
  int32_t productId = -1;
  // Linux: bus number << 8 | device number of the USB device. Windows: the device node.
  uint32_t deviceInstance = 0;
  // The device's serial port ("/dev/ttyACM0" on Linux, "COM7" on Windows); empty when it has
  // none.
  char portName[64] = {};
  // Linux: the sysfs path of the USB device. Windows: the interface path.
  char devicePath[128] = {};
  uint8_t serial = 0;  // 1: the device has a serial port
};

// Copies at most `maxChars` characters and always terminates.
template <size_t N>
void CopyText(char (&dst)[N], std::string_view src, size_t maxChars = N - 1) {
  size_t n = src.size();
  if (n > maxChars) n = maxChars;
  if (n > N - 1) n = N - 1;
  for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = '\0';
}

}  // namespace vrn
