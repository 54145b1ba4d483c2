#include "cli/backup_file.h"

#include <cmath>
#include <cstdio>
#include <set>

#include <nlohmann/json.hpp>

namespace tillwright::cli {
namespace {

using nlohmann::json;

constexpr std::array<const char *, 5> kAddressKeys = {"address", "mask", "gateway", "dns1", "dns2"};
// Objects in the file are three deep at most; anything deeper is no backup.
constexpr int kDepthMax = 4;

struct Fault {
  std::string text;
};

[[noreturn]] void Fail(const std::string &where, const std::string &what) { throw Fault{where + ": " + what}; }

const json &Object(const json &value, const std::string &where) {
  if (!value.is_object()) Fail(where, "must be an object");
  return value;
}

// Every key of `value` must be one of `keys`, and every one of `keys` there unless optional.
void Keys(const json &value, const std::string &where, std::initializer_list<const char *> keys, bool allRequired = true) {
  for (const auto &[key, v] : value.items()) {
    bool known = false;
    for (const char *k : keys) known = known || key == k;
    if (!known) Fail(where, "unknown key \"" + key.substr(0, 40) + "\"");
  }
  if (!allRequired) return;
  for (const char *k : keys)
    if (!value.contains(k)) Fail(where, std::string("missing \"") + k + "\"");
}

std::string Text(const json &value, const std::string &where, size_t maxBytes) {
  if (!value.is_string()) Fail(where, "must be a string");
  const auto &text = value.get_ref<const std::string &>();
  if (text.size() > maxBytes * 4) Fail(where, "longer than " + std::to_string(maxBytes) + " characters");
  return text;
}

// A UTF-8 text of the file as device bytes: every character must exist in the code page, and the
// bytes must fit the device's field. Control characters would end up as line breaks or worse.
std::string DeviceBytes(const json &value, const std::string &where, size_t maxBytes, const CodePage &codePage,
                        bool separated) {
  const std::string utf8 = Text(value, where, maxBytes);
  const std::string bytes = codePage.ToDevice(utf8);
  if (codePage.ToWidget(bytes) != utf8) Fail(where, "has characters the device's code page lacks");
  if (bytes.size() > maxBytes) Fail(where, "longer than " + std::to_string(maxBytes) + " characters");
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) Fail(where, "has a control character");
    if (separated && c == ',') Fail(where, "has a comma, which the device takes for the end of the field");
  }
  return bytes;
}

uint32_t Address(const json &value, const std::string &where) {
  const auto address = ParseDottedAddress(Text(value, where, 15));
  if (!address) Fail(where, "is no dotted address");
  return *address;
}

// One reader per group: `g` is the group's object, `where` its place in the document.
void ReadHeader(const json &g, const std::string &where, const CodePage &codePage, Backup &b) {
  Keys(g, where, {"lines"});
  const json &lines = g["lines"];
  if (!lines.is_array() || lines.size() != kTextLines)
    Fail(where + ".lines", "must be an array of " + std::to_string(kTextLines) + " texts");
  std::array<std::string, kTextLines> header;
  for (size_t i = 0; i < kTextLines; ++i)
    header[i] = DeviceBytes(lines[i], where + ".lines[" + std::to_string(i) + "]", kTextLineMax, codePage, false);
  b.header = header;
}

void ReadVat(const json &g, const std::string &where, const CodePage &, Backup &b) {
  Keys(g, where, {"rates"});
  const json &rates = g["rates"];
  if (!rates.is_array() || rates.size() != kTaxGroups)
    Fail(where + ".rates", "must be an array of " + std::to_string(kTaxGroups) + " rates");
  VatRates vat;
  for (size_t i = 0; i < kTaxGroups; ++i) {
    const std::string at = where + ".rates[" + std::to_string(i) + "]";
    if (rates[i].is_null()) continue;
    if (!rates[i].is_number()) Fail(at, "must be a number or null (undefined)");
    const double rate = rates[i].get<double>();
    if (!(rate >= 0 && rate <= kTaxRateMax)) Fail(at, "must lie between 0 and 99.99");
    vat.rates[i] = static_cast<int>(std::lround(rate * 100));
  }
  b.vat = vat;
}

void ReadDateTime(const json &g, const std::string &where, const CodePage &, Backup &b) {
  Keys(g, where, {"device_time"});
  const std::string time = Text(g["device_time"], where + ".device_time", 17);
  if (!IsDeviceTimeText(time)) Fail(where + ".device_time", "must read DD-MM-YY HH:MM:SS");
  b.dateTime = time;
}

