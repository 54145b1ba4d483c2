#include "devices.h"

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <thread>
#include <utility>

#include "platform/port_names.h"
#include "platform/trace.h"

namespace hub {
namespace {

// The identity a line's device gives for command 90; nothing, with the reason in `note`, when it
// gives none.
std::optional<DeviceIdentity> AskIdentity(DevicePort &line, const DeviceText &text, std::string &note) {
  const CallResult r = line.Call("GetDiagnosticInfo", nlohmann::json::array({0}));
  if (EffectOf(r) != Effect::Executed) {
    note = r.code == kSuccess ? "the device refused command 90" : "no device answered (" + std::to_string(r.code) + ")";
    return std::nullopt;
  }
  const nlohmann::json &reply = r.out.contains("text") ? r.out["text"] : nlohmann::json();
  const std::optional<std::string> bytes =
      reply.is_string() ? ByteStringToBytes(reply.get<std::string>()) : std::nullopt;
  std::optional<DeviceIdentity> identity = bytes ? ParseIdentity(text.FromDevice(*bytes)) : std::nullopt;
  if (!identity) note = "the device's answer to command 90 names no serial number";
  return identity;
}

struct Probe {
  std::string port;
  std::unique_ptr<DevicePort> line;
  std::optional<DeviceIdentity> identity;
  std::string note;
};

void Identify(Probe &probe, const DeviceText &text) {
  probe.identity = AskIdentity(*probe.line, text, probe.note);
  if (probe.identity) probe.identity->port = probe.port;
}

}  // namespace

std::string PortNode(const std::string &port) {
  const std::string path = platform::ResolvePortName(port);
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  // Links (COM aliases, /dev/serial/by-id) followed one by one rather than by realpath:
  // umockdev's stand-in for realpath, under which the USB tests run, writes out of bounds.
  std::filesystem::path node = path;
  for (int depth = 0; depth < 16; ++depth) {
    std::error_code error;
    if (!std::filesystem::is_symlink(node, error)) break;
    const std::filesystem::path target = std::filesystem::read_symlink(node, error);
    if (error) break;
    node = (target.is_absolute() ? target : node.parent_path() / target).lexically_normal();
  }
  return node.string();
}

Devices::Devices(PortFactory factory, Store &store, const DeviceText &text, DevicesOptions options)
    : factory_(std::move(factory)), store_(store), text_(text), options_(std::move(options)) {}

Devices::~Devices() {
  Stop();
  // A scan in progress may still be probing a port.
  platform::MutexLock scanning(scanMutex_);
  std::map<std::string, std::unique_ptr<Device>> devices;
  {
    platform::MutexLock lock(mutex_);
    devices.swap(bySerial_);
  }
  devices.clear();
}

bool Devices::PortPresent(const std::string &port) const {
  return options_.portPresent ? options_.portPresent(port) : !PortNode(port).empty();
}

void Devices::Stop() {
  {
    platform::MutexLock lock(mutex_);
    stopped_ = true;
  }
  for (Device *device : All()) device->Stop();
}

std::vector<ScanResult> Devices::Scan(const std::vector<std::string> &ports) {
  platform::MutexLock scanning(scanMutex_);
  {
    platform::MutexLock lock(mutex_);
    if (stopped_) return {};
  }
  std::set<std::string> inUse;
  for (Device *device : All()) {
    const std::string port = device->Identity().port;
    const bool present = PortPresent(port);
    device->SetAbsent(!present);
    if (present) inUse.insert(port);
  }
  std::vector<Probe> probes;
  for (const std::string &port : ports) {
    if (inUse.insert(port).second) probes.push_back(Probe{port, factory_(port), std::nullopt, {}});
  }
  // Each port may take a device's whole time-out to stay silent: all of them at once.
  std::vector<std::thread> threads;
  threads.reserve(probes.size());
  for (Probe &probe : probes) threads.emplace_back([&probe, this] { Identify(probe, text_); });
  for (std::thread &thread : threads) thread.join();

  std::vector<ScanResult> results;
  for (Probe &probe : probes) {
    ScanResult result{probe.port, {}, probe.note};
    if (probe.identity) {
      const std::string serial = probe.identity->serial;
      Device *known = Find(serial);
      if (known == nullptr) {
        const std::string node = PortNode(probe.port);
        platform::MutexLock lock(mutex_);
        if (stopped_) {
          // Found while the hub stops: it would only begin settling its record.
          result.note = "device " + serial + " is left alone: the hub is stopping";
        } else {
          result.serial = serial;
          result.note = "device " + serial;
          nodeOf_[serial] = node;
          bySerial_[serial] = std::make_unique<Device>(*probe.identity, std::move(probe.line), store_, text_);
        }
      } else if (const std::string old = known->Identity().port; old == probe.port) {
        // Back under its old name: its own line opens the port again with its next command.
        known->SetAbsent(false);
        result.serial = serial;
        result.note = "device " + serial + " is back";
      } else {
        // Asked on the device's own thread, between its documents: its line is busy otherwise.
        std::function<bool(DevicePort &)> stillOurs;
        if (!known->Absent() && PortPresent(old)) {
          stillOurs = [serial, &text = text_](DevicePort &line) {
            std::string note;
            const std::optional<DeviceIdentity> there = AskIdentity(line, text, note);
            return there && there->serial == serial;
          };
        }
        switch (known->OfferLine(probe.port, std::move(probe.line), std::move(stillOurs), options_.moveWait)) {
          case Device::Offer::Moved: {
            result.serial = serial;
            result.note = "device " + serial + " moved here from " + old;
            const std::string node = PortNode(probe.port);
            platform::MutexLock lock(mutex_);
            nodeOf_[serial] = node;
            break;
          }
          case Device::Offer::StillServed:
            result.note = "device " + serial + " is already served on " + old;
            break;
          case Device::Offer::Undecided:
            result.note = "device " + serial + " answers here and is busy on " + old +
                          ": it moves here between its documents if it no longer answers there";
            break;
        }
      }
    }
    platform::Trace("fiscal-hub: %s: %s", result.port.c_str(), result.note.c_str());
    results.push_back(std::move(result));
  }
  return results;
}

void Devices::PortsGone(const std::vector<std::string> &nodes) {
  std::vector<Device *> gone;
  {
    platform::MutexLock lock(mutex_);
    for (const auto &[serial, device] : bySerial_) {
      const std::string port = device->Identity().port;
      const std::string &node = nodeOf_[serial];
      for (const std::string &vanished : nodes) {
        if (vanished == port || (!node.empty() && vanished == node)) {
          gone.push_back(device.get());
          break;
        }
      }
    }
  }
  for (Device *device : gone) device->SetAbsent(true);
}

Device *Devices::Find(const std::string &serial) const {
  platform::MutexLock lock(mutex_);
  const auto it = bySerial_.find(serial);
  return it == bySerial_.end() ? nullptr : it->second.get();
}

std::vector<Device *> Devices::All() const {
  platform::MutexLock lock(mutex_);
  std::vector<Device *> all;
  for (const auto &[serial, device] : bySerial_) all.push_back(device.get());
  return all;
}

}  // namespace hub
