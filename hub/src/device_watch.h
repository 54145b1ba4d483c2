// Follows fiscal USB devices as they are plugged and unplugged, through the transport library's
// device notifications (a udev monitor on Linux): when a fiscal device's serial port appears the
// hub scans it by itself, and when it vanishes the device served there is marked absent. Only
// ports of the fiscal device's USB ids are probed on a plug.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices.h"
#include "platform/mutex.h"

namespace vrn {
class DevNotificationManager;
struct DeviceInfo;
}  // namespace vrn

namespace hub {

class DeviceWatch {
 public:
  using Log = std::function<void(const std::string &line)>;
  // Starts following; nothing when no monitor can be had here (no udev), with the reason in
  // `why`. The devices must outlive the watch. `log` hears of devices found and ports gone.
  static std::unique_ptr<DeviceWatch> Start(Devices &devices, Log log, std::string &why);
  // Returns once no plug is being handled any more.
  ~DeviceWatch();
  DeviceWatch(const DeviceWatch &) = delete;
  DeviceWatch &operator=(const DeviceWatch &) = delete;

  // The serial ports of the fiscal USB devices present now.
  static std::vector<std::string> PresentPorts();

 private:
  DeviceWatch(Devices &devices, Log log);
  static bool OnArrival(const vrn::DeviceInfo &info, void *self);
  static void OnRemoval(const char *path, void *self);
  // Learns where each present fiscal device's port sits in the device tree; its ports.
  std::vector<std::string> Refresh() EXCLUDES(mutex_);

  Devices &devices_;
  const Log log_;
  vrn::DevNotificationManager *manager_ = nullptr;
  platform::Mutex mutex_;
  // Each known port's node, by the sysfs path of its USB device: a removal names the device or
  // one of its children, and by then the port can no longer be looked up.
  std::map<std::string, std::string> nodeBySysPath_ GUARDED_BY(mutex_);
};

}  // namespace hub
