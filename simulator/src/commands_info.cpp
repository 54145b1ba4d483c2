#include "fiscalsim/device_model.h"

namespace fiscalsim {

void RegisterInfoCommands(DeviceModel &model) {
  // Hosts split this at commas and skip empty fields, so every field must be non-empty: the
  // fifth is the serial number, the sixth the fiscal memory number, the seventh the IMSI.
  // "1" and no data ask the same, as the diagnostic information of point-of-sale programs.
  model.Register(command::kDeviceInfo, [](DeviceModel &m, std::string_view data) {
    if (data != "0" && data != "1" && !data.empty()) return Answer::SyntaxError();
    const DeviceState &s = m.State();
    for (const std::string *field : {&s.firmware, &s.firmwareDate, &s.checksum, &s.switches, &s.serialNumber,
                                     &s.fiscalMemoryNumber, &s.imsi}) {
      if (field->empty() || field->find(',') != std::string::npos) return Answer::NotAllowed();
    }
    return Answer::Ok(s.firmware + ',' + s.firmwareDate + ',' + s.checksum + ',' + s.switches + ',' +
                      s.serialNumber + ',' + s.fiscalMemoryNumber + ',' + s.imsi);
  });
}

}  // namespace fiscalsim
