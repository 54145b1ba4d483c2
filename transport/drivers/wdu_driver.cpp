#include "drivers/wdu_driver.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "api/guard.h"
#include "devices/device_tree.h"
#include "platform/tick.h"
#include "platform/trace.h"

namespace vrn {
namespace {

constexpr uint32_t kCloseLockLimitMs = 1500;
constexpr int kAttempts = 3;
constexpr uint32_t kAttemptPauseMs = 100;
constexpr auto kReattachLimit = std::chrono::milliseconds(3000);
constexpr auto kCancelCheck = std::chrono::milliseconds(100);
constexpr uint8_t kDirectionIn = 0x80;

unsigned Hex16(int32_t id) { return static_cast<unsigned>(id) & 0xFFFF; }

WduDeviceState &State(void *userData) { return *static_cast<WduDeviceState *>(userData); }

}  // namespace

cVRNWDUDriver::cVRNWDUDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity)
    : manager_(manager), serialIdentity_(serialIdentity) {
  record_.driver = this;
  platform::MutexLock lock(driverLock_);
  InitLocked();
}

cVRNWDUDriver::~cVRNWDUDriver() {
  try {
    Shutdown();
  } catch (...) {  // a destructor lets nothing out
  }
}

WduLibrary *cVRNWDUDriver::StartLibrary(uint32_t &result) {
  WduLibrary *library = nullptr;
  result = WDU_Init(&library, &match_, 1, &events_, kInitOptions);
  return result == kWduSuccess ? library : nullptr;
}

void cVRNWDUDriver::StopLibraryLocked() {
  if (WduLibrary *library = library_.exchange(nullptr)) WDU_Uninit(library);
}

void cVRNWDUDriver::InitLocked() {
  int code = -1;
  if (!initialised_.load()) {
    if (!WD_DriverName(kKernelDriverName)) {
      code = kKernelDriverMissing;
    } else {
      events_ = {&cVRNWDUDriver::OnAttach, &cVRNWDUDriver::OnDetach, &cVRNWDUDriver::OnPowerChange, &record_};
      match_ = {};
      match_.vendorId = static_cast<uint16_t>(kDeviceVendorId);
      match_.productId = static_cast<uint16_t>(kDeviceProductId);
      uint32_t result = 0;
      WduLibrary *library = StartLibrary(result);
      code = static_cast<int>(result);
      if (library != nullptr) {
        library_.store(library);
        initialised_.store(true);
        if (manager_ != nullptr) {
          manager_->InstallCallbacks(&cVRNWDUDriver::OnArrival, &cVRNWDUDriver::OnRemoval, &cVRNWDUDriver::OnQuery,
                                     &record_);
        } else {
          platform::Trace("Dev Notification Manager is null !");
        }
      }
    }
  }
  if (!initialised_.load()) platform::Trace("Kernel mode init failed %d", code);
}

cVRNProtocol *cVRNWDUDriver::Protocol() {
  platform::MutexLock lock(record_.recordLock);
  return record_.protocol.get();
}

bool cVRNWDUDriver::Open(const char *comPort) {
  cVRNProtocol *protocol = nullptr;
  {
    platform::MutexLock lock(driverLock_);
    if (!initialised_.load()) return false;
    platform::MutexLock record(record_.recordLock);
    if (record_.protocol == nullptr) {
      record_.protocol = std::make_unique<cVRNProtocol>(this);
      protocolView_.store(record_.protocol.get());
    }
    protocol = record_.protocol.get();
  }
  // Outside the driver lock: starting takes the protocol's request lock, under which a request
  // calls Reset, which takes the driver lock.
  const bool started = protocol->Start(comPort);
  if (!started) platform::Trace("Device connection failed");
  // The fiscal device itself is attached by the library; only serial devices are looked for.
  const SerialIdentity identity = serialIdentity_.Get();
  if (identity.vendorId != -1 && identity.productId != -1) {
    const std::vector<DeviceInfo> devices = ListUsbDevices();
    for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
      if (it->serial == 0 || !identity.Matches(it->vendorId, it->productId)) continue;
      if (manager_ == nullptr || !manager_->HasArrivalCallback()) {
        platform::Trace("Devices callback is null");
        break;
      }
      // Outside the driver lock too: the arrival starts the protocol on the device's port.
      manager_->CallArrival(*it);
    }
  }
  return started && (record_.attached.load() || protocol->IsComOpen());
}

