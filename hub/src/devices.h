// The devices the hub serves, by serial number. A scan opens a line on each port, asks the
// device who it is (command 90) and keeps it under its serial, so a port that is renumbered
// changes nothing for the callers: a known serial found on another port moves there once its
// old line is lost.
#pragma once

#include <chrono>
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
// Whether a port is there now.
using PortCheck = std::function<bool(const std::string &port)>;

struct ScanResult {
  std::string port;
  std::string serial;  // empty when no device answered there, or one served elsewhere did
  std::string note;    // what happened, for the log and the answer to a scan request
};

struct DevicesOptions {
  // Empty: the path the port name leads to exists (an alias's target included).
  PortCheck portPresent;
  // How long a scan waits for a device to decide whether it moves to the port where it was found
  // again: it decides between documents, and asking a silent old line takes up to five tries of
  // 2.5 s.
  std::chrono::milliseconds moveWait{30000};
};

class Devices {
 public:
  Devices(PortFactory factory, Store &store, const DeviceText &text, DevicesOptions options = {});
  // Stops first (below).
  ~Devices();

  // Tries every port that no present device uses, all at once, and adds what answers. First,
  // devices whose port is gone are marked absent and those whose port is back present. A device
  // already known under its serial and found on another port moves there when its old line is
  // lost (its port gone, or it no longer answers there): the scan reports "moved". While its old
  // line still answers, the second port is reported and closed.
  std::vector<ScanResult> Scan(const std::vector<std::string> &ports);

  // Device nodes that vanished ("/dev/ttyACM0"): devices reached through them are absent until
  // a scan finds them back.
  void PortsGone(const std::vector<std::string> &nodes);

  // For shutting down: every device stops after the document on its line, a scan waiting on a
  // device's move decision returns at once, and later scans find nothing.
  void Stop();

  // Nothing for an unknown serial. The device lives as long as this object.
  Device *Find(const std::string &serial) const;
  std::vector<Device *> All() const;

 private:
  bool PortPresent(const std::string &port) const;

  PortFactory factory_;
  Store &store_;
  const DeviceText &text_;
  const DevicesOptions options_;
  // One scan at a time: two would open the same port twice.
  platform::Mutex scanMutex_ ACQUIRED_BEFORE(mutex_);
  mutable platform::Mutex mutex_;
  std::map<std::string, std::unique_ptr<Device>> bySerial_ GUARDED_BY(mutex_);
  bool stopped_ GUARDED_BY(mutex_) = false;
  // The device node each device's port led to when it was found there, by serial: once the
  // node is gone the port name no longer says where it led.
  std::map<std::string, std::string> nodeOf_ GUARDED_BY(mutex_);
};

// The device node a port name leads to now (aliases followed); empty when there is none.
std::string PortNode(const std::string &port);

}  // namespace hub
