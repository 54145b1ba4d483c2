// What the USB drivers share, whatever library reaches the device: the device record and its
// locks, Write and Read with their retries, closing, the frame of a reset, Shutdown and the
// bookkeeping of arrivals and removals. A driver is the back end: it supplies the library's
// calls (open, transfer, clear halt or reset pipe, reset, cycle) through the functions marked
// below, and keeps its library's own state next to the record.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "devices/dev_notification_manager.h"
#include "devices/device_info.h"
#include "drivers/com_driver.h"
#include "drivers/device_identity.h"
#include "drivers/endpoint_choice.h"
#include "platform/mutex.h"
#include "protocol/vrn_protocol.h"

namespace vrn {

class cUSBDriver;

// Lock order: the driver lock, then the record lock, then the transfer locks (read before
// write), then the slot lock (the whole order is written at cVRNProtocol::requestLock_). The
// notification manager holds no lock while it calls a driver's callbacks. A library that
// reports devices to callbacks of its own takes the record lock there (and, to close, the
// transfer locks); such a callback is never waited for while the record lock is held.
struct UsbDeviceState {
  cUSBDriver *driver = nullptr;  // the owner, for the callbacks

  platform::Mutex recordLock ACQUIRED_BEFORE(CRSComSupp::stateLock_);
  platform::Mutex readLock ACQUIRED_AFTER(recordLock);  // held across an IN transfer
  platform::Mutex writeLock ACQUIRED_AFTER(readLock);   // held across an OUT transfer

  std::atomic<bool> attached{false};  // the device is usable; written under recordLock
  // The library's handle of the open device. Set and cleared under recordLock; read without it
  // by the transfers, which hold their transfer lock: a close takes both transfer locks before
  // it lets go of the handle.
  std::atomic<void *> handle{nullptr};
  // Advanced by every open: a handle seen earlier may be another one now.
  std::atomic<uint32_t> openCount{0};
  std::unique_ptr<cVRNProtocol> protocol GUARDED_BY(recordLock);
  int32_t vendorId GUARDED_BY(recordLock) = kDeviceVendorId;
  int32_t productId GUARDED_BY(recordLock) = kDeviceProductId;
  uint32_t deviceInstance GUARDED_BY(recordLock) = 0;
  char devicePath[128] GUARDED_BY(recordLock) = {};
  uint8_t inEndpoint GUARDED_BY(recordLock) = 0;
  uint8_t outEndpoint GUARDED_BY(recordLock) = 0;
  bool inInterrupt GUARDED_BY(recordLock) = false;  // an interrupt endpoint (bulk otherwise)
  bool outInterrupt GUARDED_BY(recordLock) = false;
  int inPacketSize GUARDED_BY(recordLock) = 32;
  int outPacketSize GUARDED_BY(recordLock) = kMaxOutPacketSize;  // never above it

  // Signalled under recordLock when a handle is opened; Reset waits on it.
  platform::CondVar opened;

  // Guards what a driver keeps of the transfer in flight in each direction, so that a close,
  // a reset or Cancel can end it instead of waiting out its time-out.
  platform::Mutex transferSlotLock ACQUIRED_AFTER(writeLock);
};

class cUSBDriver : public iCOMDriver {
 public:
  static constexpr unsigned kTransferTimeoutMs = 3000;

  cUSBDriver(const cUSBDriver &) = delete;
  cUSBDriver &operator=(const cUSBDriver &) = delete;

  bool IsInitialised() override { return initialised_.load(); }
  // An atomic rather than the record lock: the receive thread asks while a request may hold
  // the protocol's request lock, and an arrival holds the record lock while it starts the
  // protocol.
  bool IsAttached() override { return record_.attached.load(); }
  void Close() override;
  void Shutdown() override;
  int Write(const void *buffer, size_t length) override;
  int Read(void *buffer, size_t maximum) override;
  int LastWriteResult() override { return lastWriteResult_.load(); }
  int LastReadResult() override { return lastReadResult_.load(); }
  bool Reset(bool full) override;
  cVRNProtocol *Protocol() override;
  void Cancel() override;

  // The callbacks installed into the notification manager; user data: the UsbDeviceState.
  static bool OnArrival(const DeviceInfo &info, void *userData);
  static void OnRemoval(const char *devicePath, void *userData);
  static bool OnQuery(const char *devicePath, void *userData);

 protected:
  static constexpr uint32_t kCloseLockLimitMs = 1500;
  static constexpr int kAttempts = 3;
  static constexpr uint32_t kAttemptPauseMs = 100;

  // Neither the manager nor the serial identity is owned; both outlive the driver.
  cUSBDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity);
  ~cUSBDriver() override = default;

  // The open device as a transfer sees it, taken under the record lock before a transfer lock
  // (the lock order); checked again under the transfer lock with StillOpen.
  struct Endpoint {
    void *handle = nullptr;
    uint32_t openCount = 0;
    uint8_t address = 0;
    bool interrupt = false;
    int packetSize = 0;
  };