void cVRNWDUDriver::Close() {
  platform::MutexLock lock(driverLock_);
  CloseDevice();
}

void cVRNWDUDriver::Cancel() {
  cancelled_.store(true);
  if (cVRNProtocol *protocol = protocolView_.load()) protocol->Cancel();
  CancelTransfers();
  record_.opened.NotifyAll();
}

void cVRNWDUDriver::Shutdown() {
  // As the libusb driver: what is in flight ends first, no event reaches a driver going away,
  // and the receive thread is gone before the library is ended under its reads.
  Cancel();
  if (manager_ != nullptr) manager_->RemoveCallbacks(&record_);
  if (cVRNProtocol *protocol = protocolView_.load()) protocol->Stop();
  std::unique_ptr<cVRNProtocol> protocol;
  {
    platform::MutexLock lock(driverLock_);
    CloseDevice();
    initialised_.store(false);
    // The library's thread may wait for the record lock in a callback: not held here.
    StopLibraryLocked();
    CloseDevice();
    platform::MutexLock record(record_.recordLock);
    protocolView_.store(nullptr);
    protocol = std::move(record_.protocol);
  }
  protocol.reset();
}

void cVRNWDUDriver::ResetPipes(WduDevice *handle) {
  WDU_ResetPipe(handle, kOutPipe);
  WDU_ResetPipe(handle, kInPipe);
}

void cVRNWDUDriver::CancelTransfers() {
  platform::MutexLock lock(record_.transferSlotLock);
  if (record_.inFlightIn != nullptr) WDU_ResetPipe(record_.inFlightIn, kInPipe);
  if (record_.inFlightOut != nullptr) WDU_ResetPipe(record_.inFlightOut, kOutPipe);
}

bool cVRNWDUDriver::TakeTransferLock(platform::Mutex &lock, uint32_t limitMs) {
  return TryEnterFor(lock, limitMs, [this] {
    CancelTransfers();
    return !cancelled_.load();
  });
}

cVRNWDUDriver::Endpoint cVRNWDUDriver::Snapshot(bool in) {
  platform::MutexLock lock(record_.recordLock);
  Endpoint e;
  e.handle = record_.handle.load();
  e.attachCount = record_.attachCount.load();
  e.packetSize = in ? record_.inPacketSize : record_.outPacketSize;
  return e;
}

// Called under a transfer lock: a close takes both before it forgets the handle.
bool cVRNWDUDriver::StillAttached(const Endpoint &endpoint) {
  return endpoint.handle != nullptr && record_.attached.load() && record_.handle.load() == endpoint.handle &&
         record_.attachCount.load() == endpoint.attachCount;
}

uint32_t cVRNWDUDriver::Transfer(const Endpoint &endpoint, bool in, void *data, uint32_t length, uint32_t &moved) {
  moved = 0;
  {
    platform::MutexLock lock(record_.transferSlotLock);
    (in ? record_.inFlightIn : record_.inFlightOut) = endpoint.handle;
  }
  uint32_t result = kWduAborted;
  if (!cancelled_.load()) {
    result = WDU_Transfer(endpoint.handle, in ? kInPipe : kOutPipe, in, kTransferOptions, data, length, &moved, nullptr,
                          kTransferTimeoutMs);
  }
  {
    platform::MutexLock lock(record_.transferSlotLock);
    (in ? record_.inFlightIn : record_.inFlightOut) = nullptr;
  }
  moved = std::min(moved, length);  // never more than the buffer holds, whatever is reported
  return result;
}

int cVRNWDUDriver::Write(const void *buffer, size_t length) {
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
      if (!StillAttached(endpoint)) {
        lastWriteResult_.store(-1);
        break;
      }
      if (pieceLeft == 0) pieceLeft = std::min(remaining, pieceSize);
      uint32_t moved = 0;
      const uint32_t result =
          TransferOut(endpoint, const_cast<uint8_t *>(bytes), static_cast<uint32_t>(pieceLeft), moved);
      lastWriteResult_.store(static_cast<int>(result));
      if (result == kWduSuccess && moved > 0) {
        bytes += moved;
        remaining -= moved;
        pieceLeft -= moved;
        total += static_cast<int>(moved);
        budget = kAttempts;
        continue;
      }
      --budget;
      if (!StillAttached(endpoint)) {
        lastWriteResult_.store(-1);
        break;
      }
      WDU_ResetPipe(endpoint.handle, kOutPipe);
    }
  } catch (...) {
    platform::Trace("Device write exception %04X : %04X", Hex16(kDeviceVendorId), Hex16(kDeviceProductId));
  }
  return total;
}

