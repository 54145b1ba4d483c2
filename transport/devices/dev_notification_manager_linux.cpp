#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "devices/dev_notification_manager.h"
#include "devices/device_tree.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace vrn {
namespace {

void ErrorTrace(const char *operation, int error) {
  platform::Trace("%s failed with error (%d) %s\n", operation != nullptr ? operation : "NULL function", error,
                  error != 0 ? std::strerror(error) : "NULL message");
}

int32_t HexValue(const char *text) {
  if (text == nullptr || *text == '\0') return -1;
  char *end = nullptr;
  const long value = std::strtol(text, &end, 16);
  if (end == text || value < 0 || value > 0xFFFF) return -1;
  return static_cast<int32_t>(value);
}

// The ids of a USB device (or of the USB device a tty belongs to), from udev's properties or
// else from sysfs.
bool EventIds(udev_device *device, int32_t &vendorId, int32_t &productId) {
  vendorId = HexValue(udev_device_get_property_value(device, "ID_VENDOR_ID"));
  productId = HexValue(udev_device_get_property_value(device, "ID_MODEL_ID"));
  if (vendorId >= 0 && productId >= 0) return true;
  udev_device *usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (usb == nullptr) {
    const char *devtype = udev_device_get_devtype(device);
    if (devtype == nullptr || std::strcmp(devtype, "usb_device") != 0) return false;
    usb = device;
  }
  vendorId = HexValue(udev_device_get_sysattr_value(usb, "idVendor"));
  productId = HexValue(udev_device_get_sysattr_value(usb, "idProduct"));
  return vendorId >= 0 && productId >= 0;
}

}  // namespace

DevNotificationManager *DevNotificationManager::GetInstance() {
  // Handed out raw, as the module keeps it, and taken back whole by Release.
  std::unique_ptr<DevNotificationManager> made(new DevNotificationManager());
  DevNotificationManager *manager = made.get();
  manager->stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (manager->stopFd_ < 0) {
    ErrorTrace("DevNotification eventfd", errno);
    return nullptr;
  }
  try {
    manager->deliveryThread_ = std::thread(&DevNotificationManager::DeliveryLoop, manager);
    manager->thread_ = std::thread(&DevNotificationManager::Run, manager);
  } catch (const std::system_error &e) {
    ErrorTrace("DevNotification _beginthreadex", e.code().value());
    Release(made.release());
    return nullptr;
  }
  if (!manager->AwaitRunning()) {
    Release(made.release());
    return nullptr;
  }
  return made.release();
}

void DevNotificationManager::Release(DevNotificationManager *manager) {
  if (manager == nullptr) return;
  const std::unique_ptr<DevNotificationManager> owned(manager);
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t r = ::write(manager->stopFd_, &one, sizeof one);
  if (manager->thread_.joinable()) manager->thread_.join();
  {
    // Events still queued are dropped: no driver is left to take them.
    platform::MutexLock lock(manager->postLock_);
    manager->stopping_ = true;
  }
  manager->queuedOrStopping_.NotifyAll();
  if (manager->deliveryThread_.joinable()) manager->deliveryThread_.join();
}

DevNotificationManager::DevNotificationManager() = default;

DevNotificationManager::~DevNotificationManager() {
  if (stopFd_ >= 0) ::close(stopFd_);
}

void DevNotificationManager::PostArrival(const DeviceInfo &info) {
  Event event;
  event.kind = Event::Kind::Posted;
  event.info = info;
  Enqueue(std::move(event));
  queuedOrStopping_.NotifyAll();
}

void DevNotificationManager::DeliveryLoop() {
  platform::SetCurrentThreadName("vrn-devdeliver");
  for (;;) {
    {
      platform::MutexLock lock(postLock_);
      while (queued_.empty() && !stopping_) queuedOrStopping_.Wait(postLock_);
      if (stopping_) return;
    }
    DeliverQueued();
  }
}

void DevNotificationManager::Run() {
  platform::SetCurrentThreadName("vrn-devnotify");
  udev *context = udev_new();
  udev_monitor *monitor = context != nullptr ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
  if (monitor != nullptr) {
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device");
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr);
    if (udev_monitor_enable_receiving(monitor) < 0) {
      ErrorTrace("DevNotification udev_monitor_enable_receiving", errno);
      udev_monitor_unref(monitor);
      monitor = nullptr;
    }
  } else {
    ErrorTrace("DevNotification udev_monitor_new_from_netlink", errno);
  }
  // Like a window that could not be made, a manager without a monitor is still handed out: the
  // drivers then find present devices but hear of no changes.
  platform::Trace("Device notification created (%s)", monitor != nullptr ? "Ok" : "Null");
  SayRunning();

  // This thread only reads and queues: a callback may wait a long while (for a request that
  // restarts a device), and events left unread meanwhile would be lost to a full socket.
  for (;;) {
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {monitor != nullptr ? udev_monitor_get_fd(monitor) : -1, POLLIN, 0}};
    if (::poll(fds, monitor != nullptr ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      ErrorTrace("DevNotification poll", errno);
      break;
    }
    if ((fds[0].revents & POLLIN) != 0) break;
    if (monitor == nullptr || (fds[1].revents & POLLIN) == 0) continue;
    udev_device *device = udev_monitor_receive_device(monitor);
    if (device == nullptr) continue;
    const char *action = udev_device_get_action(device);
    const char *path = udev_device_get_syspath(device);
    if (action != nullptr && path != nullptr) {
      Event event;
      bool queue = true;
      if (std::strcmp(action, "add") == 0) {
        event.kind = Event::Kind::Arrival;
        // A device without USB ids (a plain serial port, a pseudo-terminal) is none of ours.
        queue = EventIds(device, event.vendorId, event.productId);
        if (queue) {
          udev_device *usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
          event.path = usb != nullptr ? udev_device_get_syspath(usb) : path;
        }
      } else if (std::strcmp(action, "remove") == 0) {
        event.kind = Event::Kind::Removal;
        event.path = path;
      } else if (std::strcmp(action, "change") == 0) {
        event.kind = Event::Kind::Change;
        event.path = path;
      } else {
        queue = false;
      }
      if (queue) {
        Enqueue(std::move(event));
        queuedOrStopping_.NotifyAll();
      }
    }
    udev_device_unref(device);
  }
  if (monitor != nullptr) udev_monitor_unref(monitor);
  if (context != nullptr) udev_unref(context);
}

}  // namespace vrn
