#include "settings_request.h"

#include <cmath>
#include <cstdio>
#include <set>

#include <nlohmann/json.hpp>

#include "json_reader.h"

namespace hub {
namespace {

using nlohmann::json;
using reader::Fail;
using reader::Fault;
using reader::Find;
using reader::Member;
using reader::Members;
using reader::Need;
using reader::ParseObject;
using reader::Quoted;
using reader::String;

// Bodies are two deep; anything far deeper is refused before nlohmann recurses into it.
constexpr int kDepthMax = 8;
constexpr int kRateMax = 9999;  // hundredths of a percent

// Device bytes of at most `maxBytes`, printable; `separated` texts go out between commas.
std::string DeviceBytes(const json &value, const std::string &where, const DeviceText &text, size_t maxBytes,
                        bool separated) {
  const std::string &utf8 = String(value, where);
  const std::string tooLong = "longer than " + std::to_string(maxBytes) + " characters";
  if (utf8.size() > 4 * maxBytes) Fail(422, "text-too-long", where, tooLong);
  const std::optional<std::string> bytes = text.ToDevice(utf8);
  if (!bytes) {
    Fail(422, "text-not-in-code-page", where,
         "holds a character that is not in the device's code page " + std::to_string(text.CodePage()));
  }
  if (bytes->size() > maxBytes) Fail(422, "text-too-long", where, tooLong);
  for (const char c : *bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "%02X", b);
      Fail(422, "control-character", where, std::string("holds the control character 0x") + code);
    }
  }
  if (separated && bytes->find(',') != std::string::npos) {
    Fail(422, "comma", where, "must not hold a comma: the device would take it for the end of the field");
  }
  return *bytes;
}

int64_t Integer(const json &value, const std::string &where, int64_t min, int64_t max) {
  if (!value.is_number_integer()) Fail(400, "bad-type", where, "must be a whole number");
  // nlohmann keeps every number without a sign as unsigned, 0 included.
  const bool unsignedValue = value.is_number_unsigned();
  const bool above = unsignedValue ? value.get<uint64_t>() > static_cast<uint64_t>(max) : value.get<int64_t>() > max;
  const bool below =
      unsignedValue ? min > 0 && value.get<uint64_t>() < static_cast<uint64_t>(min) : value.get<int64_t>() < min;
  if (above || below) {
    Fail(422, "out-of-range", where, value.dump() + " is not in " + std::to_string(min) + ".." + std::to_string(max));
  }
  return value.get<int64_t>();
}

// A rate in hundredths of a percent, or nothing for null (undefined).
std::optional<int> Rate(const json &value, const std::string &where) {
  if (value.is_null()) return std::nullopt;
  if (!value.is_number()) Fail(400, "bad-type", where, "must be a number or null");
  const double rate = value.get<double>();
  if (!std::isfinite(rate) || rate < 0 || rate > kRateMax / 100.0 + 1e-9) {
    Fail(422, "bad-rate", where, value.dump() + " is not in 0..99.99");
  }
  const double hundredths = rate * 100;
  if (std::fabs(hundredths - std::nearbyint(hundredths)) > 1e-6) {
    Fail(422, "bad-rate", where, value.dump() + " has more than two decimals");
  }
  return static_cast<int>(std::nearbyint(hundredths));
}

// "a.b.c.d", each 0..255 in at most three digits.
uint32_t Address(const json &value, const std::string &where) {
  const std::string &text = String(value, where);
  uint32_t address = 0;
  size_t at = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet != 0) {
      if (at >= text.size() || text[at] != '.') Fail(422, "bad-address", where, Quoted(text) + " is no dotted address");
      ++at;
    }
    const size_t start = at;
    unsigned n = 0;
    while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9') n = n * 10 + (text[at++] - '0');
    if (at == start || n > 255) Fail(422, "bad-address", where, Quoted(text) + " is no dotted address");
    address = address << 8 | n;
  }
  if (at != text.size()) Fail(422, "bad-address", where, Quoted(text) + " is no dotted address");
  return address;
}

HeaderWrite Header(const json &body, const DeviceText &text) {
  Members(body, "", {"lines"});
  const json &lines = Need(body, "", "lines");
  if (!lines.is_array() || lines.size() != tillwright::kTextLines) {
    Fail(400, "bad-type", "lines", "must be an array of " + std::to_string(tillwright::kTextLines) + " texts or nulls");
  }
  HeaderWrite write;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].is_null()) continue;
    write.lines[i] = DeviceBytes(lines[i], "lines[" + std::to_string(i) + "]", text, tillwright::kTextLineMax, false);
  }
  return write;
}

