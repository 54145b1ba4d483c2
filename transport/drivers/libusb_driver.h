// The USB driver over libusb: finds the fiscal device by its ids, claims the interface that has
// an IN and an OUT endpoint and moves the protocol's bytes over them. A USB serial device with
// the serial identity is taken through its serial port instead; then this driver only follows
// its arrival and removal. Arrivals and removals come from the notification manager.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "devices/dev_notification_manager.h"
#include "devices/device_info.h"
#include "drivers/com_driver.h"
#include "drivers/device_identity.h"
#include "drivers/endpoint_choice.h"
#include "platform/mutex.h"
#include "protocol/vrn_protocol.h"

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

namespace vrn {

class cLIBUSBDriver;

// Lock order: the driver lock, then the record lock, then the transfer locks (read before
// write), then the slot lock (the whole order is written at cVRNProtocol::requestLock_). The
// notification manager holds no lock while it calls the callbacks below.
struct UsbDeviceState {
  cLIBUSBDriver *driver = nullptr;  // the owner, for the callbacks

  platform::Mutex recordLock ACQUIRED_BEFORE(CRSComSupp::stateLock_);
  platform::Mutex readLock ACQUIRED_AFTER(recordLock);   // held across an IN transfer
  platform::Mutex writeLock ACQUIRED_AFTER(readLock);    // held across an OUT transfer

  std::atomic<bool> attached{false};  // a handle is open; written under recordLock
  // Read without recordLock by the transfers, which hold their transfer lock: closing takes
  // both transfer locks before it clears the handle.
  std::atomic<libusb_device_handle *> handle{nullptr};
  std::unique_ptr<cVRNProtocol> protocol GUARDED_BY(recordLock);
  int32_t vendorId GUARDED_BY(recordLock) = kDeviceVendorId;
  int32_t productId GUARDED_BY(recordLock) = kDeviceProductId;
  uint32_t deviceInstance GUARDED_BY(recordLock) = 0;
  char devicePath[128] GUARDED_BY(recordLock) = {};
  int configuration GUARDED_BY(recordLock) = 0;
  int interfaceNumber GUARDED_BY(recordLock) = 0;
  uint8_t inEndpoint GUARDED_BY(recordLock) = 0;
  uint8_t outEndpoint GUARDED_BY(recordLock) = 0;
  bool inInterrupt GUARDED_BY(recordLock) = false;  // an interrupt endpoint (bulk otherwise)
  bool outInterrupt GUARDED_BY(recordLock) = false;
  // Advanced by every open: a handle seen earlier may be another one now.
  std::atomic<uint32_t> openCount{0};
  int inPacketSize GUARDED_BY(recordLock) = 32;
  int outPacketSize GUARDED_BY(recordLock) = kMaxOutPacketSize;  // never above it

  // Signalled under recordLock when a handle is opened; Reset waits on it.
  platform::CondVar opened;

  // The transfer in flight in each direction, so that a close or a reset can cancel it instead
  // of waiting out its time-out.
  platform::Mutex transferSlotLock ACQUIRED_AFTER(writeLock);
  libusb_transfer *inFlightIn GUARDED_BY(transferSlotLock) = nullptr;
  libusb_transfer *inFlightOut GUARDED_BY(transferSlotLock) = nullptr;
};

class cLIBUSBDriver final : public iCOMDriver {
 public:
  static constexpr unsigned kTransferTimeoutMs = 3000;
  static constexpr int kMaxOutPiece = kMaxOutPacketSize;

  // Neither the manager nor the serial identity is owned; both outlive the driver.
  cLIBUSBDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity);
  ~cLIBUSBDriver() override;
  cLIBUSBDriver(const cLIBUSBDriver &) = delete;
  cLIBUSBDriver &operator=(const cLIBUSBDriver &) = delete;

  bool IsInitialised() override { return initialised_.load(); }
  bool IsAttached() override;
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

  // The callbacks installed into the notification manager; user data: the UsbDeviceState.
  static bool OnArrival(const DeviceInfo &info, void *userData);
  static void OnRemoval(const char *devicePath, void *userData);
  static bool OnQuery(const char *devicePath, void *userData);

 private:
  bool Arrive(const DeviceInfo &info) EXCLUDES(record_.recordLock);
  void Remove(const char *devicePath) EXCLUDES(record_.recordLock);
  bool Query(const char *devicePath) EXCLUDES(record_.recordLock);

  bool Init() EXCLUDES(driverLock_);
  bool InitLocked() REQUIRES(driverLock_);
  bool OpenDeviceLocked(int32_t vendorId, int32_t productId) REQUIRES(record_.recordLock);
  void CloseDevice() EXCLUDES(record_.recordLock);
  void CloseDeviceLocked() REQUIRES(record_.recordLock) EXCLUDES(record_.readLock, record_.writeLock);
  // The close of a reset, which holds the transfer locks already.
  void CloseDeviceHoldingTransfersLocked() REQUIRES(record_.recordLock, record_.readLock, record_.writeLock);
  // Marks the device closed and ends its users' waits; the handle that is to be closed, if any.
  libusb_device_handle *DetachLocked() REQUIRES(record_.recordLock);
  void ClearHaltsLocked(libusb_device_handle *handle) REQUIRES(record_.recordLock);
  void CloseHandleLocked(libusb_device_handle *handle)
      REQUIRES(record_.recordLock, record_.readLock, record_.writeLock);
  void CancelTransfers() EXCLUDES(record_.transferSlotLock);
  // Takes a transfer lock, cancelling the transfer that holds it until it is free; false when
  // it stayed taken for `limitMs` or the driver was cancelled.
  bool TakeTransferLock(platform::Mutex &lock, uint32_t limitMs) TRY_ACQUIRE(true, lock);
  // The open device as a transfer sees it, taken under the record lock before a transfer lock
  // (the lock order); checked again under the transfer lock with StillOpen.
  struct Endpoint {
    libusb_device_handle *handle = nullptr;
    uint32_t openCount = 0;
    uint8_t address = 0;
    bool interrupt = false;
    int packetSize = 0;
  };
  Endpoint Snapshot(bool in) EXCLUDES(record_.recordLock);
  bool StillOpen(const Endpoint &endpoint);
  // One transfer that a close can cancel; the libusb result, bytes moved in `moved`. Each
  // direction runs under its transfer lock.
  int TransferIn(const Endpoint &endpoint, uint8_t *data, int length, int &moved) REQUIRES(record_.readLock) {
    return Transfer(endpoint, true, data, length, moved);
  }
  int TransferOut(const Endpoint &endpoint, uint8_t *data, int length, int &moved) REQUIRES(record_.writeLock) {
    return Transfer(endpoint, false, data, length, moved);
  }
  int Transfer(const Endpoint &endpoint, bool in, uint8_t *data, int length, int &moved);

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
  // Set and cleared under driverLock_; the transfers read it while they hold a handle.
  std::atomic<libusb_context *> context_{nullptr};
  DevNotificationManager *const manager_;  // not owned
  const SerialIdentitySource &serialIdentity_;
};

}  // namespace vrn
