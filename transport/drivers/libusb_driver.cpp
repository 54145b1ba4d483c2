#include "drivers/libusb_driver.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "api/guard.h"
#include "devices/device_tree.h"
#include "drivers/endpoint_choice.h"
#include "platform/tick.h"
#include "platform/trace.h"
#include "protocol/vrn_protocol.h"

namespace vrn {
namespace {

constexpr uint32_t kCloseLockLimitMs = 1500;
constexpr int kAttempts = 3;
constexpr uint32_t kAttemptPauseMs = 100;
constexpr auto kReattachLimit = std::chrono::milliseconds(3000);
constexpr auto kCancelCheck = std::chrono::milliseconds(100);

// libusb reads the flag under its own lock; the waiting thread reads it between its calls.
void LIBUSB_CALL TransferDone(libusb_transfer *transfer) {
  __atomic_store_n(static_cast<int *>(transfer->user_data), 1, __ATOMIC_RELEASE);
}

int StatusResult(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
      return LIBUSB_SUCCESS;
    case LIBUSB_TRANSFER_TIMED_OUT:
      return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_CANCELLED:
      return LIBUSB_ERROR_INTERRUPTED;
    case LIBUSB_TRANSFER_STALL:
      return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW:
      return LIBUSB_ERROR_OVERFLOW;
    default:
      return LIBUSB_ERROR_IO;
  }
}

const char *ErrorName(int code) { return libusb_error_name(code); }

ConfigDescription Describe(const libusb_config_descriptor &config) {
  ConfigDescription described;
  for (int i = 0; i < config.bNumInterfaces; ++i) {
    const libusb_interface &iface = config.interface[i];
    InterfaceDescription &settings = described.emplace_back();
    for (int a = 0; a < iface.num_altsetting; ++a) {
      const libusb_interface_descriptor &setting = iface.altsetting[a];
      AltSettingDescription &d = settings.emplace_back();
      d.interfaceNumber = setting.bInterfaceNumber;
      for (int e = 0; e < setting.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor &ep = setting.endpoint[e];
        d.endpoints.push_back({ep.bEndpointAddress, ep.bmAttributes, ep.wMaxPacketSize});
      }
    }
  }
  return described;
}

}  // namespace

cLIBUSBDriver::cLIBUSBDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity)
    : manager_(manager), serialIdentity_(serialIdentity) {
  record_.driver = this;
  Init();
}

cLIBUSBDriver::~cLIBUSBDriver() {
  try {
    Shutdown();
  } catch (...) {  // a destructor lets nothing out
  }
}

bool cLIBUSBDriver::Init() {
  platform::MutexLock lock(driverLock_);
  return InitLocked();
}

bool cLIBUSBDriver::InitLocked() {
  int result = LIBUSB_ERROR_NO_DEVICE;  // libusb not tried
  if (!initialised_.load() && !cancelled_.load()) {
    libusb_context *context = nullptr;
    result = libusb_init(&context);
    if (result == LIBUSB_SUCCESS) {
      if (manager_ != nullptr) {
        context_.store(context);
        manager_->InstallCallbacks(&cLIBUSBDriver::OnArrival, &cLIBUSBDriver::OnRemoval, &cLIBUSBDriver::OnQuery,
                                   &record_);
        initialised_.store(true);
      } else {
        platform::Trace("Dev Notification Manager is null !");
        libusb_exit(context);
      }
    }
  }
  if (!initialised_.load()) platform::Trace("libusb init failed %s", ErrorName(result));
  return initialised_.load();
}

bool cLIBUSBDriver::IsAttached() {
  // An atomic rather than the record lock: the receive thread asks while a request may hold
  // the protocol's request lock, and an arrival holds the record lock while it starts the
  // protocol.
  return record_.attached.load();
}

cVRNProtocol *cLIBUSBDriver::Protocol() {
  platform::MutexLock lock(record_.recordLock);
  return record_.protocol.get();
}

