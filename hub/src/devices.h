// The devices the hub serves, by serial number. A scan opens a line on each port, asks the
// device who it is (command 90) and keeps it under its serial, so a port that is renumbered
// changes nothing for the callers.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device.h"
#include "platform/mutex.h"

namespace hub {

// Makes the line for a port; nothing runs until its first call.
using PortFactory = std::function<std::unique_ptr<DevicePort>(const std::string &port)>;

struct ScanResult {
  std::string port;
  std::string serial;  // empty when no device answered there
  std::string note;    // what happened, for the log and the answer to a scan request
};

class Devices {
 public:
  Devices(PortFactory factory, Store &store, const DeviceText &text);
  ~Devices();

  // Tries every port that no known device uses, all at once, and adds what answers. A device
  // already known under its serial keeps its line; the second port is reported and closed.
  std::vector<ScanResult> Scan(const std::vector<std::string> &ports);

  // Nothing for an unknown serial. The device lives as long as this object.
  Device *Find(const std::string &serial) const;
  std::vector<Device *> All() const;

 private:
  PortFactory factory_;
  Store &store_;
  const DeviceText &text_;
  // One scan at a time: two would open the same port twice.
  platform::Mutex scanMutex_;
  mutable platform::Mutex mutex_;
  std::map<std::string, std::unique_ptr<Device>> bySerial_ GUARDED_BY(mutex_);
};

}  // namespace hub