void ReadTcpIp(const json &g, const std::string &where, const CodePage &, Backup &b) {
  Keys(g, where, {"dhcp", "address", "mask", "gateway", "dns1", "dns2"});
  if (!g["dhcp"].is_boolean()) Fail(where + ".dhcp", "must be true or false");
  TcpIpSettings net;
  net.dhcp = g["dhcp"].get<bool>();
  for (size_t i = 0; i < kAddressKeys.size(); ++i) net.addresses[i] = Address(g[kAddressKeys[i]], where + "." + kAddressKeys[i]);
  b.tcpIp = net;
}

void ReadGprs(const json &g, const std::string &where, const CodePage &codePage, Backup &b) {
  Keys(g, where, {"apn", "user"});
  b.gprs = GprsSettings{DeviceBytes(g["apn"], where + ".apn", kGprsTextMax, codePage, true),
                        DeviceBytes(g["user"], where + ".user", kGprsTextMax, codePage, true)};
}

struct GroupReader {
  Group group;
  void (*read)(const json &g, const std::string &where, const CodePage &codePage, Backup &b);
};

// In the order of kBackupGroups, so that the first fault named is the same whatever the file's
// order of keys.
constexpr GroupReader kGroupReaders[] = {{Group::Header, ReadHeader},
                                         {Group::Vat, ReadVat},
                                         {Group::DateTime, ReadDateTime},
                                         {Group::TcpIp, ReadTcpIp},
                                         {Group::Gprs, ReadGprs}};

// Refuses duplicate keys (the parser would keep the last silently) and nesting deeper than any
// backup has, while parsing.
class Checker {
 public:
  bool operator()(int depth, json::parse_event_t event, json &parsed) {
    if (depth > kDepthMax) {
      fault_ = "nested deeper than a backup is";
      return false;
    }
    switch (event) {
      case json::parse_event_t::object_start:
        keys_.emplace_back();
        break;
      case json::parse_event_t::object_end:
        if (!keys_.empty()) keys_.pop_back();
        break;
      case json::parse_event_t::key:
        if (!keys_.empty() && parsed.is_string() && !keys_.back().insert(parsed.get<std::string>()).second) {
          fault_ = "the key \"" + parsed.get<std::string>().substr(0, 40) + "\" appears twice";
          return false;
        }
        break;
      default:
        break;
    }
    return true;
  }
  const std::string &FaultText() const { return fault_; }

 private:
  std::vector<std::set<std::string>> keys_;
  std::string fault_;
};

}  // namespace

std::optional<uint32_t> ParseDottedAddress(std::string_view text) {
  uint32_t address = 0;
  size_t at = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet != 0) {
      if (at >= text.size() || text[at] != '.') return std::nullopt;
      ++at;
    }
    const size_t start = at;
    unsigned n = 0;
    while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9') n = n * 10 + (text[at++] - '0');
    if (at == start || n > 255) return std::nullopt;
    address = address << 8 | n;
  }
  if (at != text.size()) return std::nullopt;
  return address;
}

bool IsDeviceTimeText(std::string_view text) {
  static constexpr char kShape[] = "00-00-00 00:00:00";
  if (text.size() != sizeof kShape - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] == '0' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != kShape[i]) return false;
  }
  return true;
}

const char *GroupName(Group group) {
  switch (group) {
    case Group::Header: return "header";
    case Group::Vat: return "vat";
    case Group::DateTime: return "datetime";
    case Group::TcpIp: return "tcpip";
    case Group::Gprs: return "gprs";
  }
  return "?";
}

std::optional<Group> GroupByName(std::string_view name) {
  for (const Group g : kBackupGroups)
    if (name == GroupName(g)) return g;
  return std::nullopt;
}

bool Backup::Has(Group group) const {
  switch (group) {
    case Group::Header: return header.has_value();
    case Group::Vat: return vat.has_value();
    case Group::DateTime: return dateTime.has_value();
    case Group::TcpIp: return tcpIp.has_value();
    case Group::Gprs: return gprs.has_value();
  }
  return false;
}

