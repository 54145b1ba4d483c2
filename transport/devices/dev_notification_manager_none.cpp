// Builds without a source of device events (Windows, for now): the manager exists, so that a USB
// driver installs its callbacks and attaches what the device tree shows when it opens, but no
// plug or unplug ever reaches it.
#include "devices/dev_notification_manager.h"

namespace vrn {

DevNotificationManager *DevNotificationManager::GetInstance() { return new DevNotificationManager(); }

void DevNotificationManager::Release(DevNotificationManager *manager) { delete manager; }

DevNotificationManager::DevNotificationManager() = default;

DevNotificationManager::~DevNotificationManager() = default;

// Without a thread of its own the arrival is delivered at once.
void DevNotificationManager::PostArrival(const DeviceInfo &info) { CallArrival(info); }

}  // namespace vrn