bool cLIBUSBDriver::Open(const char *comPort) {
  cVRNProtocol *protocol = nullptr;
  int32_t vendorId = 0;
  int32_t productId = 0;
  {
    platform::MutexLock lock(driverLock_);
    if (!initialised_.load()) return false;
    platform::MutexLock record(record_.recordLock);
    if (record_.protocol == nullptr) {
      record_.protocol = std::make_unique<cVRNProtocol>(this);
      protocolView_.store(record_.protocol.get());
    }
    protocol = record_.protocol.get();
    vendorId = record_.vendorId;
    productId = record_.productId;
  }
  // Outside the driver lock: starting takes the protocol's request lock, under which a request
  // calls Reset, which takes the driver lock.
  const bool started = protocol->Start(comPort);
  if (manager_ == nullptr) {
    platform::Trace("Device Manager is null");
    return false;
  }
  DeviceInfo info;
  if (!FindDevice(InterfaceClass::ComPort, vendorId, productId, info)) {
    FindDevice(InterfaceClass::UsbDevice, vendorId, productId, info);
  }
  if (!manager_->HasArrivalCallback()) {
    platform::Trace("Devices callback is null");
    return false;
  }
  platform::Trace("Devices initial attach %04X : %04X", static_cast<unsigned>(vendorId), static_cast<unsigned>(productId));
  // Outside the driver lock too: the arrival of a serial device starts the protocol.
  manager_->CallArrival(info);
  return started && (record_.attached.load() || protocol->IsComOpen());
}

void cLIBUSBDriver::Close() {
  platform::MutexLock lock(driverLock_);
  CloseDevice();
}

void cLIBUSBDriver::Cancel() {
  cancelled_.store(true);
  if (cVRNProtocol *protocol = protocolView_.load()) protocol->Cancel();
  CancelTransfers();
  record_.opened.NotifyAll();
}

void cLIBUSBDriver::Shutdown() {
  // A request or recovery in flight ends first, and no event may reach a driver that is going
  // away: RemoveCallbacks returns once a callback in progress ended. Both outside the driver
  // lock, which a recovery holds and a callback's protocol start may wait behind.
  Cancel();
  if (manager_ != nullptr) manager_->RemoveCallbacks(&record_);
  // The receive thread reads through the libusb context, so it ends before the context does: a
  // read slow to come back from its cancel would otherwise still run inside libusb when libusb
  // is ended, and the device be left open under it.
  if (cVRNProtocol *protocol = protocolView_.load()) protocol->Stop();
  std::unique_ptr<cVRNProtocol> protocol;
  {
    platform::MutexLock lock(driverLock_);
    CloseDevice();
    initialised_.store(false);
    if (libusb_context *context = context_.exchange(nullptr)) libusb_exit(context);
    CloseDevice();
    platform::MutexLock record(record_.recordLock);
    protocolView_.store(nullptr);
    protocol = std::move(record_.protocol);
  }
  // Outside the locks: stopping joins the receive thread, which may be waiting for one of them.
  protocol.reset();
}

void cLIBUSBDriver::CancelTransfers() {
  platform::MutexLock lock(record_.transferSlotLock);
  if (record_.inFlightIn != nullptr) libusb_cancel_transfer(record_.inFlightIn);
  if (record_.inFlightOut != nullptr) libusb_cancel_transfer(record_.inFlightOut);
}

cLIBUSBDriver::Endpoint cLIBUSBDriver::Snapshot(bool in) {
  platform::MutexLock lock(record_.recordLock);
  Endpoint e;
  e.handle = record_.handle.load();
  e.openCount = record_.openCount.load();
  e.address = in ? record_.inEndpoint : record_.outEndpoint;
  e.interrupt = in ? record_.inInterrupt : record_.outInterrupt;
  e.packetSize = in ? record_.inPacketSize : record_.outPacketSize;
  return e;
}

// Called under a transfer lock: closing takes both before it clears the handle, so a handle
// seen here stays open until the lock is left.
bool cLIBUSBDriver::StillOpen(const Endpoint &endpoint) {
  // A close clears the attached flag before it waits for the transfer locks.
  return endpoint.handle != nullptr && record_.attached.load() && record_.handle.load() == endpoint.handle &&
         record_.openCount.load() == endpoint.openCount;
}

bool cLIBUSBDriver::TakeTransferLock(platform::Mutex &lock, uint32_t limitMs) {
  return TryEnterFor(lock, limitMs, [this] {
    CancelTransfers();
    return !cancelled_.load();
  });
}

