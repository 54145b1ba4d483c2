// The USB driver over libusb: finds the fiscal device by its ids, claims the interface that has
// an IN and an OUT endpoint and moves the protocol's bytes over them. A USB serial device with
// the serial identity is taken through its serial port instead; then this driver only follows
// its arrival and removal. Arrivals and removals come from the notification manager. The
// libusb back end of cUSBDriver.
#pragma once

#include <atomic>
#include <cstdint>

#include "drivers/usb_driver.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

namespace vrn {

class cLIBUSBDriver final : public cUSBDriver {
 public:
  static constexpr int kMaxOutPiece = kMaxOutPacketSize;

  // Neither the manager nor the serial identity is owned; both outlive the driver.
  cLIBUSBDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity);
  ~cLIBUSBDriver() override;
  cLIBUSBDriver(const cLIBUSBDriver &) = delete;
  cLIBUSBDriver &operator=(const cLIBUSBDriver &) = delete;

  bool Open(const char *comPort) override;

 private:
  bool Arrive(const DeviceInfo &info) override EXCLUDES(record_.recordLock);
  void Remove(const char *devicePath) override EXCLUDES(record_.recordLock);

  bool Init() EXCLUDES(driverLock_);
  bool InitLocked() REQUIRES(driverLock_);

  // Opening, in its four steps: find the device, choose its endpoints, open and configure it,
  // claim the interface.
  bool OpenDeviceLocked(int32_t vendorId, int32_t productId) REQUIRES(record_.recordLock);
  // The device with the record's ids from `*list` (freed by the caller); null when libusb does
  // not know it within a few looks.
  libusb_device *FindDeviceLocked(libusb_context *context, libusb_device ***list) REQUIRES(record_.recordLock);
  bool ChooseEndpointsLocked(libusb_device *device) REQUIRES(record_.recordLock);
  libusb_device_handle *OpenConfiguredLocked(libusb_device *device) REQUIRES(record_.recordLock);
  // Closes the handle when the interface cannot be claimed; the handle or null.
  libusb_device_handle *ClaimLocked(libusb_device_handle *handle) REQUIRES(record_.recordLock);

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

  int configuration_ GUARDED_BY(record_.recordLock) = 0;
  int interfaceNumber_ GUARDED_BY(record_.recordLock) = 0;
  // The transfer in flight in each direction, for CancelTransfers.
  libusb_transfer *inFlightIn_ GUARDED_BY(record_.transferSlotLock) = nullptr;
  libusb_transfer *inFlightOut_ GUARDED_BY(record_.transferSlotLock) = nullptr;
  // Set and cleared under driverLock_; the transfers read it while they hold a handle.
  std::atomic<libusb_context *> context_{nullptr};
};

}  // namespace vrn
