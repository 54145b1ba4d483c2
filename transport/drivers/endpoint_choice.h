// Which endpoints of a USB configuration carry the frames. A plain description of the
// configuration goes in, so that the rule is checked without a device; the libusb driver
// describes the device's configuration descriptor this way.
#pragma once

#include <cstdint>
#include <vector>

namespace vrn {

struct EndpointDescription {
  uint8_t address = 0;     // bit 7 set: IN
  uint8_t attributes = 0;  // bits 0..1: the transfer type
  uint16_t maxPacketSize = 0;
};

struct AltSettingDescription {
  uint8_t interfaceNumber = 0;
  std::vector<EndpointDescription> endpoints;
};

// An interface is its alternate settings in order; a configuration its interfaces in order.
using InterfaceDescription = std::vector<AltSettingDescription>;
using ConfigDescription = std::vector<InterfaceDescription>;

// OUT transfers go in pieces of at most this many bytes, whatever the endpoint takes.
inline constexpr int kMaxOutPacketSize = 32;

struct EndpointChoice {
  bool found = false;       // an IN and an OUT endpoint
  int interfaceNumber = 0;  // of the setting in which the second of the two was found
  uint8_t inEndpoint = 0;   // 0: none
  uint8_t outEndpoint = 0;
  bool inInterrupt = false;  // an interrupt endpoint (bulk otherwise)
  bool outInterrupt = false;
  int inPacketSize = 0;
  int outPacketSize = 0;  // at most kMaxOutPacketSize
};

// Walks the interfaces, their alternate settings and their endpoints in order, skipping
// settings with at most one endpoint. An endpoint whose attributes have bit 1 set (bulk and
// interrupt alike) becomes the IN endpoint (address bit 7 set) or the OUT endpoint, each only
// the first time; the walk ends as soon as both are there. Without both, `found` is false and
// whatever was found is reported.
EndpointChoice ChooseEndpoints(const ConfigDescription &config);

}  // namespace vrn