  // The back end. Results are the library's own, 0 being success.
  // One transfer that CancelTransfers can end; the bytes moved in `moved`, never more than
  // `length`. Runs under the direction's transfer lock.
  virtual int Transfer(const Endpoint &endpoint, bool in, void *data, size_t length, size_t &moved)
      EXCLUDES(record_.transferSlotLock) = 0;
  // A failed read that is no fault of the endpoint (nothing came, a close or reset ended it).
  virtual bool ReadEndedQuietly(int result) = 0;
  // Clears a halt of the endpoint (or resets its pipe) before a transfer is tried again.
  virtual void ClearHalt(const Endpoint &endpoint, bool in) = 0;
  // Ends the transfers in flight.
  virtual void CancelTransfers() EXCLUDES(record_.transferSlotLock) = 0;
  // Clears both endpoints of a handle that is being closed or reset.
  virtual void ClearHaltsLocked(void *handle) REQUIRES(record_.recordLock) = 0;
  // Lets go of the handle with no transfer running on it.
  virtual void ReleaseHandleLocked(void *handle) REQUIRES(record_.recordLock, record_.readLock, record_.writeLock) = 0;
  // Forgets a handle that a transfer still runs on, so that none starts on it again.
  virtual void AbandonHandleLocked() REQUIRES(record_.recordLock) = 0;
  // The phases of a device reset, the driver lock held, with no COM port in use.
  virtual bool ResetDeviceLocked(bool full) REQUIRES(driverLock_) = 0;
  // Ends the library; no callback of it runs afterwards.
  virtual void EndLibraryLocked() REQUIRES(driverLock_) = 0;
  virtual bool Arrive(const DeviceInfo &info) EXCLUDES(record_.recordLock) = 0;
  virtual void Remove(const char *devicePath) EXCLUDES(record_.recordLock) = 0;

  // For the back ends.
  // The record's protocol, made on first use; null while not initialised.
  cVRNProtocol *MakeProtocol() EXCLUDES(driverLock_, record_.recordLock);
  bool Query(const char *devicePath) EXCLUDES(record_.recordLock);
  void CloseDevice() EXCLUDES(record_.recordLock);
  void CloseDeviceLocked() REQUIRES(record_.recordLock) EXCLUDES(record_.readLock, record_.writeLock);
  // The close of a reset, which holds the transfer locks already.
  void CloseDeviceHoldingTransfersLocked() REQUIRES(record_.recordLock, record_.readLock, record_.writeLock);
  // Marks the device closed and ends its users' waits; the handle that is to be let go of, if any.
  void *DetachLocked() REQUIRES(record_.recordLock);
  // Takes a transfer lock, cancelling the transfer that holds it until it is free; false when
  // it stayed taken for `limitMs` or the driver was cancelled.
  bool TakeTransferLock(platform::Mutex &lock, uint32_t limitMs) TRY_ACQUIRE(true, lock);
  // Runs `step` up to kAttempts times, pausing between, until it succeeds or the driver is
  // cancelled.
  bool Attempt(const std::function<bool()> &step);
  // Waits, for at most the reattach limit, until a device is open again while `comesBack`
  // holds. In short slices, so that a Cancel, which cannot take the record lock to notify, is
  // seen.
  void WaitForReattachLocked(const std::function<bool()> &comesBack) REQUIRES(record_.recordLock);

  std::atomic<int> lastWriteResult_{-1};
  std::atomic<int> lastReadResult_{-1};
  UsbDeviceState record_;
  std::atomic<bool> initialised_{false};
  // Set by Cancel (and Shutdown) for good: transfers, retries and recoveries end at once.
  std::atomic<bool> cancelled_{false};
  // The record's protocol, for Cancel, which must not wait for the record lock: set by Open and
  // cleared by Shutdown, the only two that change the record's pointer.
  std::atomic<cVRNProtocol *> protocolView_{nullptr};
  // The driver's setup, teardown and recovery.
  platform::Mutex driverLock_ ACQUIRED_AFTER(cVRNProtocol::requestLock_) ACQUIRED_BEFORE(UsbDeviceState::recordLock);
  DevNotificationManager *const manager_;  // not owned
  const SerialIdentitySource &serialIdentity_;

 private:
  Endpoint Snapshot(bool in) EXCLUDES(record_.recordLock);
  bool StillOpen(const Endpoint &endpoint);
  int TransferIn(const Endpoint &endpoint, void *data, size_t length, size_t &moved) REQUIRES(record_.readLock) {
    return Transfer(endpoint, true, data, length, moved);
  }
  int TransferOut(const Endpoint &endpoint, void *data, size_t length, size_t &moved) REQUIRES(record_.writeLock) {
    return Transfer(endpoint, false, data, length, moved);
  }
};

}  // namespace vrn
