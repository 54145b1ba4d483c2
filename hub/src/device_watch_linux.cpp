#include "device_watch.h"

#include <libudev.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "devices/dev_notification_manager.h"
#include "devices/device_tree.h"
#include "drivers/device_identity.h"
#include "platform/trace.h"

namespace hub {
namespace {

// Whether this process can hear the device events at all. The notification manager starts
// without a monitor too (and hears nothing), so the hub asks first and says so.
bool MonitorPossible(std::string &why) {
  udev *context = udev_new();
  udev_monitor *monitor = context != nullptr ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
  const bool receiving = monitor != nullptr && udev_monitor_enable_receiving(monitor) >= 0;
  if (!receiving)
    why = context == nullptr ? "no udev context" : "no udev monitor: " + std::string(std::strerror(errno));
  if (monitor != nullptr) udev_monitor_unref(monitor);
  if (context != nullptr) udev_unref(context);
  return receiving;
}

bool UnderPath(const std::string &path, const std::string &parent) {
  return path == parent ||
         (path.size() > parent.size() && path.compare(0, parent.size(), parent) == 0 && path[parent.size()] == '/');
}

}  // namespace

DeviceWatch::DeviceWatch(Devices &devices, Log log) : devices_(devices), log_(std::move(log)) {}

std::unique_ptr<DeviceWatch> DeviceWatch::Start(Devices &devices, Log log, std::string &why) {
  if (!MonitorPossible(why)) return nullptr;
  std::unique_ptr<DeviceWatch> watch(new DeviceWatch(devices, std::move(log)));
  watch->manager_ = vrn::DevNotificationManager::GetInstance();
  if (watch->manager_ == nullptr) {
    why = "the device notification thread did not start";
    return nullptr;
  }
  watch->Refresh();
  watch->manager_->InstallCallbacks(&DeviceWatch::OnArrival, &DeviceWatch::OnRemoval, nullptr, watch.get());
  if (::access("/run/udev/control", F_OK) != 0 && watch->log_) {
    watch->log_("udev does not seem to run here (no /run/udev/control): plugs may go unheard");
  }
  return watch;
}

DeviceWatch::~DeviceWatch() {
  if (manager_ == nullptr) return;
  manager_->RemoveCallbacks(this);
  vrn::DevNotificationManager::Release(manager_);
}

std::vector<std::string> DeviceWatch::PresentPorts() {
  std::vector<std::string> ports;
  for (const vrn::DeviceInfo &info : vrn::ListUsbDevices()) {
    if (info.vendorId == vrn::kDeviceVendorId && info.productId == vrn::kDeviceProductId && info.serial != 0 &&
        info.portName[0] != '\0') {
      ports.emplace_back(info.portName);
    }
  }
  return ports;
}

std::vector<std::string> DeviceWatch::Refresh() {
  std::vector<std::string> ports;
  std::map<std::string, std::string> nodes;
  for (const vrn::DeviceInfo &info : vrn::ListUsbDevices()) {
    if (info.vendorId != vrn::kDeviceVendorId || info.productId != vrn::kDeviceProductId || info.serial == 0 ||
        info.portName[0] == '\0') {
      continue;
    }
    ports.emplace_back(info.portName);
    nodes[info.devicePath] = info.portName;
  }
  platform::MutexLock lock(mutex_);
  // Kept until their removal is heard: a port listed a moment ago may already be going.
  for (auto &[path, node] : nodes) nodeBySysPath_[path] = node;
  return ports;
}

bool DeviceWatch::OnArrival(const vrn::DeviceInfo &info, void *self) {
  // A USB device's own arrival comes before its serial port exists; the port's arrival follows.
  if (info.vendorId != vrn::kDeviceVendorId || info.productId != vrn::kDeviceProductId) return false;
  auto *watch = static_cast<DeviceWatch *>(self);
  const std::vector<std::string> ports = watch->Refresh();
  if (ports.empty()) return true;
  // Ports that known devices use are left alone by the scan.
  for (const ScanResult &found : watch->devices_.Scan(ports)) {
    if (!found.serial.empty() && watch->log_) watch->log_(found.port + ": " + found.note);
  }
  return true;
}

void DeviceWatch::OnRemoval(const char *path, void *self) {
  if (path == nullptr) return;
  auto *watch = static_cast<DeviceWatch *>(self);
  std::vector<std::string> gone;
  {
    platform::MutexLock lock(watch->mutex_);
    for (auto it = watch->nodeBySysPath_.begin(); it != watch->nodeBySysPath_.end();) {
      if (UnderPath(path, it->first)) {
        gone.push_back(it->second);
        it = watch->nodeBySysPath_.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (gone.empty()) return;
  for (const std::string &node : gone) {
    if (watch->log_) watch->log_(node + " is gone");
  }
  watch->devices_.PortsGone(gone);
}

}  // namespace hub