std::optional<int> ParseRate(std::string_view text) {
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view decimals = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  const auto digits = [](std::string_view part) {
    for (const char c : part)
      if (c < '0' || c > '9') return false;
    return true;
  };
  if (whole.empty() || whole.size() > 2 || !digits(whole)) return std::nullopt;
  if (point != std::string_view::npos && (decimals.empty() || decimals.size() > 2 || !digits(decimals)))
    return std::nullopt;
  int hundredths = (whole.size() == 2 ? (whole[0] - '0') * 10 + (whole[1] - '0') : whole[0] - '0') * 100;
  if (!decimals.empty()) hundredths += (decimals[0] - '0') * 10 + (decimals.size() == 2 ? decimals[1] - '0' : 0);
  return hundredths;
}

std::optional<VatRates> VatFromReply(std::string_view reply, std::string *bad) {
  VatRates vat;
  size_t start = 0;
  for (size_t g = 0; g < kTaxGroups && start <= reply.size(); ++g) {
    const size_t comma = reply.find(',', start);
    const std::string_view piece =
        reply.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    start = comma == std::string_view::npos ? reply.size() + 1 : comma + 1;
    if (piece.empty() || piece[0] == '-') continue;
    vat.rates[g] = ParseRate(piece);
    if (!vat.rates[g]) {
      if (bad != nullptr) *bad = std::string(piece.substr(0, 40));
      return std::nullopt;
    }
  }
  return vat;
}

std::string VatWriteData(const VatRates &vat) {
  std::array<double, kTaxGroups> rates{};
  std::array<bool, kTaxGroups> undefined{};
  for (size_t g = 0; g < kTaxGroups; ++g) {
    undefined[g] = !vat.rates[g].has_value();
    rates[g] = vat.rates[g].value_or(0) / 100.0;
  }
  return TaxRatesData(rates, undefined);
}

std::string VatText(const std::optional<int> &rate) {
  if (!rate) return "undefined";
  char text[32];
  std::snprintf(text, sizeof text, "%d.%02d", *rate / 100, *rate % 100);
  return text;
}