int cLIBUSBDriver::Transfer(const Endpoint &endpoint, bool in, uint8_t *data, int length, int &moved) {
  moved = 0;
  libusb_context *context = context_.load();
  libusb_transfer *transfer = libusb_alloc_transfer(0);
  if (transfer == nullptr || context == nullptr) {
    libusb_free_transfer(transfer);
    return LIBUSB_ERROR_NO_MEM;
  }
  int completed = 0;
  if (endpoint.interrupt) {
    libusb_fill_interrupt_transfer(transfer, endpoint.handle, endpoint.address, data, length, TransferDone, &completed,
                                   kTransferTimeoutMs);
  } else {
    libusb_fill_bulk_transfer(transfer, endpoint.handle, endpoint.address, data, length, TransferDone, &completed,
                              kTransferTimeoutMs);
  }
  {
    platform::MutexLock lock(record_.transferSlotLock);
    (in ? record_.inFlightIn : record_.inFlightOut) = transfer;
  }
  int result = libusb_submit_transfer(transfer);
  if (result == LIBUSB_SUCCESS) {
    // A Cancel between filling the slot and the submit found nothing to cancel yet.
    if (cancelled_.load()) libusb_cancel_transfer(transfer);
    while (__atomic_load_n(&completed, __ATOMIC_ACQUIRE) == 0) {
      const int r = libusb_handle_events_completed(context, &completed);
      if (r < 0 && r != LIBUSB_ERROR_INTERRUPTED) libusb_cancel_transfer(transfer);
    }
    result = StatusResult(transfer->status);
    moved = transfer->actual_length;
  }
  {
    platform::MutexLock lock(record_.transferSlotLock);
    (in ? record_.inFlightIn : record_.inFlightOut) = nullptr;
  }
  libusb_free_transfer(transfer);
  return result;
}

int cLIBUSBDriver::Write(const void *buffer, size_t length) {
  lastWriteResult_.store(-1);
  int total = 0;
  try {
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    size_t remaining = length;
    size_t pieceLeft = 0;
    int budget = kAttempts;
    const Endpoint endpoint = Snapshot(false);
    const size_t pieceSize =
        static_cast<size_t>(endpoint.packetSize > 0 && endpoint.packetSize <= kMaxOutPiece ? endpoint.packetSize : kMaxOutPiece);
    while (remaining > 0 && record_.attached.load() && budget > 0 && !cancelled_.load()) {
      CGuard guard(record_.writeLock);
      if (!StillOpen(endpoint)) {
        lastWriteResult_.store(-1);
        break;
      }
      if (pieceLeft == 0) pieceLeft = std::min(remaining, pieceSize);
      int moved = 0;
      const int result = TransferOut(endpoint, const_cast<uint8_t *>(bytes), static_cast<int>(pieceLeft), moved);
      lastWriteResult_.store(result);
      if (result == LIBUSB_SUCCESS && moved > 0) {
        bytes += moved;
        remaining -= static_cast<size_t>(moved);
        pieceLeft -= static_cast<size_t>(moved);
        total += moved;
        budget = kAttempts;
        continue;
      }
      --budget;
      if (!StillOpen(endpoint)) {
        lastWriteResult_.store(-1);
        break;
      }
      libusb_clear_halt(endpoint.handle, endpoint.address);
    }
  } catch (...) {
    platform::Trace("Device write exception %04X : %04X", static_cast<unsigned>(kDeviceVendorId),
                    static_cast<unsigned>(kDeviceProductId));
  }
  return total;
}

int cLIBUSBDriver::Read(void *buffer, size_t maximum) {
  lastReadResult_.store(-1);
  int got = 0;
  try {
    const Endpoint endpoint = Snapshot(true);
    for (int attempt = 0; attempt < kAttempts && record_.attached.load() && !cancelled_.load(); ++attempt) {
      CGuard guard(record_.readLock);
      if (!StillOpen(endpoint)) {
        lastReadResult_.store(-1);
        break;
      }
      const int result = TransferIn(endpoint, static_cast<uint8_t *>(buffer), static_cast<int>(maximum), got);
      lastReadResult_.store(result);
      // A time-out means nothing came, a cancel that the device is being closed or reset:
      // neither is a fault of the endpoint worth a retry.
      if (result == LIBUSB_SUCCESS || result == LIBUSB_ERROR_TIMEOUT || result == LIBUSB_ERROR_INTERRUPTED) break;
      if (!StillOpen(endpoint)) {
        lastReadResult_.store(-1);
        break;
      }
      libusb_clear_halt(endpoint.handle, endpoint.address);
    }
  } catch (...) {
    platform::Trace("Device read exception %04X : %04X", static_cast<unsigned>(kDeviceVendorId),
                    static_cast<unsigned>(kDeviceProductId));
  }
  return got;
}

