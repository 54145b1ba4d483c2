#include "drivers/wdu_driver.h"

#include <algorithm>
#include <vector>

#include "api/guard.h"
#include "devices/device_tree.h"
#include "platform/tick.h"
#include "platform/trace.h"

namespace vrn {
namespace {

constexpr uint8_t kDirectionIn = 0x80;

unsigned Hex16(int32_t id) { return static_cast<unsigned>(id) & 0xFFFF; }

cVRNWDUDriver &Driver(void *userData) {
  return *static_cast<cVRNWDUDriver *>(static_cast<UsbDeviceState *>(userData)->driver);
}

WduDevice *Handle(void *handle) { return static_cast<WduDevice *>(handle); }

}  // namespace

cVRNWDUDriver::cVRNWDUDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity)
    : cUSBDriver(manager, serialIdentity) {
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

void cVRNWDUDriver::EndLibraryLocked() {
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
          manager_->InstallCallbacks(&cUSBDriver::OnArrival, &cUSBDriver::OnRemoval, &cUSBDriver::OnQuery, &record_);
        } else {
          platform::Trace("Dev Notification Manager is null !");
        }
      }
    }
  }
  if (!initialised_.load()) platform::Trace("Kernel mode init failed %d", code);
}

bool cVRNWDUDriver::Open(const char *comPort) {
  cVRNProtocol *protocol = MakeProtocol();
  if (protocol == nullptr) return false;
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

void cVRNWDUDriver::ClearHaltsLocked(void *handle) {
  WDU_ResetPipe(Handle(handle), kOutPipe);
  WDU_ResetPipe(Handle(handle), kInPipe);
}

void cVRNWDUDriver::ClearHalt(const Endpoint &endpoint, bool in) {
  WDU_ResetPipe(Handle(endpoint.handle), in ? kInPipe : kOutPipe);
}

// Nothing came, or a close or reset ended the read: neither is a fault of the pipe.
bool cVRNWDUDriver::ReadEndedQuietly(int result) {
  return static_cast<uint32_t>(result) == kWduTimedOut || static_cast<uint32_t>(result) == kWduAborted;
}

void cVRNWDUDriver::CancelTransfers() {
  platform::MutexLock lock(record_.transferSlotLock);
  if (inFlightIn_ != nullptr) WDU_ResetPipe(inFlightIn_, kInPipe);
  if (inFlightOut_ != nullptr) WDU_ResetPipe(inFlightOut_, kOutPipe);
}

int cVRNWDUDriver::Transfer(const Endpoint &endpoint, bool in, void *data, size_t length, size_t &moved) {
  moved = 0;
  WduDevice *handle = Handle(endpoint.handle);
  {
    platform::MutexLock lock(record_.transferSlotLock);
    (in ? inFlightIn_ : inFlightOut_) = handle;
  }
  const auto size = static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX));
  uint32_t got = 0;
  uint32_t result = kWduAborted;
  if (!cancelled_.load()) {
    result = WDU_Transfer(handle, in ? kInPipe : kOutPipe, in, kTransferOptions, data, size, &got, nullptr,
                          kTransferTimeoutMs);
  }
  {
    platform::MutexLock lock(record_.transferSlotLock);
    (in ? inFlightIn_ : inFlightOut_) = nullptr;
  }
  moved = std::min(got, size);  // never more than the buffer holds, whatever is reported
  return static_cast<int>(result);
}

bool cVRNWDUDriver::ResetHandleLocked(WduDevice *handle, bool full) {
  record_.attached.store(false);
  ClearHaltsLocked(handle);
  const bool quick = Attempt([&] { return WDU_ResetDevice(handle, kWduResetHard) == kWduSuccess; });
  bool ok = false;
  if (quick) {
    WDU_SetInterface(handle, interfaceNumber_, alternateSetting_);
    ok = true;
  }
  if (!quick || full) {
    ok = Attempt([&] { return WDU_ResetDevice(handle, kWduResetPortCycle) == kWduSuccess; });
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

bool cVRNWDUDriver::ResetDeviceLocked(bool full) {
  bool quick = false;
  bool ok = false;
  bool cycled = false;
  unsigned vid = 0;
  unsigned pid = 0;
  {
    platform::MutexLock record(record_.recordLock);
    WduDevice *handle = Handle(record_.handle.load());
    if (handle == nullptr) return false;
    vid = Hex16(record_.vendorId);
    pid = Hex16(record_.productId);
    ClearHaltsLocked(handle);
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
      ok = ResetHandleLocked(handle, full);
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
    EndLibraryLocked();
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
  // thread; after a failed plain reset none will.
  const bool comesBack = cycled || restarted;
  platform::MutexLock record(record_.recordLock);
  WaitForReattachLocked([&] { return comesBack && library_.load() != nullptr; });
  return record_.handle.load() != nullptr && record_.attached.load() && !cancelled_.load();
}

void cVRNWDUDriver::ReleaseHandleLocked(void * /*handle: the library owns it*/) { record_.handle.store(nullptr); }

void cVRNWDUDriver::AbandonHandleLocked() {
  platform::Trace("Device close: a transfer did not end");
  record_.handle.store(nullptr);
}

bool cVRNWDUDriver::OnAttach(WduDevice *device, const WduDeviceInfo *info, void *userData) {
  return device != nullptr && info != nullptr && Driver(userData).Attach(device, *info);
}

void cVRNWDUDriver::OnDetach(WduDevice *device, void *userData) { Driver(userData).Detach(device); }

bool cVRNWDUDriver::OnPowerChange(WduDevice *, uint32_t, void *) { return true; }

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
    interfaceNumber_ = setting.interfaceNumber;
    alternateSetting_ = setting.alternateSetting;
    deviceAddress_ = address;
    record_.inPacketSize = inSize;
    record_.outPacketSize = outSize;
    record_.handle.store(device);
    ++record_.openCount;
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

}  // namespace vrn
