// Builds without a source of device events (a platform other than Linux and Windows): there is
// no manager, so the drivers find no devices through it and only COM ports and the kernel-mode
// library's own attaches remain.
#include "devices/dev_notification_manager.h"

namespace vrn {

DevNotificationManager *DevNotificationManager::GetInstance() { return nullptr; }

void DevNotificationManager::Release(DevNotificationManager *manager) { delete manager; }

DevNotificationManager::DevNotificationManager() = default;

DevNotificationManager::~DevNotificationManager() = default;

// Without a thread of its own the arrival is delivered at once.
void DevNotificationManager::PostArrival(const DeviceInfo &info) { CallArrival(info); }

}  // namespace vrn
