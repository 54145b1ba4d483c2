// What only the service tool programmes: the wired addressing, the GPRS link with its lock, and
// the counters.
#include <cstdio>

#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

constexpr unsigned kTcpIpDhcp = 22;
constexpr unsigned kTcpIpStatic = 518204736;
constexpr size_t kMaskAt = 4;

void RegisterTcpIp(DeviceModel &model) {
  // "R" reads the 20 octets (address, mask, gateway, two name servers); under DHCP the mask
  // reads 0.0.0.0. "P<mode>,<20 octets>" writes them.
  model.Register(command::kTcpIp, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data == "R") {
      std::string reply;
      for (size_t i = 0; i < s.tcpIp.size(); ++i) {
        const bool masked = s.dhcp && i >= kMaskAt && i < kMaskAt + 4;
        reply += (i == 0 ? "" : ",") + std::to_string(masked ? 0 : s.tcpIp[i]);
      }
      return Answer::Ok(reply);
    }
    if (data.empty() || data[0] != 'P') return Answer::SyntaxError();
    const auto f = SplitFields(data.substr(1), ',');
    if (f.size() != 1 + s.tcpIp.size()) return Answer::SyntaxError();
    const auto mode = ParseDecimal(f[0], kTcpIpStatic);
    if (!mode || (*mode != kTcpIpDhcp && *mode != kTcpIpStatic)) return Answer::SyntaxError();
    std::array<uint8_t, 20> octets{};
    for (size_t i = 0; i < octets.size(); ++i) {
      const auto octet = ParseDecimal(f[i + 1], 255);
      if (!octet) return Answer::SyntaxError();
      octets[i] = static_cast<uint8_t>(*octet);
    }
    s.tcpIp = octets;
    s.dhcp = *mode == kTcpIpDhcp;
    return Answer::Ok();
  });
}

void RegisterGprs(DeviceModel &model) {
  // "R" reads "<apn>,<user>,<password>"; "P<apn>,<user>,<password>" writes them.
  model.Register(command::kGprs, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data == "R") return Answer::Ok(s.gprsApn + ',' + s.gprsUser + ',' + s.gprsPassword);
    if (data.empty() || data[0] != 'P') return Answer::SyntaxError();
    const auto f = SplitFields(data.substr(1), ',');
    if (f.size() != 3) return Answer::SyntaxError();
    s.gprsApn = std::string(f[0]);
    s.gprsUser = std::string(f[1]);
    s.gprsPassword = std::string(f[2]);
    return Answer::Ok();
  });

  // The connection test passes while the link is up with an access point.
  model.Register(command::kGprsTest, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    DeviceState &s = m.State();
    ++s.gprsTests;
    return Answer::Ok(s.gprsLinkUp && !s.gprsApn.empty() ? "PP" : "PF");
  });

  // "<k1>,<k2>,<k3>,<k4>": a key other than the device's is refused and the lock stays.
  model.Register(command::kUnlock, [](DeviceModel &m, std::string_view data) {
    if (SplitFields(data, ',').size() != 4) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (data != s.unlockKey) return Answer::NotAllowed();
    s.locked = false;
    return Answer::Ok();
  });

  // The lock's state: "L" while locked, else the identification number it is unlocked for.
  // Asked with a key, the key must be the device's.
  model.Register(command::kLockState, [](DeviceModel &m, std::string_view data) {
    const DeviceState &s = m.State();
    if (!data.empty() && data != s.unlockKey) return Answer::NotAllowed();
    return Answer::Ok(s.locked ? "L" : s.lockOwner);
  });
}

// "<first>\n<second>": the two values as the tool sends them; what they count is the device's.
void RegisterCounters(DeviceModel &model) {
  model.Register(command::kCounters, [](DeviceModel &m, std::string_view data) {
    const size_t newline = data.find('\n');
    if (newline == std::string_view::npos || data.find('\n', newline + 1) != std::string_view::npos) {
      return Answer::SyntaxError();
    }
    m.State().counters = {std::string(data.substr(0, newline)), std::string(data.substr(newline + 1))};
    return Answer::Ok();
  });
}

}  // namespace

void RegisterNetworkCommands(DeviceModel &model) {
  RegisterTcpIp(model);
  RegisterGprs(model);
  RegisterCounters(model);
}

}  // namespace fiscalsim
