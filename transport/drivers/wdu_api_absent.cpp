// The kernel-mode USB driver library where the platform has none: its kernel driver is not
// installed, so the driver selection falls back to libusb (or, without it, to COM ports). The
// other functions are never reached through a failed selection; they fail all the same.
#include "drivers/wdu_api.h"

namespace {

// Any non-zero result; the driver never looks past "not success" here.
constexpr uint32_t kNotAvailable = 1;

}  // namespace

extern "C" {

bool WD_DriverName(const char *) { return false; }

uint32_t WDU_Init(WduLibrary **library, const WduMatch *, uint32_t, const WduEventTable *, uint32_t) {
  if (library != nullptr) *library = nullptr;
  return kNotAvailable;
}

void WDU_Uninit(WduLibrary *) {}

uint32_t WDU_Transfer(WduDevice *, uint32_t, bool, uint32_t, void *, uint32_t, uint32_t *moved, const uint8_t *,
                      uint32_t) {
  if (moved != nullptr) *moved = 0;
  return kNotAvailable;
}

uint32_t WDU_ResetPipe(WduDevice *, uint32_t) { return kNotAvailable; }

uint32_t WDU_ResetDevice(WduDevice *, uint32_t) { return kNotAvailable; }

uint32_t WDU_SetInterface(WduDevice *, uint32_t, uint32_t) { return kNotAvailable; }

uint32_t WDU_GetDeviceAddr(WduDevice *, uint32_t *address) {
  if (address != nullptr) *address = 0;
  return kNotAvailable;
}

}  // extern "C"
