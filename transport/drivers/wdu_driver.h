// The USB driver over the kernel-mode USB driver library (wdu_api.h), preferred by the driver
// selection when that library initialises. The library reports the fiscal device to attach and
// detach callbacks on its own thread; the driver keeps the handle it is given and moves the
// protocol's bytes over two fixed pipes. A USB serial device is taken through its serial port,
// as the libusb driver does, from the notification manager's callbacks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "devices/dev_notification_manager.h"
#include "devices/device_info.h"
#include "drivers/com_driver.h"
#include "drivers/device_identity.h"
#include "drivers/endpoint_choice.h"
#include "drivers/wdu_api.h"
#include "platform/mutex.h"
#include "protocol/vrn_protocol.h"

namespace vrn {

class cVRNWDUDriver;

// Lock order as the libusb driver's: the driver lock, then the record lock, then the transfer
// locks (read before write), then the slot lock. The library's attach and detach callbacks take
// the record lock (and, to close, the transfer locks); they are never waited for while it is
// held.
struct WduDeviceState {
  cVRNWDUDriver *driver = nullptr;  // the owner, for the callbacks

  platform::Mutex recordLock ACQUIRED_BEFORE(CRSComSupp::stateLock_);
  platform::Mutex readLock ACQUIRED_AFTER(recordLock);  // held across an IN transfer
  platform::Mutex writeLock ACQUIRED_AFTER(readLock);   // held across an OUT transfer

  std::atomic<bool> attached{false};  // the device is usable; written under recordLock
  // Set and cleared under recordLock; read without it by transfers, which hold their transfer
  // lock (a close takes both before it forgets the handle) and check attachCount.
  std::atomic<WduDevice *> handle{nullptr};
  // Advanced by every attach: a handle seen earlier may belong to another attachment now.
  std::atomic<uint32_t> attachCount{0};
  std::unique_ptr<cVRNProtocol> protocol GUARDED_BY(recordLock);
  int32_t vendorId GUARDED_BY(recordLock) = kDeviceVendorId;
  int32_t productId GUARDED_BY(recordLock) = kDeviceProductId;
  uint32_t deviceAddress GUARDED_BY(recordLock) = 0;
  uint32_t interfaceNumber GUARDED_BY(recordLock) = 0;
  uint32_t alternateSetting GUARDED_BY(recordLock) = 0;
  int inPacketSize GUARDED_BY(recordLock) = 32;
  int outPacketSize GUARDED_BY(recordLock) = kMaxOutPacketSize;  // never above it
  // Of a serial device.
  uint32_t deviceInstance GUARDED_BY(recordLock) = 0;
  char devicePath[128] GUARDED_BY(recordLock) = {};

  // Signalled under recordLock when a device attaches; Reset waits on it.
  platform::CondVar opened;

  // The handle each direction's transfer runs on now, so that Cancel can end it by resetting
  // its pipe without waiting for a transfer lock.
  platform::Mutex transferSlotLock ACQUIRED_AFTER(writeLock);
  WduDevice *inFlightIn GUARDED_BY(transferSlotLock) = nullptr;
  WduDevice *inFlightOut GUARDED_BY(transferSlotLock) = nullptr;
};

class cVRNWDUDriver final : public iCOMDriver {
 public:
  static constexpr const char *kKernelDriverName = "vdrvUSB";
  // The result traced when the kernel driver is not installed.
  static constexpr int kKernelDriverMissing = 0x20000007;
  static constexpr uint32_t kInitOptions = 1;
  static constexpr uint32_t kOutPipe = 0x03;
  static constexpr uint32_t kInPipe = 0x81;
  static constexpr uint32_t kTransferOptions = 0x100;
  static constexpr uint32_t kTransferTimeoutMs = 3000;

  // Neither the manager (may be null) nor the serial identity is owned; both outlive the driver.
  cVRNWDUDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity);
  ~cVRNWDUDriver() override;
  cVRNWDUDriver(const cVRNWDUDriver &) = delete;
  cVRNWDUDriver &operator=(const cVRNWDUDriver &) = delete;

  bool IsInitialised() override { return initialised_.load(); }
  bool IsAttached() override { return record_.attached.load(); }
  bool Open(const char *comPort) override;
  void Close() override;
  void Shutdown() override;
  int Write(const void *buffer, size_t length) override;
  int Read(void *buffer, size_t maximum) override;
  int LastWriteResult() override { return lastWriteResult_.load(); }
  int LastReadResult() override { return lastReadResult_.load(); }
  bool Reset(bool full) override;
  cVRNProtocol *Protocol() override;
  void Cancel() override;

