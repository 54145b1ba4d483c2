#include "drivers/libusb_driver.h"

#include <libusb.h>

#include <algorithm>
#include <cstring>

#include "api/guard.h"
#include "devices/device_tree.h"
#include "drivers/endpoint_choice.h"
#include "platform/tick.h"
#include "platform/trace.h"
#include "protocol/vrn_protocol.h"

namespace vrn {
namespace {

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

libusb_device_handle *Handle(void *handle) { return static_cast<libusb_device_handle *>(handle); }

}  // namespace

cLIBUSBDriver::cLIBUSBDriver(DevNotificationManager *manager, const SerialIdentitySource &serialIdentity)
    : cUSBDriver(manager, serialIdentity) {
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
        manager_->InstallCallbacks(&cUSBDriver::OnArrival, &cUSBDriver::OnRemoval, &cUSBDriver::OnQuery, &record_);
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

void cLIBUSBDriver::EndLibraryLocked() {
  if (libusb_context *context = context_.exchange(nullptr)) libusb_exit(context);
}

bool cLIBUSBDriver::Open(const char *comPort) {
  cVRNProtocol *protocol = MakeProtocol();
  if (protocol == nullptr) return false;
  int32_t vendorId = 0;
  int32_t productId = 0;
  {
    platform::MutexLock record(record_.recordLock);
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

void cLIBUSBDriver::CancelTransfers() {
  platform::MutexLock lock(record_.transferSlotLock);
  if (inFlightIn_ != nullptr) libusb_cancel_transfer(inFlightIn_);
  if (inFlightOut_ != nullptr) libusb_cancel_transfer(inFlightOut_);
}

int cLIBUSBDriver::Transfer(const Endpoint &endpoint, bool in, void *data, size_t length, size_t &moved) {
  moved = 0;
  libusb_context *context = context_.load();
  libusb_transfer *transfer = libusb_alloc_transfer(0);
  if (transfer == nullptr || context == nullptr) {
    libusb_free_transfer(transfer);
    return LIBUSB_ERROR_NO_MEM;
  }
  int completed = 0;
  auto *bytes = static_cast<uint8_t *>(data);
  const int size = static_cast<int>(length);
  if (endpoint.interrupt) {
    libusb_fill_interrupt_transfer(transfer, Handle(endpoint.handle), endpoint.address, bytes, size, TransferDone,
                                   &completed, kTransferTimeoutMs);
  } else {
    libusb_fill_bulk_transfer(transfer, Handle(endpoint.handle), endpoint.address, bytes, size, TransferDone,
                              &completed, kTransferTimeoutMs);
  }
  {
    platform::MutexLock lock(record_.transferSlotLock);
    (in ? inFlightIn_ : inFlightOut_) = transfer;
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
    moved = static_cast<size_t>(std::max(transfer->actual_length, 0));
  }
  {
    platform::MutexLock lock(record_.transferSlotLock);
    (in ? inFlightIn_ : inFlightOut_) = nullptr;
  }
  libusb_free_transfer(transfer);
  return result;
}

// A time-out means nothing came, a cancel that the device is being closed or reset: neither is
// a fault of the endpoint worth a retry.
bool cLIBUSBDriver::ReadEndedQuietly(int result) {
  return result == LIBUSB_ERROR_TIMEOUT || result == LIBUSB_ERROR_INTERRUPTED;
}

void cLIBUSBDriver::ClearHalt(const Endpoint &endpoint, bool /*in: the address says it*/) {
  libusb_clear_halt(Handle(endpoint.handle), endpoint.address);
}

bool cLIBUSBDriver::ResetDeviceLocked(bool full) {
  DeviceInfo kept;
  bool restart = full;
  {
    // Record lock first, then the transfer locks: the order every thread keeps.
    platform::MutexLock record(record_.recordLock);
    libusb_device_handle *handle = Handle(record_.handle.load());
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
    const bool reset = Attempt([&] { return libusb_reset_device(handle) == LIBUSB_SUCCESS; });
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
    const bool restarted = Attempt([&] { return RestartDeviceNode(kept.deviceInstance, kept.devicePath); });
    if (cancelled_.load()) return false;
    platform::Trace("Full Device reset %04X : %04X  %s", static_cast<unsigned>(kept.vendorId),
                    static_cast<unsigned>(kept.productId), restarted ? "successful" : "failed");
    if (!restarted) {
      initialised_.store(false);
      EndLibraryLocked();
      InitLocked();
    }
    // A restarted device is set up again in place and no arrival may ever come for it, so it
    // is attached anew either way; an arrival that came first makes this a no-op. Posted to the
    // manager's thread: this thread holds the request and driver locks, which an arrival of a
    // serial device needs to start the protocol.
    if (initialised_.load() && manager_ != nullptr) manager_->PostArrival(kept);
  }
  platform::MutexLock record(record_.recordLock);
  WaitForReattachLocked([] { return true; });
  return record_.handle.load() != nullptr && !cancelled_.load();
}

libusb_device *cLIBUSBDriver::FindDeviceLocked(libusb_context *context, libusb_device ***list) {
  const unsigned vid = static_cast<unsigned>(record_.vendorId);
  const unsigned pid = static_cast<unsigned>(record_.productId);
  // libusb learns of a new device from its own uevent listener, which may not have heard of a
  // device our notification reported a moment ago: look again briefly before giving up.
  libusb_device *device = nullptr;
  for (int attempt = 0; attempt < kAttempts && device == nullptr; ++attempt) {
    if (attempt > 0) {
      libusb_free_device_list(*list, 1);
      *list = nullptr;
      platform::SleepMs(kAttemptPauseMs);
    }
    const ssize_t count = libusb_get_device_list(context, list);
    if (count < 0) {
      platform::Trace("libusb_get_device_list failed");
      return nullptr;
    }
    for (ssize_t i = 0; i < count && device == nullptr; ++i) {
      libusb_device_descriptor descriptor{};
      if (libusb_get_device_descriptor((*list)[i], &descriptor) == LIBUSB_SUCCESS && descriptor.idVendor == vid &&
          descriptor.idProduct == pid) {
        device = (*list)[i];
      }
    }
  }
  return device;
}

bool cLIBUSBDriver::ChooseEndpointsLocked(libusb_device *device) {
  libusb_config_descriptor *config = nullptr;
  int result = LIBUSB_ERROR_OTHER;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) platform::SleepMs(kAttemptPauseMs);
    result = libusb_get_config_descriptor(device, 0, &config);
    if (result == LIBUSB_SUCCESS) break;
  }
  if (result != LIBUSB_SUCCESS) {
    platform::Trace("libusb_get_config_descriptor failed: %s", ErrorName(result));
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
    interfaceNumber_ = choice.interfaceNumber;
    platform::Trace("interface used %d", interfaceNumber_);
  }
  libusb_free_config_descriptor(config);
  if (!choice.found) {
    platform::Trace("libusb cannot get bulk end points: in_ep %u out_ep %u", record_.inEndpoint, record_.outEndpoint);
  }
  return choice.found;
}

libusb_device_handle *cLIBUSBDriver::OpenConfiguredLocked(libusb_device *device) {
  libusb_device_handle *handle = nullptr;
  int result = libusb_open(device, &handle);
  if (result != LIBUSB_SUCCESS) {
    platform::Trace("libusb_open failed: %s", ErrorName(result));
    return nullptr;
  }
  int configuration = 0;
  result = libusb_get_configuration(handle, &configuration);
  if (result != LIBUSB_SUCCESS) {
    platform::Trace("libusb_get_configuration failed: %s", ErrorName(result));
    configuration = 0;
  }
  configuration_ = configuration;
  if (configuration_ < 1) {
    result = libusb_set_configuration(handle, 1);
    if (result != LIBUSB_SUCCESS) {
      libusb_close(handle);
      platform::Trace("libusb_set_configuration failed: %s", ErrorName(result));
      return nullptr;
    }
    configuration_ = 1;
  }
  return handle;
}

libusb_device_handle *cLIBUSBDriver::ClaimLocked(libusb_device_handle *handle) {
  // The kernel's serial driver holds a CDC data interface; it is given back on release.
  libusb_set_auto_detach_kernel_driver(handle, 1);
  const int result = libusb_claim_interface(handle, interfaceNumber_);
  if (result != LIBUSB_SUCCESS) {
    libusb_close(handle);
    platform::Trace("libusb_claim_interface failed: %s", ErrorName(result));
    return nullptr;
  }
  return handle;
}

bool cLIBUSBDriver::OpenDeviceLocked(int32_t vendorId, int32_t productId) {
  record_.attached.store(false);
  record_.handle.store(nullptr);
  if (vendorId != -1) record_.vendorId = vendorId;
  if (productId != -1) record_.productId = productId;
  configuration_ = 0;
  interfaceNumber_ = 0;
  record_.inEndpoint = 0;
  record_.outEndpoint = 0;
  record_.inPacketSize = 0;
  record_.outPacketSize = 0;
  const unsigned vid = static_cast<unsigned>(record_.vendorId);
  const unsigned pid = static_cast<unsigned>(record_.productId);
  libusb_context *context = context_.load();
  if (context == nullptr) return false;

  libusb_device **list = nullptr;
  libusb_device *device = FindDeviceLocked(context, &list);
  if (device == nullptr && list == nullptr) return false;  // the list itself failed
  libusb_device_handle *handle = nullptr;
  if (device != nullptr) {
    if (!ChooseEndpointsLocked(device)) {
      libusb_free_device_list(list, 1);
      return false;
    }
    handle = OpenConfiguredLocked(device);
    if (handle != nullptr) handle = ClaimLocked(handle);
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

void cLIBUSBDriver::ClearHaltsLocked(void *handle) {
  libusb_clear_halt(Handle(handle), record_.inEndpoint);
  libusb_clear_halt(Handle(handle), record_.outEndpoint);
}

void cLIBUSBDriver::ReleaseHandleLocked(void *handle) {
  record_.handle.store(nullptr);
  libusb_close(Handle(handle));
}

// Closing a handle under a running transfer would free what the transfer still uses; the
// handle is given up instead and no transfer starts on it again.
void cLIBUSBDriver::AbandonHandleLocked() {
  record_.handle.store(nullptr);
  platform::Trace("Device close: a transfer did not end, handle left open");
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

}  // namespace vrn