int cVRNWDUDriver::Read(void *buffer, size_t maximum) {
  lastReadResult_.store(-1);
  uint32_t got = 0;
  try {
    const Endpoint endpoint = Snapshot(true);
    const auto capacity = static_cast<uint32_t>(std::min<size_t>(maximum, UINT32_MAX));
    for (int attempt = 0; attempt < kAttempts && record_.attached.load() && !cancelled_.load(); ++attempt) {
      CGuard guard(record_.readLock);
      if (!StillAttached(endpoint)) {
        lastReadResult_.store(-1);
        break;
      }
      const uint32_t result = TransferIn(endpoint, buffer, capacity, got);
      lastReadResult_.store(static_cast<int>(result));
      // Nothing came, or a close or reset ended the read: neither is a fault of the pipe.
      if (result == kWduSuccess || result == kWduTimedOut || result == kWduAborted) break;
      if (!StillAttached(endpoint)) {
        lastReadResult_.store(-1);
        break;
      }
      WDU_ResetPipe(endpoint.handle, kInPipe);
    }
  } catch (...) {
    platform::Trace("Device read exception %04X : %04X", Hex16(kDeviceVendorId), Hex16(kDeviceProductId));
  }
  return static_cast<int>(got);
}

bool cVRNWDUDriver::ResetDeviceLocked(WduDevice *handle, bool full) {
  record_.attached.store(false);
  ResetPipes(handle);
  bool quick = false;
  for (int attempt = 0; attempt < kAttempts && !quick && !cancelled_.load(); ++attempt) {
    if (attempt > 0) platform::SleepMs(kAttemptPauseMs);
    quick = WDU_ResetDevice(handle, kWduResetHard) == kWduSuccess;
  }
  bool ok = false;
  if (quick) {
    WDU_SetInterface(handle, record_.interfaceNumber, record_.alternateSetting);
    ok = true;
  }
  if (!quick || full) {
    ok = false;
    for (int attempt = 0; attempt < kAttempts && !ok && !cancelled_.load(); ++attempt) {
      if (attempt > 0) platform::SleepMs(kAttemptPauseMs);
      ok = WDU_ResetDevice(handle, kWduResetPortCycle) == kWduSuccess;
    }
    // The cycled device detaches and attaches anew with a handle of its own.
    if (ok) record_.handle.store(nullptr);
  }
  if (!ok) {
    // Forgotten, so that the device's next attach (a re-initialised library, a replug) is
    // taken instead of being accepted as the device already held.
    record_.handle.store(nullptr);
  } else if (record_.handle.load() != nullptr) {
    // Kept after a quick reset: the device is usable again as it is.
    record_.attached.store(true);
  }
  return ok;
}