  // The library's callbacks; user data: the WduDeviceState.
  static bool OnAttach(WduDevice *device, const WduDeviceInfo *info, void *userData);
  static void OnDetach(WduDevice *device, void *userData);
  static bool OnPowerChange(WduDevice *device, uint32_t powerState, void *userData);
  // The notification manager's callbacks, for serial devices; user data: the WduDeviceState.
  static bool OnArrival(const DeviceInfo &info, void *userData);
  static void OnRemoval(const char *devicePath, void *userData);
  static bool OnQuery(const char *devicePath, void *userData);

 private:
  bool Attach(WduDevice *device, const WduDeviceInfo &info) EXCLUDES(record_.recordLock);
  void Detach(WduDevice *device) EXCLUDES(record_.recordLock);
  bool Arrive(const DeviceInfo &info) EXCLUDES(record_.recordLock);
  void Remove(const char *devicePath) EXCLUDES(record_.recordLock);
  bool Query(const char *devicePath) EXCLUDES(record_.recordLock);

  void InitLocked() REQUIRES(driverLock_);
  // WDU_Init with the driver's tables; the library handle, null on failure, and the result.
  WduLibrary *StartLibrary(uint32_t &result) REQUIRES(driverLock_);
  void StopLibraryLocked() REQUIRES(driverLock_);

  void CloseDevice() EXCLUDES(record_.recordLock);
  void CloseDeviceLocked() REQUIRES(record_.recordLock) EXCLUDES(record_.readLock, record_.writeLock);
  // Marks the device closed and ends its users' waits; the handle to let go of, if any.
  WduDevice *DetachLocked() REQUIRES(record_.recordLock);
  // Hard resets, then the port cycle when they fail or `full` is set. True when the device is
  // usable again or will attach anew.
  bool ResetDeviceLocked(WduDevice *handle, bool full)
      REQUIRES(record_.recordLock, record_.readLock, record_.writeLock);
  void ResetPipes(WduDevice *handle);
  void CancelTransfers() EXCLUDES(record_.transferSlotLock);
  // Takes a transfer lock, ending the transfer that holds it until it is free; false when it
  // stayed taken for `limitMs` or the driver was cancelled.
  bool TakeTransferLock(platform::Mutex &lock, uint32_t limitMs) TRY_ACQUIRE(true, lock);

  struct Endpoint {
    WduDevice *handle = nullptr;
    uint32_t attachCount = 0;
    int packetSize = 0;
  };
  Endpoint Snapshot(bool in) EXCLUDES(record_.recordLock);
  bool StillAttached(const Endpoint &endpoint);
  uint32_t TransferIn(const Endpoint &endpoint, void *data, uint32_t length, uint32_t &moved)
      REQUIRES(record_.readLock) {
    return Transfer(endpoint, true, data, length, moved);
  }
  uint32_t TransferOut(const Endpoint &endpoint, void *data, uint32_t length, uint32_t &moved)
      REQUIRES(record_.writeLock) {
    return Transfer(endpoint, false, data, length, moved);
  }
  uint32_t Transfer(const Endpoint &endpoint, bool in, void *data, uint32_t length, uint32_t &moved)
      EXCLUDES(record_.transferSlotLock);

  std::atomic<int> lastWriteResult_{-1};
  std::atomic<int> lastReadResult_{-1};
  // Set and cleared under driverLock_.
  std::atomic<WduLibrary *> library_{nullptr};
  std::atomic<bool> initialised_{false};
  WduDeviceState record_;
  // Set by Cancel (and Shutdown) for good: transfers, retries and recoveries end at once.
  std::atomic<bool> cancelled_{false};
  // The record's protocol for Cancel, which must not wait for the record lock.
  std::atomic<cVRNProtocol *> protocolView_{nullptr};
  platform::Mutex driverLock_ ACQUIRED_AFTER(cVRNProtocol::requestLock_) ACQUIRED_BEFORE(WduDeviceState::recordLock);
  WduMatch match_ GUARDED_BY(driverLock_);
  WduEventTable events_ GUARDED_BY(driverLock_);
  DevNotificationManager *const manager_;  // not owned
  const SerialIdentitySource &serialIdentity_;
};

}  // namespace vrn