TaxRatesWrite TaxRates(const json &body) {
  static constexpr const char *kGroups[] = {"A", "B", "C", "D", "PnP"};
  Members(body, "", {"A", "B", "C", "D", "PnP"});
  TaxRatesWrite write;
  for (size_t g = 0; g < tillwright::kTaxGroups; ++g)
    write.hundredths[g] = Rate(Need(body, "", kGroups[g]), kGroups[g]);
  return write;
}

TcpIpWrite TcpIp(const json &body) {
  Members(body, "", {"dhcp", "address", "mask", "gateway", "dns1", "dns2"});
  const json &dhcp = Need(body, "", "dhcp");
  if (!dhcp.is_boolean()) Fail(400, "bad-type", "dhcp", "must be true or false");
  TcpIpWrite write;
  write.dhcp = dhcp.get<bool>();
  for (size_t i = 0; i < kTcpIpAddressNames.size(); ++i) {
    const char *name = kTcpIpAddressNames[i];
    const json *value = Find(body, name);
    if (value == nullptr && !write.dhcp) Fail(400, "missing-member", name, "missing (only DHCP keeps the device's)");
    if (value != nullptr) write.addresses[i] = Address(*value, name);
  }
  if (!write.dhcp && write.addresses[tillwright::TcpIpSettings::kMask] == 0u) {
    Fail(422, "bad-address", "mask", "0.0.0.0 is the device's mark of DHCP; a fixed address needs a mask");
  }
  return write;
}

GprsWrite Gprs(const json &body, const DeviceText &text) {
  Members(body, "", {"apn", "user", "password"});
  GprsWrite write;
  write.apn = DeviceBytes(Need(body, "", "apn"), "apn", text, tillwright::kGprsTextMax, true);
  write.user = DeviceBytes(Need(body, "", "user"), "user", text, tillwright::kGprsTextMax, true);
  if (const json *password = Find(body, "password")) {
    write.password = DeviceBytes(*password, "password", text, tillwright::kGprsTextMax, true);
  }
  return write;
}

ClockWrite Clock(const json &body, const std::tm &localNow) {
  Members(body, "", {"time"});
  const std::string &time = String(Need(body, "", "time"), "time");
  if (time == "now") return {tillwright::DeviceDateTimeText(localNow)};
  // YYYY-MM-DDTHH:MM:SS, checked as a date of the calendar.
  static constexpr char kShape[] = "dddd-dd-ddTdd:dd:dd";
  bool shaped = time.size() == sizeof kShape - 1;
  for (size_t i = 0; shaped && i < time.size(); ++i) {
    shaped = kShape[i] == 'd' ? time[i] >= '0' && time[i] <= '9' : time[i] == kShape[i];
  }
  const auto number = [&time](size_t at, size_t n) { return std::stoi(time.substr(at, n)); };
  if (!shaped) Fail(422, "bad-time", "time", Quoted(time) + " is neither \"now\" nor YYYY-MM-DDTHH:MM:SS");
  std::tm tm{};
  tm.tm_year = number(0, 4) - 1900;
  tm.tm_mon = number(5, 2) - 1;
  tm.tm_mday = number(8, 2);
  tm.tm_hour = number(11, 2);
  tm.tm_min = number(14, 2);
  tm.tm_sec = number(17, 2);
  const int year = tm.tm_year + 1900;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  const bool dateOk = tm.tm_mon >= 0 && tm.tm_mon < 12 && tm.tm_mday >= 1 && tm.tm_mday <= kDays[tm.tm_mon] &&
                      (tm.tm_mon != 1 || tm.tm_mday <= 28 || leap);
  if (!dateOk || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59) {
    Fail(422, "bad-time", "time", Quoted(time) + " is no time of the calendar");
  }
  // The device keeps a two-digit year.
  if (year < 2000 || year > 2099) Fail(422, "bad-time", "time", "the device keeps years 2000..2099 only");
  return {tillwright::DeviceDateTimeText(tm)};
}