bool cVRNWDUDriver::Reset(bool full) {
  platform::MutexLock lock(driverLock_);
  if (cancelled_.load()) return false;
  cVRNProtocol *protocol = Protocol();
  if (protocol != nullptr && protocol->IsComOpen()) return protocol->ComSupp().ReopenCom();
  bool quick = false;
  bool ok = false;
  bool cycled = false;
  unsigned vid = 0;
  unsigned pid = 0;
  {
    platform::MutexLock record(record_.recordLock);
    WduDevice *handle = record_.handle.load();
    if (handle == nullptr) return false;
    vid = Hex16(record_.vendorId);
    pid = Hex16(record_.productId);
    ResetPipes(handle);
    const auto notDone = [&] {
      if (!cancelled_.load()) platform::Trace("Device Reset %04X : %04X not done: a transfer did not end", vid, pid);
      return false;
    };
    // The receive thread's pending read holds the read lock; the pipe resets end it.
    if (!TakeTransferLock(record_.readLock, kTransferTimeoutMs)) return notDone();
    CGuard reading(record_.readLock, platform::kAdoptLock);
    if (!TakeTransferLock(record_.writeLock, kTransferTimeoutMs)) return notDone();
    CGuard writing(record_.writeLock, platform::kAdoptLock);
    if (record_.handle.load() != nullptr) {
      ok = ResetDeviceLocked(handle, full);
      cycled = ok && record_.handle.load() == nullptr;
      quick = ok && !full && !cycled;
    }
    if (cancelled_.load()) return false;
  }
  // Outside the record lock: ending the library waits for its thread, which may be in a
  // callback that waits for that lock.
  bool restarted = false;
  if (!ok && full) {
    initialised_.store(false);
    StopLibraryLocked();
    uint32_t result = 0;
    if (WduLibrary *library = StartLibrary(result)) {
      library_.store(library);
      initialised_.store(true);
      restarted = true;
    }
  }
  if (quick) {
    platform::Trace("Device Reset %04X : %04X", vid, pid);
  } else {
    platform::Trace("Full Device Reset %04X : %04X  %s", vid, pid, ok ? "successful" : "failed");
  }
  // A cycled device, or any device of a restarted library, attaches again on the library's
  // thread; after a failed plain reset none will. In short slices, so that a Cancel, which
  // cannot take the record lock to notify, is seen.
  const bool comesBack = cycled || restarted;
  const auto deadline = std::chrono::steady_clock::now() + kReattachLimit;
  platform::MutexLock record(record_.recordLock);
  while (comesBack && library_.load() != nullptr && record_.handle.load() == nullptr && !cancelled_.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    record_.opened.WaitUntil(record_.recordLock, std::min(deadline, now + kCancelCheck));
  }
  return record_.handle.load() != nullptr && record_.attached.load() && !cancelled_.load();
}

void cVRNWDUDriver::CloseDevice() {
  platform::MutexLock lock(record_.recordLock);
  CloseDeviceLocked();
}

WduDevice *cVRNWDUDriver::DetachLocked() {
  record_.attached.store(false);
  record_.deviceInstance = 0;
  record_.devicePath[0] = '\0';
  if (record_.protocol != nullptr) {
    record_.protocol->SignalAbort();
    record_.protocol->ComSupp().CloseCom();
  }
  return record_.handle.load();
}

void cVRNWDUDriver::CloseDeviceLocked() {
  WduDevice *handle = DetachLocked();
  if (handle == nullptr) return;
  // The pipe resets end the transfers in flight, which then give up their locks.
  ResetPipes(handle);
  const auto forget = [&] { record_.handle.store(nullptr); };
  if (!TakeTransferLock(record_.readLock, kCloseLockLimitMs)) {
    platform::Trace("Device close: a transfer did not end");
    return forget();
  }
  CGuard reading(record_.readLock, platform::kAdoptLock);
  if (!TakeTransferLock(record_.writeLock, kCloseLockLimitMs)) {
    platform::Trace("Device close: a transfer did not end");
    return forget();
  }
  CGuard writing(record_.writeLock, platform::kAdoptLock);
  forget();  // the library owns the handle
}

bool cVRNWDUDriver::OnAttach(WduDevice *device, const WduDeviceInfo *info, void *userData) {
  return device != nullptr && info != nullptr && State(userData).driver->Attach(device, *info);
}

void cVRNWDUDriver::OnDetach(WduDevice *device, void *userData) { State(userData).driver->Detach(device); }

bool cVRNWDUDriver::OnPowerChange(WduDevice *, uint32_t, void *) { return true; }

bool cVRNWDUDriver::OnArrival(const DeviceInfo &info, void *userData) { return State(userData).driver->Arrive(info); }

void cVRNWDUDriver::OnRemoval(const char *devicePath, void *userData) { State(userData).driver->Remove(devicePath); }

bool cVRNWDUDriver::OnQuery(const char *devicePath, void *userData) { return State(userData).driver->Query(devicePath); }

