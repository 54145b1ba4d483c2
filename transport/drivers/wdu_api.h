// The kernel-mode USB driver library as cVRNWDUDriver uses it: these functions and no more.
// The library reports the devices that match its table to attach and detach callbacks on a
// thread of its own and moves bytes over pipes of a device handle it owns.
//
// Where the platform has no such library the build links a stand-in that reports the kernel
// driver missing (wdu_api_absent.cpp); tests link a scripted double in its place.
#pragma once

#include <cstdint>

struct WduLibrary;  // one initialisation of the library
struct WduDevice;   // a device as the library hands it to the attach callback; owned by it

// Results: 0 is success, anything else a failure of the library. Two failures of a transfer
// are told apart: nothing came within the time-out, and a pipe reset ended it.
inline constexpr uint32_t kWduSuccess = 0;
inline constexpr uint32_t kWduTimedOut = 0x101;
inline constexpr uint32_t kWduAborted = 0x102;

// Which devices the library reports; a zero field matches anything.
struct WduMatch {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t deviceClass = 0;
  uint8_t interfaceClass = 0;
};

struct WduEndpoint {
  uint8_t address = 0;     // bit 7 set: IN
  uint8_t attributes = 0;  // bits 0..1: the transfer type
  uint16_t maxPacketSize = 0;
};

struct WduAltSetting {
  uint8_t interfaceNumber = 0;
  uint8_t alternateSetting = 0;
  uint32_t endpointCount = 0;
  const WduEndpoint *endpoints = nullptr;
};

struct WduInterface {
  uint32_t altSettingCount = 0;
  const WduAltSetting *altSettings = nullptr;
  const WduAltSetting *active = nullptr;  // one of altSettings, null without any
};

// Valid only during the attach callback.
struct WduDeviceInfo {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint32_t interfaceCount = 0;
  const WduInterface *interfaces = nullptr;
};

// The attach callback accepts the device by returning true; a refused device gets no more
// calls. The power callback's answer is whether the change may go ahead.
using WduAttachCallback = bool (*)(WduDevice *device, const WduDeviceInfo *info, void *userData);
using WduDetachCallback = void (*)(WduDevice *device, void *userData);
using WduPowerCallback = bool (*)(WduDevice *device, uint32_t powerState, void *userData);

struct WduEventTable {
  WduAttachCallback attach = nullptr;
  WduDetachCallback detach = nullptr;
  WduPowerCallback powerChange = nullptr;
  void *userData = nullptr;
};

// Options of WDU_ResetDevice.
inline constexpr uint32_t kWduResetHard = 1;
inline constexpr uint32_t kWduResetPortCycle = 2;

extern "C" {

// Selects the kernel driver by name; false when no kernel driver of that name is installed.
bool WD_DriverName(const char *name);
// Starts the library for devices that match one of `matches`; attaches of devices present now
// and later, and their detaches, come to `events` on the library's thread. `*library` is set on
// success.
uint32_t WDU_Init(WduLibrary **library, const WduMatch *matches, uint32_t matchCount, const WduEventTable *events,
                  uint32_t options);
// Ends the library: no callback runs once it returns, and its device handles are gone.
void WDU_Uninit(WduLibrary *library);
// One transfer on a pipe (endpoint address); `setup` is for control pipes only. `*moved` gets
// the bytes moved, also on failure.
uint32_t WDU_Transfer(WduDevice *device, uint32_t pipe, bool read, uint32_t options, void *buffer, uint32_t length,
                      uint32_t *moved, const uint8_t *setup, uint32_t timeoutMs);
// Clears the pipe's stall; a transfer waiting on the pipe ends with a failure.
uint32_t WDU_ResetPipe(WduDevice *device, uint32_t pipe);
uint32_t WDU_ResetDevice(WduDevice *device, uint32_t options);
uint32_t WDU_SetInterface(WduDevice *device, uint32_t interfaceNumber, uint32_t alternateSetting);
uint32_t WDU_GetDeviceAddr(WduDevice *device, uint32_t *address);

}  // extern "C"