std::string BackupToJson(const Backup &backup, const CodePage &codePage) {
  const auto utf8 = [&codePage](const std::string &bytes) { return codePage.ToWidget(bytes); };
  json doc = json::object();
  doc["format"] = kBackupFormat;
  doc["version"] = kBackupVersion;
  doc["taken"] = backup.taken;
  doc["device"] = {{"model", utf8(backup.device.model)},
                   {"firmware", utf8(backup.device.firmware)},
                   {"firmware_date", utf8(backup.device.firmwareDate)},
                   {"serial_number", utf8(backup.device.serialNumber)},
                   {"fiscal_memory_number", utf8(backup.device.fiscalMemoryNumber)}};
  json groups = json::object();
  if (backup.header) {
    json lines = json::array();
    for (const std::string &line : *backup.header) lines.push_back(utf8(line));
    groups["header"] = {{"lines", lines}};
  }
  if (backup.vat) {
    json rates = json::array();
    for (const auto &rate : backup.vat->rates) {
      if (rate) rates.push_back(*rate / 100.0);
      else rates.push_back(nullptr);
    }
    groups["vat"] = {{"rates", rates}};
  }
  if (backup.dateTime) groups["datetime"] = {{"device_time", utf8(*backup.dateTime)}};
  if (backup.tcpIp) {
    json net = {{"dhcp", backup.tcpIp->dhcp}};
    for (size_t i = 0; i < kAddressKeys.size(); ++i) net[kAddressKeys[i]] = DottedAddress(backup.tcpIp->addresses[i]);
    groups["tcpip"] = net;
  }
  if (backup.gprs) groups["gprs"] = {{"apn", utf8(backup.gprs->apn)}, {"user", utf8(backup.gprs->user)}};
  doc["groups"] = groups;
  // Bytes the code page does not define come out as U+FFFD, so the dump never meets bad UTF-8.
  return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool ParseBackup(std::string_view text, const CodePage &codePage, Backup &backup, std::string &error) {
  if (text.size() > kBackupFileMax) {
    error = "larger than " + std::to_string(kBackupFileMax / 1024) + " KiB: no backup";
    return false;
  }
  Checker checker;
  json doc = json::parse(
      text.begin(), text.end(), [&checker](int depth, json::parse_event_t event, json &parsed) {
        return checker(depth, event, parsed);
      },
      false);
  if (!checker.FaultText().empty()) {
    error = checker.FaultText();
    return false;
  }
  if (doc.is_discarded()) {
    error = "not a JSON document (malformed, truncated or followed by other text)";
    return false;
  }
  try {
    Backup b;
    Object(doc, "the document");
    Keys(doc, "the document", {"format", "version", "taken", "device", "groups"});
    if (!doc["format"].is_string() || doc["format"].get<std::string>() != kBackupFormat)
      Fail("format", std::string("must be \"") + kBackupFormat + "\"");
    if (!doc["version"].is_number_integer() || doc["version"].get<int64_t>() != kBackupVersion)
      Fail("version", "must be " + std::to_string(kBackupVersion) + ", the version this program reads");
    b.taken = Text(doc["taken"], "taken", 40);
    const json &device = Object(doc["device"], "device");
    Keys(device, "device", {"model", "firmware", "firmware_date", "serial_number", "fiscal_memory_number"});
    const auto identity = [&](const char *key) {
      return DeviceBytes(device[key], std::string("device.") + key, kIdentityTextMax, codePage, true);
    };
    b.device = {identity("model"), identity("firmware"), identity("firmware_date"), identity("serial_number"),
                identity("fiscal_memory_number")};

    const json &groups = Object(doc["groups"], "groups");
    for (const auto &[key, value] : groups.items()) {
      if (key == "operators" || key == "codetable" || key == "logo")
        Fail("groups", "\"" + key + "\" cannot be in a backup: the device gives it back to no one");
      if (!GroupByName(key)) Fail("groups", "unknown group \"" + key.substr(0, 40) + "\"");
    }
    for (const GroupReader &reader : kGroupReaders) {
      const char *name = GroupName(reader.group);
      if (!groups.contains(name)) continue;
      const std::string where = std::string("groups.") + name;
      reader.read(Object(groups[name], where), where, codePage, b);
    }
    backup = std::move(b);
    return true;
  } catch (const Fault &fault) {
    error = fault.text;
  } catch (const json::exception &e) {
    error = std::string("unreadable: ") + e.what();
  }
  return false;
}

std::vector<size_t> ChangedLines(const Backup &file, const Backup &device) {
  std::vector<size_t> lines;
  if (!file.header || !device.header) return lines;
  for (size_t i = 0; i < kTextLines; ++i) {
    // The device holds a cleared line as one blank.
    const auto same = [](const std::string &a, const std::string &b) {
      return a == b || (a.empty() && b == " ") || (a == " " && b.empty());
    };
    if (!same((*file.header)[i], (*device.header)[i])) lines.push_back(i);
  }
  return lines;
}

std::vector<Difference> Differences(const Backup &file, const Backup &device, const CodePage &codePage) {
  std::vector<Difference> out;
  for (const size_t line : ChangedLines(file, device)) {
    out.push_back({Group::Header, "line " + std::to_string(line), codePage.ToWidget((*device.header)[line]),
                   codePage.ToWidget((*file.header)[line])});
  }
  if (file.vat && device.vat) {
    static constexpr const char *kNames[] = {"A", "B", "C", "D", "PnP"};
    for (size_t g = 0; g < kTaxGroups; ++g) {
      if (file.vat->rates[g] != device.vat->rates[g])
        out.push_back({Group::Vat, kNames[g], VatText(device.vat->rates[g]), VatText(file.vat->rates[g])});
    }
  }
  if (file.tcpIp && device.tcpIp) {
    if (file.tcpIp->dhcp != device.tcpIp->dhcp)
      out.push_back({Group::TcpIp, "dhcp", device.tcpIp->dhcp ? "on" : "off", file.tcpIp->dhcp ? "on" : "off"});
    // With DHCP the device hides its mask; the addresses it reports are what it will keep.
    for (size_t i = 0; i < kAddressKeys.size(); ++i) {
      if (file.tcpIp->addresses[i] != device.tcpIp->addresses[i])
        out.push_back({Group::TcpIp, kAddressKeys[i], DottedAddress(device.tcpIp->addresses[i]),
                       DottedAddress(file.tcpIp->addresses[i])});
    }
  }
  if (file.gprs && device.gprs) {
    if (file.gprs->apn != device.gprs->apn)
      out.push_back({Group::Gprs, "apn", codePage.ToWidget(device.gprs->apn), codePage.ToWidget(file.gprs->apn)});
    if (file.gprs->user != device.gprs->user)
      out.push_back({Group::Gprs, "user", codePage.ToWidget(device.gprs->user), codePage.ToWidget(file.gprs->user)});
  }
  return out;
}

}  // namespace tillwright::cli