bool cVRNWDUDriver::Attach(WduDevice *device, const WduDeviceInfo &info) {
  platform::MutexLock lock(record_.recordLock);
  if (record_.handle.load() != nullptr) return true;
  const unsigned vid = info.vendorId;
  const unsigned pid = info.productId;
  for (uint32_t i = 0; info.interfaces != nullptr && i < info.interfaceCount; ++i) {
    const WduInterface &iface = info.interfaces[i];
    if (iface.altSettingCount == 0 || iface.active == nullptr) continue;
    const WduAltSetting &setting = *iface.active;
    if (setting.endpointCount <= 1 || setting.endpoints == nullptr) continue;
    // Both endpoints come from the one setting that is selected.
    bool outMet = false;
    bool inMet = false;
    int outSize = 0;
    int inSize = 0;
    for (uint32_t e = 0; e < setting.endpointCount && !(outMet && inMet); ++e) {
      const WduEndpoint &ep = setting.endpoints[e];
      if (!outMet) outSize = std::min<int>(ep.maxPacketSize, kMaxOutPacketSize);
      if (!inMet) inSize = ep.maxPacketSize;
      ((ep.address & kDirectionIn) != 0 ? inMet : outMet) = true;
    }
    if (!(outMet && inMet)) continue;
    uint32_t address = 0;
    if (WDU_SetInterface(device, setting.interfaceNumber, setting.alternateSetting) != kWduSuccess ||
        WDU_GetDeviceAddr(device, &address) != kWduSuccess) {
      continue;
    }
    record_.interfaceNumber = setting.interfaceNumber;
    record_.alternateSetting = setting.alternateSetting;
    record_.deviceAddress = address;
    record_.inPacketSize = inSize;
    record_.outPacketSize = outSize;
    record_.handle.store(device);
    ++record_.attachCount;
    record_.attached.store(true);
    record_.opened.NotifyAll();
    platform::Trace("Attach device %04X : %04X on iface %d", vid, pid, static_cast<int>(setting.interfaceNumber));
    return true;
  }
  // Refused with nothing kept: a device that cannot carry frames is not reported attached.
  platform::Trace("Attach device failed %04X : %04X", vid, pid);
  return false;
}

void cVRNWDUDriver::Detach(WduDevice *device) {
  unsigned vid = 0;
  unsigned pid = 0;
  {
    platform::MutexLock lock(record_.recordLock);
    // Another device's detach (one accepted while this one was held, or the handle a port
    // cycle let go of) leaves the device in use alone.
    if (device == nullptr || record_.handle.load() != device) return;
    CloseDeviceLocked();
    vid = Hex16(record_.vendorId);
    pid = Hex16(record_.productId);
  }
  platform::Trace("Detach device %04X : %04X", vid, pid);
}

bool cVRNWDUDriver::Arrive(const DeviceInfo &info) {
  if (info.serial == 0) return false;
  const bool fiscal = info.vendorId == kDeviceVendorId && info.productId == kDeviceProductId;
  if (!fiscal && !serialIdentity_.Get().Matches(info.vendorId, info.productId)) return false;
  cVRNProtocol *protocol = nullptr;
  {
    platform::MutexLock lock(record_.recordLock);
    if (DevicePathsMatch(record_.devicePath, info.devicePath)) return true;
    platform::Trace("Attach device %04X : %04X (%s)", Hex16(info.vendorId), Hex16(info.productId), info.portName);
    if (record_.protocol == nullptr) return false;
    if (record_.protocol->IsComOpen()) {
      platform::Trace("Already opened");
      return false;
    }
    record_.deviceInstance = info.deviceInstance;
    CopyText(record_.devicePath, info.devicePath);
    protocol = record_.protocol.get();
  }
  // Outside the record lock: starting waits for the protocol's request lock, and a request in
  // flight asks the driver for its device. The manager keeps Shutdown from deleting the
  // protocol until this callback has returned.
  if (protocol->Start(info.portName)) return true;
  platform::Trace("Failed to open");
  {
    // A later arrival of the same device is tried again rather than taken as open.
    platform::MutexLock lock(record_.recordLock);
    if (DevicePathsMatch(record_.devicePath, info.devicePath)) {
      record_.deviceInstance = 0;
      record_.devicePath[0] = '\0';
    }
  }
  return false;
}

void cVRNWDUDriver::Remove(const char *devicePath) {
  unsigned vid = 0;
  unsigned pid = 0;
  {
    platform::MutexLock lock(record_.recordLock);
    if (!DevicePathsMatch(record_.devicePath, devicePath)) return;
    CloseDeviceLocked();
    vid = Hex16(record_.vendorId);
    pid = Hex16(record_.productId);
  }
  platform::Trace("Detach device %04X : %04X", vid, pid);
}

bool cVRNWDUDriver::Query(const char *devicePath) {
  platform::MutexLock lock(record_.recordLock);
  return DevicePathsMatch(record_.devicePath, devicePath);
}

}  // namespace vrn