bool cLIBUSBDriver::Reset(bool full) {
  platform::MutexLock lock(driverLock_);
  if (cancelled_.load()) return false;
  cVRNProtocol *protocol = Protocol();
  if (protocol != nullptr && protocol->IsComOpen()) return protocol->ComSupp().ReopenCom();
  DeviceInfo kept;
  bool restart = full;
  {
    // Record lock first, then the transfer locks: the order every thread keeps.
    platform::MutexLock record(record_.recordLock);
    libusb_device_handle *handle = record_.handle.load();
    if (handle == nullptr) return false;
    ClearHaltsLocked(handle);
    kept.vendorId = record_.vendorId;
    kept.productId = record_.productId;
    kept.deviceInstance = record_.deviceInstance;
    CopyText(kept.devicePath, record_.devicePath);
    // A device reset under a transfer that is still running would pull its buffers away from
    // the system; the request gives up instead.
    const auto notDone = [&] {
      if (!cancelled_.load()) {
        platform::Trace("Device reset %04X : %04X not done: a transfer did not end",
                        static_cast<unsigned>(kept.vendorId), static_cast<unsigned>(kept.productId));
      }
      return false;
    };
    // The receive thread's pending read would hold the read lock until its time-out.
    if (!TakeTransferLock(record_.readLock, kTransferTimeoutMs)) return notDone();
    CGuard reading(record_.readLock, platform::kAdoptLock);
    if (!TakeTransferLock(record_.writeLock, kTransferTimeoutMs)) return notDone();
    CGuard writing(record_.writeLock, platform::kAdoptLock);
    bool reset = false;
    for (int attempt = 0; attempt < kAttempts && !reset && !cancelled_.load(); ++attempt) {
      if (attempt > 0) platform::SleepMs(kAttemptPauseMs);
      reset = libusb_reset_device(handle) == LIBUSB_SUCCESS;
    }
    if (cancelled_.load()) return false;
    restart = restart || !reset;
    if (restart) {
      CloseDeviceHoldingTransfersLocked();
    } else {
      platform::Trace("Device reset %04X : %04X", static_cast<unsigned>(kept.vendorId),
                      static_cast<unsigned>(kept.productId));
    }
  }
  if (restart) {
    bool restarted = false;
    for (int attempt = 0; attempt < kAttempts && !restarted && !cancelled_.load(); ++attempt) {
      if (attempt > 0) platform::SleepMs(kAttemptPauseMs);
      restarted = RestartDeviceNode(kept.deviceInstance, kept.devicePath);
    }
    if (cancelled_.load()) return false;
    platform::Trace("Full Device reset %04X : %04X  %s", static_cast<unsigned>(kept.vendorId),
                    static_cast<unsigned>(kept.productId), restarted ? "successful" : "failed");
    if (!restarted) {
      initialised_.store(false);
      if (libusb_context *context = context_.exchange(nullptr)) libusb_exit(context);
      InitLocked();
    }
    // A restarted device is set up again in place and no arrival may ever come for it, so it
    // is attached anew either way; an arrival that came first makes this a no-op. Posted to the
    // manager's thread: this thread holds the request and driver locks, which an arrival of a
    // serial device needs to start the protocol.
    if (initialised_.load() && manager_ != nullptr) manager_->PostArrival(kept);
  }
  // In short slices, so that a Cancel, which cannot take the record lock to notify, is seen.
  const auto deadline = std::chrono::steady_clock::now() + kReattachLimit;
  platform::MutexLock record(record_.recordLock);
  while (record_.handle.load() == nullptr && !cancelled_.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    record_.opened.WaitUntil(record_.recordLock, std::min(deadline, now + kCancelCheck));
  }
  return record_.handle.load() != nullptr && !cancelled_.load();
}

