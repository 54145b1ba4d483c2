// The part of the notification manager that every platform shares: the callbacks a driver
// installs and their delivery, with no lock held while one runs, and what an arrival looks up.
#include "devices/dev_notification_manager.h"

#include <atomic>
#include <chrono>
#include <utility>

#include "platform/trace.h"

namespace vrn {
namespace {

std::atomic<DeviceLookup> deviceLookup{nullptr};

}  // namespace

DeviceLookup SetDeviceLookup(DeviceLookup lookup) { return deviceLookup.exchange(lookup); }

void DevNotificationManager::InstallCallbacks(ArrivalCallback arrival, RemovalCallback removal, QueryCallback query,
                                              void *userData) {
  platform::MutexLock lock(callbackLock_);
  installed_ = {arrival, removal, query, userData};
}

void DevNotificationManager::RemoveCallbacks(void *userData) {
  platform::MutexLock lock(callbackLock_);
  if (installed_.userData == userData) installed_ = {};
  while (deliveries_ != 0) deliveriesEnded_.Wait(callbackLock_);
}

bool DevNotificationManager::HasArrivalCallback() const {
  platform::MutexLock lock(callbackLock_);
  return installed_.arrival != nullptr;
}

DevNotificationManager::Installed DevNotificationManager::BeginDelivery() {
  platform::MutexLock lock(callbackLock_);
  ++deliveries_;
  return installed_;
}

void DevNotificationManager::EndDelivery() {
  {
    platform::MutexLock lock(callbackLock_);
    --deliveries_;
  }
  deliveriesEnded_.NotifyAll();
}

// One delivery in a scope, however the callback leaves it.
class DevNotificationManager::Delivery {
 public:
  explicit Delivery(DevNotificationManager &manager) : manager_(manager), callbacks(manager.BeginDelivery()) {}
  ~Delivery() { manager_.EndDelivery(); }
  Delivery(const Delivery &) = delete;
  Delivery &operator=(const Delivery &) = delete;

 private:
  DevNotificationManager &manager_;

 public:
  const Installed callbacks;
};

bool DevNotificationManager::CallArrival(const DeviceInfo &info) {
  const Delivery delivery(*this);
  return delivery.callbacks.arrival != nullptr && delivery.callbacks.arrival(info, delivery.callbacks.userData);
}

void DevNotificationManager::OnRemoval(const char *path) {
  {
    const Delivery delivery(*this);
    if (delivery.callbacks.removal != nullptr) delivery.callbacks.removal(path, delivery.callbacks.userData);
  }
  removals_.fetch_add(1);
}

void DevNotificationManager::OnChange(const char *path) {
  const Delivery delivery(*this);
  if (delivery.callbacks.query != nullptr) delivery.callbacks.query(path, delivery.callbacks.userData);
}

void DevNotificationManager::Enqueue(Event event) {
  platform::MutexLock lock(postLock_);
  queued_.push_back(std::move(event));
}

void DevNotificationManager::DeliverQueued() {
  for (;;) {
    Event event;
    {
      platform::MutexLock lock(postLock_);
      if (queued_.empty()) return;
      event = std::move(queued_.front());
      queued_.pop_front();
    }
    Deliver(event);
  }
}

void DevNotificationManager::Deliver(const Event &event) {
  switch (event.kind) {
    case Event::Kind::Arrival:
      OnArrival(event.vendorId, event.productId, event.path.c_str());
      break;
    case Event::Kind::Posted:
      CallArrival(event.info);
      break;
    case Event::Kind::Removal:
      OnRemoval(event.path.c_str());
      break;
    case Event::Kind::Change:
      OnChange(event.path.c_str());
      break;
  }
}

void DevNotificationManager::OnArrival(int32_t vendorId, int32_t productId, const char *path) {
  if (!HasArrivalCallback()) return;
  DeviceLookup lookup = deviceLookup.load();
  if (lookup == nullptr) lookup = &FindDevice;
  DeviceInfo info;
  bool serial = lookup(InterfaceClass::ComPort, vendorId, productId, info);
  if (!serial) serial = lookup(InterfaceClass::UsbDevice, vendorId, productId, info);
  if (serial) info.serial = 1;
  if (info.vendorId == -1 && info.productId == -1) {
    info.vendorId = vendorId;
    info.productId = productId;
    CopyText(info.devicePath, path);
  }
  CallArrival(info);
  arrivals_.fetch_add(1);
}

void DevNotificationManager::SayRunning() {
  {
    platform::MutexLock lock(startLock_);
    running_ = true;
  }
  started_.NotifyAll();
}

bool DevNotificationManager::AwaitRunning() {
  // Bounded: a thread that never comes up must not hang the library's first call.
  constexpr auto kStartLimit = std::chrono::milliseconds(2000);
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  platform::MutexLock lock(startLock_);
  while (!running_ && started_.WaitUntil(startLock_, deadline)) {
  }
  if (!running_) platform::Trace("Cannot get the DevNotification instance");
  return running_;
}

}  // namespace vrn
