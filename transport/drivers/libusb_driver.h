// The USB driver over libusb: finds the fiscal device by its ids, claims the interface that has
// an IN and an OUT endpoint and moves the protocol's bytes over them. A USB serial device with
// the serial identity is taken through its serial port instead; then this driver only follows
// its arrival and removal. Arrivals and removals come from the notification manager.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "devices/dev_notification_manager.h"
#include "devices/device_info.h"
#include "drivers/com_driver.h"

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

namespace vrn {

class cVRNProtocol;
class cLIBUSBDriver;

// Lock order: the driver lock, then the record lock, then the transfer locks, then the slot
// lock (the whole order is written at cVRNProtocol::requestLock_). The notification manager
// holds no lock while it calls the callbacks below.
struct UsbDeviceState {
  cLIBUSBDriver *driver = nullptr;  // the owner, for the callbacks

  std::recursive_mutex recordLock;      // guards every field below but the transfer slots
  std::recursive_timed_mutex readLock;  // held across an IN transfer
  std::recursive_timed_mutex writeLock; // held across an OUT transfer

  std::atomic<bool> attached{false};  // a handle is open; written under recordLock
  // Read without recordLock by the transfers, which hold their transfer lock: closing takes
  // both transfer locks before it clears the handle.
  std::atomic<libusb_device_handle *> handle{nullptr};
  std::unique_ptr<cVRNProtocol> protocol;
  int32_t vendorId = 0x0483;
  int32_t productId = 0x5740;
  uint32_t deviceInstance = 0;
  char devicePath[128] = {};
  int configuration = 0;
  int interfaceNumber = 0;
  uint8_t inEndpoint = 0;
  uint8_t outEndpoint = 0;
  bool inInterrupt = false;   // the endpoint is an interrupt endpoint (bulk otherwise)
  bool outInterrupt = false;
  // Advanced by every open: a handle seen earlier may be another one now.
  std::atomic<uint32_t> openCount{0};
  int inPacketSize = 32;
  int outPacketSize = 32;  // never above 32

  // The transfer in flight in each direction, so that a close or a reset can cancel it instead
  // of waiting out its time-out; guarded by transferSlotLock.
  std::mutex transferSlotLock;
  // Signalled under recordLock when a handle is opened; Reset waits on it.
  std::condition_variable_any opened;
  libusb_transfer *inFlightIn = nullptr;
  libusb_transfer *inFlightOut = nullptr;
};

class cLIBUSBDriver final : public iCOMDriver {
 public:
  static constexpr unsigned kTransferTimeoutMs = 3000;
  static constexpr int kMaxOutPiece = 32;

  explicit cLIBUSBDriver(DevNotificationManager *manager);
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
  bool Init();
  bool OpenDevice(int32_t vendorId, int32_t productId);
  void CloseDevice();
  void CancelTransfers();
  // Takes a transfer lock, cancelling the transfer that holds it until it is free; false when
  // it stayed taken for `limitMs`.
  bool TakeTransferLock(std::unique_lock<std::recursive_timed_mutex> &lock, uint32_t limitMs);
  // The open device as a transfer sees it, taken under the record lock before a transfer lock
  // (the lock order); checked again under the transfer lock with StillOpen.
  struct Endpoint {
    libusb_device_handle *handle = nullptr;
    uint32_t openCount = 0;
    uint8_t address = 0;
    bool interrupt = false;
    int packetSize = 0;
  };
  Endpoint Snapshot(bool in);
  bool StillOpen(const Endpoint &endpoint);
  // One transfer that a close can cancel; the libusb result, bytes moved in `moved`.
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
  std::recursive_mutex driverLock_;  // guards context_ and the driver's setup and teardown
  // Set and cleared under driverLock_; the transfers read it while they hold a handle.
  std::atomic<libusb_context *> context_{nullptr};
  DevNotificationManager *const manager_;  // not owned
};

}  // namespace vrn