OperatorsWrite Operators(const json &body, const DeviceText &text) {
  Members(body, "", {"operators"});
  const json &list = Need(body, "", "operators");
  if (!list.is_array()) Fail(400, "bad-type", "operators", "must be an array");
  if (list.empty() || list.size() > static_cast<size_t>(kOperatorsMax)) {
    Fail(422, "too-many", "operators", "1.." + std::to_string(kOperatorsMax) + " operators");
  }
  OperatorsWrite write;
  std::set<int64_t> numbers;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string where = "operators[" + std::to_string(i) + "]";
    const json &entry = list[i];
    if (!entry.is_object()) Fail(400, "bad-type", where, "must be an object");
    Members(entry, where, {"number", "name", "password", "idNumber"});
    OperatorWrite op;
    const int64_t number = Integer(Need(entry, where, "number"), Member(where, "number"), 1, kOperatorsMax);
    if (!numbers.insert(number).second) Fail(422, "duplicate-operator", Member(where, "number"), "given twice");
    op.number = static_cast<int32_t>(number);
    op.name = DeviceBytes(Need(entry, where, "name"), Member(where, "name"), text, tillwright::kGprsTextMax, true);
    op.password =
        DeviceBytes(Need(entry, where, "password"), Member(where, "password"), text, tillwright::kGprsTextMax, true);
    // The device refuses an operator without a password.
    if (op.name.empty() || op.password.empty()) {
      Fail(422, "empty-text", Member(where, op.name.empty() ? "name" : "password"), "must not be empty");
    }
    if (const json *id = Find(entry, "idNumber")) {
      op.idNumber = DeviceBytes(*id, Member(where, "idNumber"), text, tillwright::kOperatorIdNumberMax, true);
    }
    write.operators.push_back(std::move(op));
  }
  return write;
}

CodeTableWrite CodeTable(const json &body) {
  Members(body, "", {"table"});
  const std::string &table = String(Need(body, "", "table"), "table");
  if (table == "win1251") return {tillwright::kCodePageWin1251};
  if (table == "dos") return {tillwright::kCodePageDos};
  Fail(422, "bad-table", "table", Quoted(table) + " is neither \"win1251\" nor \"dos\"");
}

constexpr std::array<std::string_view, 7> kGroupNames = {"header", "tax-rates", "tcpip",     "gprs",
                                                         "clock",  "operators", "code-table"};

}  // namespace

std::string_view SettingsGroupName(SettingsGroup group) { return kGroupNames[static_cast<size_t>(group)]; }

std::optional<SettingsGroup> SettingsGroupByName(std::string_view name) {
  for (size_t i = 0; i < kGroupNames.size(); ++i) {
    if (kGroupNames[i] == name) return static_cast<SettingsGroup>(i);
  }
  return std::nullopt;
}

bool SettingsReadable(SettingsGroup group) {
  return group != SettingsGroup::Operators && group != SettingsGroup::CodeTable;
}

std::variant<SettingsWrite, RequestError> ReadSettingsBody(SettingsGroup group, std::string_view body,
                                                           const DeviceText &text, const std::tm &localNow) {
  try {
    const json request = ParseObject(body, kDepthMax);
    switch (group) {
      case SettingsGroup::Header:
        return Header(request, text);
      case SettingsGroup::TaxRates:
        return TaxRates(request);
      case SettingsGroup::TcpIp:
        return TcpIp(request);
      case SettingsGroup::Gprs:
        return Gprs(request, text);
      case SettingsGroup::Clock:
        return Clock(request, localNow);
      case SettingsGroup::Operators:
        return Operators(request, text);
      case SettingsGroup::CodeTable:
        return CodeTable(request);
    }
    Fail(404, "unknown-group", "", "no such settings group");
  } catch (const Fault &fault) {
    return fault.error;
  }
}

std::optional<std::string> IsoFromDeviceTime(std::string_view deviceTime) {
  static constexpr char kShape[] = "dd-dd-dd dd:dd:dd";
  if (deviceTime.size() != sizeof kShape - 1) return std::nullopt;
  for (size_t i = 0; i < deviceTime.size(); ++i) {
    const bool ok = kShape[i] == 'd' ? deviceTime[i] >= '0' && deviceTime[i] <= '9' : deviceTime[i] == kShape[i];
    if (!ok) return std::nullopt;
  }
  const auto part = [deviceTime](size_t at) { return std::string(deviceTime.substr(at, 2)); };
  return "20" + part(6) + "-" + part(3) + "-" + part(0) + "T" + part(9) + ":" + part(12) + ":" + part(15);
}

}  // namespace hub
