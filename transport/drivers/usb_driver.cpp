#include "drivers/usb_driver.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "api/guard.h"
#include "devices/device_tree.h"
#include "platform/tick.h"
#include "platform/trace.h"

namespace vrn {
namespace {

constexpr auto kReattachLimit = std::chrono::milliseconds(3000);
constexpr auto kCancelCheck = std::chrono::milliseconds(100);

}  // namespace

cUSBDriver::cUSBDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity)
    : manager_(manager), serialIdentity_(serialIdentity) {
  record_.driver = this;
}

cVRNProtocol *cUSBDriver::Protocol() {
  platform::MutexLock lock(record_.recordLock);
  return record_.protocol.get();
}

cVRNProtocol *cUSBDriver::MakeProtocol() {
  platform::MutexLock lock(driverLock_);
  if (!initialised_.load()) return nullptr;
  platform::MutexLock record(record_.recordLock);
  if (record_.protocol == nullptr) {
    record_.protocol = std::make_unique<cVRNProtocol>(this);
    protocolView_.store(record_.protocol.get());
  }
  return record_.protocol.get();
}

void cUSBDriver::Close() {
  platform::MutexLock lock(driverLock_);
  CloseDevice();
}

void cUSBDriver::Cancel() {
  cancelled_.store(true);
  if (cVRNProtocol *protocol = protocolView_.load()) protocol->Cancel();
  CancelTransfers();
  record_.opened.NotifyAll();
}

void cUSBDriver::Shutdown() {
  // A request or recovery in flight ends first, and no event may reach a driver that is going
  // away: RemoveCallbacks returns once a callback in progress ended. Both outside the driver
  // lock, which a recovery holds and a callback's protocol start may wait behind.
  Cancel();
  if (manager_ != nullptr) manager_->RemoveCallbacks(&record_);
  // The receive thread reads through the library, so it ends before the library does: a read
  // slow to come back from its cancel would otherwise still run inside the library when it is
  // ended, and the device be left open under it.
  if (cVRNProtocol *protocol = protocolView_.load()) protocol->Stop();
  std::unique_ptr<cVRNProtocol> protocol;
  {
    platform::MutexLock lock(driverLock_);
    CloseDevice();
    initialised_.store(false);
    // A library's thread may wait for the record lock in a callback: not held here.
    EndLibraryLocked();
    CloseDevice();
    platform::MutexLock record(record_.recordLock);
    protocolView_.store(nullptr);
    protocol = std::move(record_.protocol);
  }
  // Outside the locks: stopping joins the receive thread, which may be waiting for one of them.
  protocol.reset();
}

bool cUSBDriver::TakeTransferLock(platform::Mutex &lock, uint32_t limitMs) {
  return TryEnterFor(lock, limitMs, [this] {
    CancelTransfers();
    return !cancelled_.load();
  });
}

bool cUSBDriver::Attempt(const std::function<bool()> &step) {
  bool done = false;
  for (int attempt = 0; attempt < kAttempts && !done && !cancelled_.load(); ++attempt) {
    if (attempt > 0) platform::SleepMs(kAttemptPauseMs);
    done = step();
  }
  return done;
}

cUSBDriver::Endpoint cUSBDriver::Snapshot(bool in) {
  platform::MutexLock lock(record_.recordLock);
  Endpoint e;
  e.handle = record_.handle.load();
  e.openCount = record_.openCount.load();
  e.address = in ? record_.inEndpoint : record_.outEndpoint;
  e.interrupt = in ? record_.inInterrupt : record_.outInterrupt;
  e.packetSize = in ? record_.inPacketSize : record_.outPacketSize;
  return e;
}

// Called under a transfer lock: closing takes both before it lets go of the handle, so a
// handle seen here stays open until the lock is left.
bool cUSBDriver::StillOpen(const Endpoint &endpoint) {
  // A close clears the attached flag before it waits for the transfer locks.
  return endpoint.handle != nullptr && record_.attached.load() && record_.handle.load() == endpoint.handle &&
         record_.openCount.load() == endpoint.openCount;
}