bool cLIBUSBDriver::OpenDeviceLocked(int32_t vendorId, int32_t productId) {
  record_.attached.store(false);
  record_.handle.store(nullptr);
  if (vendorId != -1) record_.vendorId = vendorId;
  if (productId != -1) record_.productId = productId;
  record_.configuration = 0;
  record_.interfaceNumber = 0;
  record_.inEndpoint = 0;
  record_.outEndpoint = 0;
  record_.inPacketSize = 0;
  record_.outPacketSize = 0;
  const unsigned vid = static_cast<unsigned>(record_.vendorId);
  const unsigned pid = static_cast<unsigned>(record_.productId);
  libusb_context *context = context_.load();
  if (context == nullptr) return false;

  // libusb learns of a new device from its own uevent listener, which may not have heard of a
  // device our notification reported a moment ago: look again briefly before giving up.
  libusb_device **list = nullptr;
  libusb_device *device = nullptr;
  for (int attempt = 0; attempt < kAttempts && device == nullptr; ++attempt) {
    if (attempt > 0) {
      libusb_free_device_list(list, 1);
      list = nullptr;
      platform::SleepMs(kAttemptPauseMs);
    }
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) {
      platform::Trace("libusb_get_device_list failed");
      return false;
    }
    for (ssize_t i = 0; i < count && device == nullptr; ++i) {
      libusb_device_descriptor descriptor{};
      if (libusb_get_device_descriptor(list[i], &descriptor) == LIBUSB_SUCCESS && descriptor.idVendor == vid &&
          descriptor.idProduct == pid) {
        device = list[i];
      }
    }
  }

  libusb_device_handle *handle = nullptr;
  if (device != nullptr) {
    libusb_config_descriptor *config = nullptr;
    int result = LIBUSB_ERROR_OTHER;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      if (attempt > 0) platform::SleepMs(kAttemptPauseMs);
      result = libusb_get_config_descriptor(device, 0, &config);
      if (result == LIBUSB_SUCCESS) break;
    }
    if (result != LIBUSB_SUCCESS) {
      platform::Trace("libusb_get_config_descriptor failed: %s", ErrorName(result));
      libusb_free_device_list(list, 1);
      return false;
    }
    const EndpointChoice choice = ChooseEndpoints(Describe(*config));
    record_.inEndpoint = choice.inEndpoint;
    record_.inPacketSize = choice.inPacketSize;
    record_.inInterrupt = choice.inInterrupt;
    record_.outEndpoint = choice.outEndpoint;
    record_.outPacketSize = choice.outPacketSize;
    record_.outInterrupt = choice.outInterrupt;
    if (choice.found) {
      record_.interfaceNumber = choice.interfaceNumber;
      platform::Trace("interface used %d", record_.interfaceNumber);
    }
    libusb_free_config_descriptor(config);
    if (!choice.found) {
      platform::Trace("libusb cannot get bulk end points: in_ep %u out_ep %u", record_.inEndpoint, record_.outEndpoint);
      libusb_free_device_list(list, 1);
      return false;
    }
    result = libusb_open(device, &handle);
    if (result != LIBUSB_SUCCESS) {
      platform::Trace("libusb_open failed: %s", ErrorName(result));
      handle = nullptr;
    }
    if (handle != nullptr) {
      int configuration = 0;
      result = libusb_get_configuration(handle, &configuration);
      if (result != LIBUSB_SUCCESS) {
        platform::Trace("libusb_get_configuration failed: %s", ErrorName(result));
        configuration = 0;
      }
      record_.configuration = configuration;
      if (record_.configuration < 1) {
        result = libusb_set_configuration(handle, 1);
        if (result != LIBUSB_SUCCESS) {
          libusb_close(handle);
          handle = nullptr;
          platform::Trace("libusb_set_configuration failed: %s", ErrorName(result));
        } else {
          record_.configuration = 1;
        }
      }
    }
    if (handle != nullptr) {
      // The kernel's serial driver holds a CDC data interface; it is given back on release.
      libusb_set_auto_detach_kernel_driver(handle, 1);
      result = libusb_claim_interface(handle, record_.interfaceNumber);
      if (result != LIBUSB_SUCCESS) {
        libusb_close(handle);
        handle = nullptr;
        platform::Trace("libusb_claim_interface failed: %s", ErrorName(result));
      }
    }
  }
  libusb_free_device_list(list, 1);

  if (handle != nullptr) {
    record_.handle.store(handle);
    ++record_.openCount;
    record_.attached.store(true);
    record_.opened.NotifyAll();
    platform::Trace("Opened device %04X : %04X", vid, pid);
    platform::Trace("in-packet size %d out-packet size %u", record_.inPacketSize,
                    static_cast<unsigned>(record_.outPacketSize));
  } else if (device != nullptr) {
    platform::Trace("Null device %04X : %04X", vid, pid);
  } else {
    platform::Trace("Cannot find device %04X : %04X", vid, pid);
  }
  return record_.attached.load();
}

void cLIBUSBDriver::CloseDevice() {
  platform::MutexLock lock(record_.recordLock);
  CloseDeviceLocked();
}

