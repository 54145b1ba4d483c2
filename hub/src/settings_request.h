// A device's settings as callers write them: the groups, and the strict reader of a PUT body. As
// with documents, a body with any fault gives one error and nothing else, so nothing of it reaches
// the device; texts come out as device bytes that are sound to send as they stand.
//
// Bodies (each a JSON object of at most kMaxRequestBytes; members not listed are refused):
// header:     {"lines": [10 × text or null]}   lines 0..7 the header, 8 and 9 the advertisement;
//             null leaves a line as it is, "" clears it. At most kTextLineMax characters each.
// tax-rates:  {"A": 20, "B": 9.5, "C": 0, "D": null, "PnP": null}   all five; 0..99.99 with at
//             most two decimals, null for an undefined group.
// tcpip:      {"dhcp": false, "address": "192.168.1.20", "mask": "255.255.255.0",
//              "gateway": "192.168.1.1", "dns1": "192.168.1.1", "dns2": "8.8.8.8"}
//             With dhcp false all five addresses, and a mask other than 0.0.0.0 (the device reads
//             that as DHCP). With dhcp true any of them may be left out: it keeps the device's.
// gprs:       {"apn": "...", "user": "...", "password": "..."}   at most kGprsTextMax characters
//             each, no comma (the device's field separator); without "password" the device keeps
//             its own.
// clock:      {"time": "2026-12-09T14:30:00"} (years 2000..2099) or {"time": "now"}: this
//             machine's local time.
// operators:  {"operators": [{"number": 1, "name": "Anna", "password": "1234", "idNumber": "..."}]}
//             1..30 operators, each number once; name and password 1..kGprsTextMax characters,
//             idNumber (optional) at most kOperatorIdNumberMax; none holds a comma.
// code-table: {"table": "win1251"} or {"table": "dos"}
// Texts are UTF-8 with characters of the device's code page and no control characters.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device_text.h"
#include "documents.h"
#include "settings/settings.h"

namespace hub {

enum class SettingsGroup { Header, TaxRates, TcpIp, Gprs, Clock, Operators, CodeTable };

// "header", "tax-rates", "tcpip", "gprs", "clock", "operators", "code-table".
std::string_view SettingsGroupName(SettingsGroup group);
std::optional<SettingsGroup> SettingsGroupByName(std::string_view name);
// The device gives operators and code tables to nobody: they are written only.
bool SettingsReadable(SettingsGroup group);

// Texts below are device bytes (not byte strings).
struct HeaderWrite {
  std::array<std::optional<std::string>, tillwright::kTextLines> lines;  // nothing: leave as it is
};
struct TaxRatesWrite {
  std::array<std::optional<int>, tillwright::kTaxGroups> hundredths;  // nothing: undefined
};
// Address, mask, gateway, DNS 1, DNS 2.
inline constexpr std::array<const char *, 5> kTcpIpAddressNames = {"address", "mask", "gateway", "dns1", "dns2"};
struct TcpIpWrite {
  bool dhcp = false;
  std::array<std::optional<uint32_t>, 5> addresses;  // nothing: keep the device's (DHCP only)
};
struct GprsWrite {
  std::string apn;
  std::string user;
  std::optional<std::string> password;  // nothing: keep the device's
};
struct ClockWrite {
  std::string deviceTime;  // "DD-MM-YY HH:MM:SS"
};
inline constexpr int64_t kOperatorsMax = 30;
struct OperatorWrite {
  int32_t number = 0;
  std::string name;
  std::string password;
  std::string idNumber;
};
struct OperatorsWrite {
  std::vector<OperatorWrite> operators;
};
struct CodeTableWrite {
  int codePage = tillwright::kCodePageWin1251;  // tillwright::kCodePageWin1251 or kCodePageDos
};
using SettingsWrite =
    std::variant<HeaderWrite, TaxRatesWrite, TcpIpWrite, GprsWrite, ClockWrite, OperatorsWrite, CodeTableWrite>;

// `localNow` gives the time {"time": "now"} stands for.
std::variant<SettingsWrite, RequestError> ReadSettingsBody(SettingsGroup group, std::string_view body,
                                                           const DeviceText &text, const std::tm &localNow);

// The device's clock text as ISO 8601 without a zone ("2026-12-09T14:30:00"), years 2000..2099;
// nothing for a text that is no time.
std::optional<std::string> IsoFromDeviceTime(std::string_view deviceTime);

}  // namespace hub