int cUSBDriver::Write(const void *buffer, size_t length) {
  lastWriteResult_.store(-1);
  int total = 0;
  try {
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    size_t remaining = length;
    size_t pieceLeft = 0;
    int budget = kAttempts;
    const Endpoint endpoint = Snapshot(false);
    const size_t pieceSize = static_cast<size_t>(
        endpoint.packetSize > 0 && endpoint.packetSize <= kMaxOutPacketSize ? endpoint.packetSize : kMaxOutPacketSize);
    while (remaining > 0 && record_.attached.load() && budget > 0 && !cancelled_.load()) {
      CGuard guard(record_.writeLock);
      if (!StillOpen(endpoint)) {
        lastWriteResult_.store(-1);
        break;
      }
      if (pieceLeft == 0) pieceLeft = std::min(remaining, pieceSize);
      size_t moved = 0;
      const int result = TransferOut(endpoint, const_cast<uint8_t *>(bytes), pieceLeft, moved);
      lastWriteResult_.store(result);
      if (result == 0 && moved > 0) {
        bytes += moved;
        remaining -= moved;
        pieceLeft -= moved;
        total += static_cast<int>(moved);
        budget = kAttempts;
        continue;
      }
      --budget;
      if (!StillOpen(endpoint)) {
        lastWriteResult_.store(-1);
        break;
      }
      ClearHalt(endpoint, false);
    }
  } catch (...) {
    platform::Trace("Device write exception %04X : %04X", static_cast<unsigned>(kDeviceVendorId),
                    static_cast<unsigned>(kDeviceProductId));
  }
  return total;
}

int cUSBDriver::Read(void *buffer, size_t maximum) {
  lastReadResult_.store(-1);
  size_t got = 0;
  try {
    const Endpoint endpoint = Snapshot(true);
    for (int attempt = 0; attempt < kAttempts && record_.attached.load() && !cancelled_.load(); ++attempt) {
      CGuard guard(record_.readLock);
      if (!StillOpen(endpoint)) {
        lastReadResult_.store(-1);
        break;
      }
      const int result = TransferIn(endpoint, buffer, maximum, got);
      lastReadResult_.store(result);
      if (result == 0 || ReadEndedQuietly(result)) break;
      if (!StillOpen(endpoint)) {
        lastReadResult_.store(-1);
        break;
      }
      ClearHalt(endpoint, true);
    }
  } catch (...) {
    platform::Trace("Device read exception %04X : %04X", static_cast<unsigned>(kDeviceVendorId),
                    static_cast<unsigned>(kDeviceProductId));
  }
  return static_cast<int>(got);
}

bool cUSBDriver::Reset(bool full) {
  platform::MutexLock lock(driverLock_);
  if (cancelled_.load()) return false;
  cVRNProtocol *protocol = Protocol();
  if (protocol != nullptr && protocol->IsComOpen()) return protocol->ComSupp().ReopenCom();
  return ResetDeviceLocked(full);
}

void cUSBDriver::WaitForReattachLocked(const std::function<bool()> &comesBack) {
  const auto deadline = std::chrono::steady_clock::now() + kReattachLimit;
  while (comesBack() && record_.handle.load() == nullptr && !cancelled_.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    record_.opened.WaitUntil(record_.recordLock, std::min(deadline, now + kCancelCheck));
  }
}

void cUSBDriver::CloseDevice() {
  platform::MutexLock lock(record_.recordLock);
  CloseDeviceLocked();
}

void *cUSBDriver::DetachLocked() {
  record_.attached.store(false);
  record_.deviceInstance = 0;
  record_.devicePath[0] = '\0';
  if (record_.protocol != nullptr) {
    record_.protocol->SignalAbort();
    record_.protocol->ComSupp().CloseCom();
  }
  return record_.handle.load();
}

void cUSBDriver::CloseDeviceLocked() {
  void *handle = DetachLocked();
  if (handle == nullptr) return;
  // Ends the transfers in flight, which then give up their locks.
  ClearHaltsLocked(handle);
  // Letting go of a handle under a running transfer would free what the transfer still uses.
  if (!TakeTransferLock(record_.readLock, kCloseLockLimitMs)) return AbandonHandleLocked();
  CGuard reading(record_.readLock, platform::kAdoptLock);
  if (!TakeTransferLock(record_.writeLock, kCloseLockLimitMs)) return AbandonHandleLocked();
  CGuard writing(record_.writeLock, platform::kAdoptLock);
  ReleaseHandleLocked(handle);
}

void cUSBDriver::CloseDeviceHoldingTransfersLocked() {
  void *handle = DetachLocked();
  if (handle == nullptr) return;
  ClearHaltsLocked(handle);
  ReleaseHandleLocked(handle);
}

bool cUSBDriver::OnArrival(const DeviceInfo &info, void *userData) {
  return static_cast<UsbDeviceState *>(userData)->driver->Arrive(info);
}

void cUSBDriver::OnRemoval(const char *devicePath, void *userData) {
  static_cast<UsbDeviceState *>(userData)->driver->Remove(devicePath);
}

bool cUSBDriver::OnQuery(const char *devicePath, void *userData) {
  return static_cast<UsbDeviceState *>(userData)->driver->Query(devicePath);
}

bool cUSBDriver::Query(const char *devicePath) {
  platform::MutexLock lock(record_.recordLock);
  return DevicePathsMatch(record_.devicePath, devicePath);
}

}  // namespace vrn
