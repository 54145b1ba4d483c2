#include "drivers/endpoint_choice.h"

#include <algorithm>

namespace vrn {
namespace {

constexpr uint8_t kDirectionIn = 0x80;
constexpr uint8_t kTransferTypeMask = 0x03;
constexpr uint8_t kTransferTypeInterrupt = 0x03;
// Set for bulk (2) and interrupt (3), clear for control (0) and isochronous (1).
constexpr uint8_t kBulkOrInterrupt = 0x02;

}  // namespace

EndpointChoice ChooseEndpoints(const ConfigDescription &config) {
  EndpointChoice choice;
  for (const InterfaceDescription &settings : config) {
    for (const AltSettingDescription &setting : settings) {
      if (setting.endpoints.size() <= 1) continue;
      for (const EndpointDescription &ep : setting.endpoints) {
        if ((ep.attributes & kBulkOrInterrupt) == 0) continue;
        const bool interrupt = (ep.attributes & kTransferTypeMask) == kTransferTypeInterrupt;
        if ((ep.address & kDirectionIn) != 0) {
          if (choice.inEndpoint == 0) {
            choice.inEndpoint = ep.address;
            choice.inPacketSize = ep.maxPacketSize;
            choice.inInterrupt = interrupt;
          }
        } else if (choice.outEndpoint == 0) {
          choice.outEndpoint = ep.address;
          choice.outPacketSize = std::min<int>(ep.maxPacketSize, kMaxOutPacketSize);
          choice.outInterrupt = interrupt;
        }
        if (choice.inEndpoint != 0 && choice.outEndpoint != 0) {
          choice.interfaceNumber = setting.interfaceNumber;
          choice.found = true;
          return choice;
        }
      }
    }
  }
  return choice;
}

}  // namespace vrn
