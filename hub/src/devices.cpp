#include "devices.h"

#include <set>
#include <thread>
#include <utility>

#include "platform/trace.h"

namespace hub {
namespace {

struct Probe {
  std::string port;
  std::unique_ptr<DevicePort> line;
  std::optional<DeviceIdentity> identity;
  std::string note;
};

void Identify(Probe &probe, const DeviceText &text) {
  const CallResult r = probe.line->Call("GetDiagnosticInfo", nlohmann::json::array({0}));
  if (EffectOf(r) != Effect::Executed) {
    probe.note =
        r.code == kSuccess ? "the device refused command 90" : "no device answered (" + std::to_string(r.code) + ")";
    return;
  }
  const nlohmann::json &reply = r.out.contains("text") ? r.out["text"] : nlohmann::json();
  const std::optional<std::string> bytes =
      reply.is_string() ? ByteStringToBytes(reply.get<std::string>()) : std::nullopt;
  probe.identity = bytes ? ParseIdentity(text.FromDevice(*bytes)) : std::nullopt;
  if (!probe.identity) {
    probe.note = "the device's answer to command 90 names no serial number";
    return;
  }
  probe.identity->port = probe.port;
}

}  // namespace

Devices::Devices(PortFactory factory, Store &store, const DeviceText &text)
    : factory_(std::move(factory)), store_(store), text_(text) {}

Devices::~Devices() {
  std::map<std::string, std::unique_ptr<Device>> devices;
  {
    platform::MutexLock lock(mutex_);
    devices.swap(bySerial_);
  }
  devices.clear();
}

std::vector<ScanResult> Devices::Scan(const std::vector<std::string> &ports) {
  platform::MutexLock scanning(scanMutex_);
  std::set<std::string> inUse;
  for (Device *device : All()) inUse.insert(device->Identity().port);
  std::vector<Probe> probes;
  for (const std::string &port : ports) {
    if (inUse.count(port) == 0) probes.push_back(Probe{port, factory_(port), std::nullopt, {}});
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
      platform::MutexLock lock(mutex_);
      if (bySerial_.count(probe.identity->serial) != 0) {
        result.note = "device " + probe.identity->serial + " is already served on " +
                      bySerial_[probe.identity->serial]->Identity().port;
      } else {
        result.serial = probe.identity->serial;
        result.note = "device " + result.serial;
        bySerial_[result.serial] = std::make_unique<Device>(*probe.identity, std::move(probe.line), store_, text_);
      }
    }
    platform::Trace("fiscal-hub: %s: %s", result.port.c_str(), result.note.c_str());
    results.push_back(std::move(result));
  }
  return results;
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
