// The USB driver over the kernel-mode USB driver library (wdu_api.h), preferred by the driver
// selection when that library initialises. The library reports the fiscal device to attach and
// detach callbacks on its own thread; the driver keeps the handle it is given and moves the
// protocol's bytes over two fixed pipes. A USB serial device is taken through its serial port,
// as the libusb driver does, from the notification manager's callbacks. The kernel-mode
// library's back end of cUSBDriver.
#pragma once

#include <atomic>
#include <cstdint>

#include "drivers/usb_driver.h"
#include "drivers/wdu_api.h"

namespace vrn {

class cVRNWDUDriver final : public cUSBDriver {
 public:
  static constexpr const char *kKernelDriverName = "vdrvUSB";
  // The result traced when the kernel driver is not installed.
  static constexpr int kKernelDriverMissing = 0x20000007;
  static constexpr uint32_t kInitOptions = 1;
  static constexpr uint32_t kOutPipe = 0x03;
  static constexpr uint32_t kInPipe = 0x81;
  static constexpr uint32_t kTransferOptions = 0x100;

  // Neither the manager (may be null) nor the serial identity is owned; both outlive the driver.
  cVRNWDUDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity);
  ~cVRNWDUDriver() override;
  cVRNWDUDriver(const cVRNWDUDriver &) = delete;
  cVRNWDUDriver &operator=(const cVRNWDUDriver &) = delete;

  bool Open(const char *comPort) override;

  // The library's callbacks; user data: the UsbDeviceState.
  static bool OnAttach(WduDevice *device, const WduDeviceInfo *info, void *userData);
  static void OnDetach(WduDevice *device, void *userData);
  static bool OnPowerChange(WduDevice *device, uint32_t powerState, void *userData);

 private:
  bool Attach(WduDevice *device, const WduDeviceInfo &info) EXCLUDES(record_.recordLock);
  void Detach(WduDevice *device) EXCLUDES(record_.recordLock);
  bool Arrive(const DeviceInfo &info) override EXCLUDES(record_.recordLock);
  void Remove(const char *devicePath) override EXCLUDES(record_.recordLock);

  void InitLocked() REQUIRES(driverLock_);
  // WDU_Init with the driver's tables; the library handle, null on failure, and the result.
  WduLibrary *StartLibrary(uint32_t &result) REQUIRES(driverLock_);

  // Hard resets, then the port cycle when they fail or `full` is set. True when the device is
  // usable again or will attach anew.
  bool ResetHandleLocked(WduDevice *handle, bool full)
      REQUIRES(record_.recordLock, record_.readLock, record_.writeLock);

  // The back end.
  int Transfer(const Endpoint &endpoint, bool in, void *data, size_t length, size_t &moved) override
      EXCLUDES(record_.transferSlotLock);
  bool ReadEndedQuietly(int result) override;
  void ClearHalt(const Endpoint &endpoint, bool in) override;
  void CancelTransfers() override EXCLUDES(record_.transferSlotLock);
  void ClearHaltsLocked(void *handle) override REQUIRES(record_.recordLock);
  void ReleaseHandleLocked(void *handle) override REQUIRES(record_.recordLock, record_.readLock, record_.writeLock);
  void AbandonHandleLocked() override REQUIRES(record_.recordLock);
  bool ResetDeviceLocked(bool full) override REQUIRES(driverLock_);
  void EndLibraryLocked() override REQUIRES(driverLock_);

  // Set and cleared under driverLock_.
  std::atomic<WduLibrary *> library_{nullptr};
  uint32_t deviceAddress_ GUARDED_BY(record_.recordLock) = 0;
  uint32_t interfaceNumber_ GUARDED_BY(record_.recordLock) = 0;
  uint32_t alternateSetting_ GUARDED_BY(record_.recordLock) = 0;
  // The handle each direction's transfer runs on now, so that Cancel can end it by resetting
  // its pipe without waiting for a transfer lock.
  WduDevice *inFlightIn_ GUARDED_BY(record_.transferSlotLock) = nullptr;
  WduDevice *inFlightOut_ GUARDED_BY(record_.transferSlotLock) = nullptr;
  WduMatch match_ GUARDED_BY(driverLock_);
  WduEventTable events_ GUARDED_BY(driverLock_);
};

}  // namespace vrn
