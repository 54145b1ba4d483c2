// A settings group read from or written to a device, with the commands and data the service tool
// sends for it (tool/settings), each as one raw command (TestPrinter) on the device's line:
//   header     reads lines 0..9 (43 "I<n>"); a write reads them first and writes only the lines
//              that change, after the report check (196) when line 8 or 9 does.
//   tax-rates  reads 97; a write is the report check, then 96 with all five rates.
//   tcpip      reads 37 "R"; a write reads it first (DHCP keeps the device's addresses), then 37.
//   gprs       reads 176 "R"; a write reads it first (the password stays unless given), then 176.
//   clock      reads 62; writes 61.
//   operators  the report check, then 102 per operator. Written only.
//   code-table the four blocks of 164. Written only.
// A write then reads its group back and answers what the device now holds.
//
// Answers: 200 with the group ({"lines": [...]}, {"A": 20.0, ..., "PnP": null}, {"dhcp": false,
// "address": "...", ...}, {"apn", "user"} (never the password), {"time": "..."}; for the groups
// written only, what was written). Otherwise {"error": {"code", "message", ...}}:
//   409 report-needed    the device wants a report first; nothing was written
//   502 device-refused   the device refused a command
//   502 no-answer        a command got no answer (or a garbled one): it may have taken effect
//   502 not-connected    the line is down; nothing was sent
//   502 unreadable-reply the device answered with something that is no value of the group
//   502 not-read-back    everything was written, but reading it back failed
// A failed write's error says what was written ("written"), what may have been ("uncertain")
// and what was not ("notWritten"), by line, operator or block; for a group written whole it is
// the group's name.
#pragma once

#include <nlohmann/json.hpp>

#include "device.h"
#include "device_text.h"
#include "settings_request.h"

namespace hub {

struct SettingsAnswer {
  int status = 200;
  nlohmann::json body;
};

SettingsAnswer ReadSettingsGroup(SettingsGroup group, const Device::LineCall &call, const DeviceText &text);
SettingsAnswer WriteSettingsGroup(const SettingsWrite &write, const Device::LineCall &call, const DeviceText &text);

}  // namespace hub