libusb_device_handle *cLIBUSBDriver::DetachLocked() {
  record_.attached.store(false);
  record_.deviceInstance = 0;
  record_.devicePath[0] = '\0';
  if (record_.protocol != nullptr) {
    record_.protocol->SignalAbort();
    record_.protocol->ComSupp().CloseCom();
  }
  return record_.handle.load();
}

void cLIBUSBDriver::ClearHaltsLocked(libusb_device_handle *handle) {
  libusb_clear_halt(handle, record_.inEndpoint);
  libusb_clear_halt(handle, record_.outEndpoint);
}

void cLIBUSBDriver::CloseHandleLocked(libusb_device_handle *handle) {
  record_.handle.store(nullptr);
  libusb_close(handle);
}

void cLIBUSBDriver::CloseDeviceLocked() {
  libusb_device_handle *handle = DetachLocked();
  if (handle == nullptr) return;
  ClearHaltsLocked(handle);
  // Closing a handle under a running transfer would free what the transfer still uses; the
  // handle is given up instead and no transfer starts on it again.
  const auto abandon = [&] {
    record_.handle.store(nullptr);
    platform::Trace("Device close: a transfer did not end, handle left open");
  };
  // A transfer in flight would keep its lock until its time-out; cancelled, it ends at once.
  if (!TakeTransferLock(record_.readLock, kCloseLockLimitMs)) return abandon();
  CGuard reading(record_.readLock, platform::kAdoptLock);
  if (!TakeTransferLock(record_.writeLock, kCloseLockLimitMs)) return abandon();
  CGuard writing(record_.writeLock, platform::kAdoptLock);
  CloseHandleLocked(handle);
}

void cLIBUSBDriver::CloseDeviceHoldingTransfersLocked() {
  libusb_device_handle *handle = DetachLocked();
  if (handle == nullptr) return;
  ClearHaltsLocked(handle);
  CloseHandleLocked(handle);
}

bool cLIBUSBDriver::OnArrival(const DeviceInfo &info, void *userData) {
  return static_cast<UsbDeviceState *>(userData)->driver->Arrive(info);
}

void cLIBUSBDriver::OnRemoval(const char *devicePath, void *userData) {
  static_cast<UsbDeviceState *>(userData)->driver->Remove(devicePath);
}

bool cLIBUSBDriver::OnQuery(const char *devicePath, void *userData) {
  return static_cast<UsbDeviceState *>(userData)->driver->Query(devicePath);
}

bool cLIBUSBDriver::Arrive(const DeviceInfo &info) {
  const bool fiscal = info.vendorId == kDeviceVendorId && info.productId == kDeviceProductId;
  if (!fiscal && (info.serial == 0 || !serialIdentity_.Get().Matches(info.vendorId, info.productId))) return false;
  cVRNProtocol *startOnPort = nullptr;
  {
    platform::MutexLock lock(record_.recordLock);
    if (record_.handle.load() != nullptr) {
      platform::Trace("Already attached");
      return true;
    }
    const unsigned vid = static_cast<unsigned>(info.vendorId);
    const unsigned pid = static_cast<unsigned>(info.productId);
    record_.deviceInstance = info.deviceInstance;
    CopyText(record_.devicePath, info.devicePath);
    if (info.serial != 0) {
      platform::Trace("Attach device %04X : %04X (%s)", vid, pid, info.portName);
      if (record_.protocol != nullptr && !record_.protocol->IsComOpen()) startOnPort = record_.protocol.get();
    } else {
      platform::Trace("Attach device %04X : %04X", vid, pid);
      if (!OpenDeviceLocked(info.vendorId, info.productId)) {
        CloseDeviceLocked();
        platform::Trace("Failed to open");
      }
    }
  }
  // Outside the record lock: starting waits for the protocol's request lock, and a request in
  // flight asks the driver for its device.
  if (startOnPort != nullptr) startOnPort->Start(info.portName);
  return false;
}

void cLIBUSBDriver::Remove(const char *devicePath) {
  platform::MutexLock lock(record_.recordLock);
  if (DevicePathsMatch(record_.devicePath, devicePath)) CloseDeviceLocked();
}

bool cLIBUSBDriver::Query(const char *devicePath) {
  platform::MutexLock lock(record_.recordLock);
  return DevicePathsMatch(record_.devicePath, devicePath);
}

}  // namespace vrn
