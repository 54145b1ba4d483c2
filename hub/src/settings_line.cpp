#include "settings_line.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "core/command_codes.h"
#include "core/fields.h"

namespace hub {
namespace {

using nlohmann::json;
namespace cmd = tillwright::cmd;

constexpr const char *kTaxGroupNames[] = {"A", "B", "C", "D", "PnP"};
constexpr const char *kCodeTableBlockNames[] = {"80", "A0", "C0", "E0"};

// What a failed write says of each part asked for: written, perhaps written, or not written.
void PartsOutcome(json &error, json written, json uncertain, json notWritten) {
  error["written"] = std::move(written);
  error["uncertain"] = std::move(uncertain);
  error["notWritten"] = std::move(notWritten);
}

// The commands of one request on the line, and how the first that did not go through failed.
class Exchange {
 public:
  explicit Exchange(const Device::LineCall &call) : call_(call) {}

  // The reply's bytes when the device took the command.
  std::optional<std::string> Send(uint16_t command, const std::string &data) {
    CallResult result = call_("TestPrinter", json::array({command, BytesToByteString(data)}));
    const Effect effect = EffectOf(result);
    if (effect == Effect::Executed) {
      const json *text = result.out.is_object() && result.out.contains("text") && result.out["text"].is_string()
                             ? &result.out["text"]
                             : nullptr;
      return text != nullptr ? ByteStringToBytes(text->get<std::string>()).value_or(std::string()) : std::string();
    }
    command_ = command;
    effect_ = effect;
    failed_ = std::move(result);
    return std::nullopt;
  }

  // The failed command may have taken effect.
  bool Uncertain() const { return effect_ == Effect::Unknown; }
  bool Refused() const { return effect_ == Effect::Refused; }

  // 502 for the failed command, done while `doing`. `written`, `uncertain` and `notWritten` go
  // with it when one of them is given.
  SettingsAnswer Fault(const std::string &doing, const json &written = nullptr, const json &uncertain = nullptr,
                       const json &notWritten = nullptr) const {
    std::string code = "device-refused";
    std::string what = "the device refused command " + std::to_string(command_);
    if (effect_ == Effect::Unknown) {
      code = "no-answer";
      what = "command " + std::to_string(command_) + " got no sound answer (it may have taken effect)";
    } else if (effect_ == Effect::NotSent) {
      code = "not-connected";
      what = "command " + std::to_string(command_) + " could not be sent (the line is down)";
    }
    json error = {{"code", code},
                  {"message", what + " while " + doing},
                  {"command", command_},
                  {"result", failed_.code},
                  {"status", failed_.status}};
    if (!written.is_null() || !uncertain.is_null() || !notWritten.is_null()) {
      const auto listed = [](const json &parts) { return parts.is_null() ? json::array() : parts; };
      PartsOutcome(error, listed(written), listed(uncertain), listed(notWritten));
    }
    return {502, {{"error", error}}};
  }

 private:
  const Device::LineCall &call_;
  uint16_t command_ = 0;
  Effect effect_ = Effect::Executed;
  CallResult failed_;
};

SettingsAnswer Error(int status, const std::string &code, const std::string &message, json extra = json::object()) {
  extra["code"] = code;
  extra["message"] = message;
  return {status, {{"error", extra}}};
}

SettingsAnswer Unreadable(const std::string &what, const std::string &reply, const DeviceText &text) {
  return Error(502, "unreadable-reply", "the device's " + what + " is no value of the group",
               {{"reply", text.FromDevice(reply.substr(0, 200))}});
}

// A read or a write's read-back: the group's value, or why not.
using Read = std::variant<json, SettingsAnswer>;

// The tool's report check before a change the device may want reports for first. The tool asks
// the person and makes them; here nobody is asked, and a Z report closes the fiscal day, so the
// caller is told instead and nothing is written. A device that refuses the question wants none.
std::optional<SettingsAnswer> ReportCheck(Exchange &line, const json &notWritten) {
  const std::optional<std::string> reply = line.Send(cmd::kReportsNeeded, "");
  if (!reply) {
    if (line.Refused()) return std::nullopt;
    return line.Fault("asking which reports the device needs first", json::array(), json::array(), notWritten);
  }
  const std::vector<std::string> fields = tillwright::SplitFields(*reply);
  const auto flag = [&fields](size_t i) { return i < fields.size() && fields[i][0] == '1'; };
  json reports = json::array();
  // The daily Z report covers the other two.
  if (flag(0)) {
    reports.push_back("Z");
  } else {
    if (flag(1)) reports.push_back("clerk");
    if (flag(2)) reports.push_back("PLU");
  }
  if (reports.empty()) return std::nullopt;
  const std::string how = flag(0) ? "the daily Z report (a report document of type Z)"
                                  : "the clerk report (command 105) and/or the PLU report (command 111)";
  return Error(409, "report-needed", "the device wants " + how + " made before this change; nothing was written",
               {{"reports", reports}, {"written", json::array()}, {"notWritten", notWritten}});
}

Read ReadHeader(Exchange &line, const DeviceText &text, std::array<std::string, tillwright::kTextLines> *bytes) {
  json lines = json::array();
  for (size_t i = 0; i < tillwright::kTextLines; ++i) {
    std::optional<std::string> reply = line.Send(cmd::kTextLine, tillwright::TextLineReadData(i));
    if (!reply) return line.Fault("reading line " + std::to_string(i));
    // A cleared line is kept as one blank.
    if (*reply == " ") reply->clear();
    if (bytes != nullptr) (*bytes)[i] = *reply;
    lines.push_back(text.FromDevice(*reply));
  }
  return json{{"lines", lines}};
}

// A rate piece as the device writes it: digits with at most one point and two decimals.
bool RateText(std::string_view piece) {
  const size_t point = piece.find('.');
  const std::string_view whole = piece.substr(0, point);
  const std::string_view decimals = point == std::string_view::npos ? std::string_view() : piece.substr(point + 1);
  const auto digits = [](std::string_view s) { return s.find_first_not_of("0123456789") == std::string_view::npos; };
  return !whole.empty() && whole.size() <= 2 && digits(whole) && decimals.size() <= 2 && digits(decimals) &&
         (point == std::string_view::npos || !decimals.empty());
}

Read ReadTaxRates(Exchange &line, const DeviceText &text) {
  const std::optional<std::string> reply = line.Send(cmd::kTaxRates, "");
  if (!reply) return line.Fault("reading the tax rates");
  // Read as the tool reads it, refusing what it would take for a rate without being one.
  std::array<double, tillwright::kTaxGroups> rates{};
  std::array<bool, tillwright::kTaxGroups> undefined{};
  undefined.fill(true);
  tillwright::ReadTaxRates(*reply, rates, undefined);
  const std::vector<std::string> pieces = tillwright::SplitPieces(*reply);
  json answer = json::object();
  for (size_t g = 0; g < tillwright::kTaxGroups; ++g) {
    const std::string piece = g < pieces.size() ? pieces[g] : std::string();
    if (!piece.empty() && piece[0] != '-' && !RateText(piece)) return Unreadable("tax rates", *reply, text);
    answer[kTaxGroupNames[g]] = undefined[g] ? json(nullptr) : json(std::round(rates[g] * 100) / 100);
  }
  return answer;
}

Read ReadTcpIp(Exchange &line, const DeviceText &text, tillwright::TcpIpSettings *settings) {
  const std::optional<std::string> reply = line.Send(cmd::kTcpIp, cmd::kRead);
  if (!reply) return line.Fault("reading the TCP/IP settings");
  const std::vector<std::string> pieces = tillwright::SplitPieces(*reply);
  bool sound = pieces.size() == 20;
  for (const std::string &piece : pieces) {
    sound = sound && !piece.empty() && piece.size() <= 3 &&
            piece.find_first_not_of("0123456789") == std::string::npos && std::stoi(piece) <= 255;
  }
  if (!sound) return Unreadable("TCP/IP settings", *reply, text);
  const tillwright::TcpIpSettings read = tillwright::ReadTcpIp(*reply);
  if (settings != nullptr) *settings = read;
  json answer = {{"dhcp", read.dhcp}};
  for (size_t i = 0; i < kTcpIpAddressNames.size(); ++i) {
    answer[kTcpIpAddressNames[i]] = tillwright::DottedAddress(read.addresses[i]);
  }
  return answer;
}

Read ReadGprs(Exchange &line, const DeviceText &text, std::string *password) {
  const std::optional<std::string> reply = line.Send(cmd::kGprs, cmd::kRead);
  if (!reply) return line.Fault("reading the GPRS settings");
  std::string apn, user, current;
  tillwright::ReadGprs(*reply, apn, user, current);
  if (password != nullptr) *password = current;
  // The password stays on the device: an answer must not carry it.
  return json{{"apn", text.FromDevice(apn)}, {"user", text.FromDevice(user)}};
}

Read ReadClock(Exchange &line, const DeviceText &text) {
  const std::optional<std::string> reply = line.Send(cmd::kReadDateTime, "");
  if (!reply) return line.Fault("reading the clock");
  const std::optional<std::string> iso = IsoFromDeviceTime(*reply);
  if (!iso) return Unreadable("clock", *reply, text);
  return json{{"time", *iso}};
}

Read ReadGroup(SettingsGroup group, Exchange &line, const DeviceText &text) {
  switch (group) {
    case SettingsGroup::Header:
      return ReadHeader(line, text, nullptr);
    case SettingsGroup::TaxRates:
      return ReadTaxRates(line, text);
    case SettingsGroup::TcpIp:
      return ReadTcpIp(line, text, nullptr);
    case SettingsGroup::Gprs:
      return ReadGprs(line, text, nullptr);
    case SettingsGroup::Clock:
      return ReadClock(line, text);
    case SettingsGroup::Operators:
    case SettingsGroup::CodeTable:
      break;
  }
  return Error(405, "write-only", "the device gives this group to nobody: it can only be written");
}

SettingsAnswer Answer(Read read) {
  if (auto *answer = std::get_if<SettingsAnswer>(&read)) return std::move(*answer);
  return {200, std::move(std::get<json>(read))};
}

// Everything was written: what the device now holds.
SettingsAnswer ReadBack(SettingsGroup group, Exchange &line, const DeviceText &text, const json &written) {
  Read read = ReadGroup(group, line, text);
  if (auto *failed = std::get_if<SettingsAnswer>(&read)) {
    json &error = failed->body["error"];
    error["message"] = "written, but not read back: " + error.value("message", std::string());
    error["code"] = "not-read-back";
    PartsOutcome(error, written, json::array(), json::array());
    return std::move(*failed);
  }
  return {200, std::move(std::get<json>(read))};
}

SettingsAnswer WriteHeader(const HeaderWrite &write, Exchange &line, const DeviceText &text) {
  json asked = json::array();
  for (size_t i = 0; i < write.lines.size(); ++i) {
    if (write.lines[i]) asked.push_back(i);
  }
  std::array<std::string, tillwright::kTextLines> device;
  Read current = ReadHeader(line, text, &device);
  if (auto *failed = std::get_if<SettingsAnswer>(&current)) {
    PartsOutcome(failed->body["error"], json::array(), json::array(), asked);
    return std::move(*failed);
  }
  // Only the lines that change, as the tool writes them.
  std::vector<size_t> changed;
  bool advertisement = false;
  for (size_t i = 0; i < write.lines.size(); ++i) {
    if (!write.lines[i] || *write.lines[i] == device[i]) continue;
    changed.push_back(i);
    advertisement = advertisement || i >= tillwright::kHeaderTextLines;
  }
  if (advertisement) {
    if (auto stop = ReportCheck(line, json(changed))) return std::move(*stop);
  }
  json written = json::array();
  for (size_t n = 0; n < changed.size(); ++n) {
    const size_t i = changed[n];
    if (!line.Send(cmd::kTextLine, tillwright::TextLineWriteData(i, *write.lines[i]))) {
      json rest = json::array();
      for (size_t m = line.Uncertain() ? n + 1 : n; m < changed.size(); ++m) rest.push_back(changed[m]);
      return line.Fault("writing line " + std::to_string(i), written,
                        line.Uncertain() ? json::array({i}) : json::array(), rest);
    }
    written.push_back(i);
  }
  return ReadBack(SettingsGroup::Header, line, text, written);
}

// A group written by one command: all of it, none of it, or not known.
SettingsAnswer WholeFault(Exchange &line, SettingsGroup group, const std::string &doing) {
  const json name = json::array({SettingsGroupName(group)});
  return line.Uncertain() ? line.Fault(doing, json::array(), name, json::array())
                          : line.Fault(doing, json::array(), json::array(), name);
}

SettingsAnswer WriteTaxRates(const TaxRatesWrite &write, Exchange &line, const DeviceText &text) {
  const json name = json::array({SettingsGroupName(SettingsGroup::TaxRates)});
  if (auto stop = ReportCheck(line, name)) return std::move(*stop);
  std::array<double, tillwright::kTaxGroups> rates{};
  std::array<bool, tillwright::kTaxGroups> undefined{};
  for (size_t g = 0; g < tillwright::kTaxGroups; ++g) {
    undefined[g] = !write.hundredths[g].has_value();
    rates[g] = write.hundredths[g].value_or(0) / 100.0;
  }
  if (!line.Send(cmd::kSetTaxRates, tillwright::TaxRatesData(rates, undefined))) {
    return WholeFault(line, SettingsGroup::TaxRates, "writing the tax rates");
  }
  return ReadBack(SettingsGroup::TaxRates, line, text, name);
}

SettingsAnswer WriteTcpIp(const TcpIpWrite &write, Exchange &line, const DeviceText &text) {
  const json name = json::array({SettingsGroupName(SettingsGroup::TcpIp)});
  // Read first, as the tool does: under DHCP the addresses not given stay the device's.
  tillwright::TcpIpSettings settings;
  Read current = ReadTcpIp(line, text, &settings);
  if (auto *failed = std::get_if<SettingsAnswer>(&current)) {
    PartsOutcome(failed->body["error"], json::array(), json::array(), name);
    return std::move(*failed);
  }
  settings.dhcp = write.dhcp;
  for (size_t i = 0; i < write.addresses.size(); ++i) {
    if (write.addresses[i]) settings.addresses[i] = *write.addresses[i];
  }
  if (!line.Send(cmd::kTcpIp, tillwright::TcpIpWriteData(settings))) {
    return WholeFault(line, SettingsGroup::TcpIp, "writing the TCP/IP settings");
  }
  return ReadBack(SettingsGroup::TcpIp, line, text, name);
}

SettingsAnswer WriteGprs(const GprsWrite &write, Exchange &line, const DeviceText &text) {
  const json name = json::array({SettingsGroupName(SettingsGroup::Gprs)});
  std::string password;
  Read current = ReadGprs(line, text, &password);
  if (auto *failed = std::get_if<SettingsAnswer>(&current)) {
    PartsOutcome(failed->body["error"], json::array(), json::array(), name);
    return std::move(*failed);
  }
  if (!line.Send(cmd::kGprs, tillwright::GprsWriteData(write.apn, write.user, write.password.value_or(password)))) {
    return WholeFault(line, SettingsGroup::Gprs, "writing the GPRS settings");
  }
  return ReadBack(SettingsGroup::Gprs, line, text, name);
}

SettingsAnswer WriteClock(const ClockWrite &write, Exchange &line, const DeviceText &text) {
  if (!line.Send(cmd::kSetDateTime, write.deviceTime))
    return WholeFault(line, SettingsGroup::Clock, "setting the clock");
  return ReadBack(SettingsGroup::Clock, line, text, json::array({SettingsGroupName(SettingsGroup::Clock)}));
}

SettingsAnswer WriteOperators(const OperatorsWrite &write, Exchange &line) {
  json all = json::array();
  for (const OperatorWrite &op : write.operators) all.push_back(op.number);
  if (auto stop = ReportCheck(line, all)) return std::move(*stop);
  json written = json::array();
  for (size_t n = 0; n < write.operators.size(); ++n) {
    const OperatorWrite &op = write.operators[n];
    if (!line.Send(cmd::kClerkName, tillwright::OperatorNameData(op.number, op.password, op.name, op.idNumber))) {
      json rest = json::array();
      for (size_t m = line.Uncertain() ? n + 1 : n; m < write.operators.size(); ++m) {
        rest.push_back(write.operators[m].number);
      }
      return line.Fault("writing operator " + std::to_string(op.number), written,
                        line.Uncertain() ? json::array({op.number}) : json::array(), rest);
    }
    written.push_back(op.number);
  }
  return {200, {{"written", written}}};
}

SettingsAnswer WriteCodeTable(const CodeTableWrite &write, Exchange &line) {
  const std::array<std::string, 4> blocks = tillwright::CodeTableBlocks(write.codePage);
  json written = json::array();
  for (size_t n = 0; n < blocks.size(); ++n) {
    if (!line.Send(cmd::kCodeTable, blocks[n])) {
      json rest = json::array();
      for (size_t m = line.Uncertain() ? n + 1 : n; m < blocks.size(); ++m) rest.push_back(kCodeTableBlockNames[m]);
      // The blocks sent stay in the device; writing the table again mends it.
      return line.Fault(std::string("writing block ") + kCodeTableBlockNames[n] + " of the code table", written,
                        line.Uncertain() ? json::array({kCodeTableBlockNames[n]}) : json::array(), rest);
    }
    written.push_back(kCodeTableBlockNames[n]);
  }
  return {200, {{"table", write.codePage == tillwright::kCodePageDos ? "dos" : "win1251"}, {"written", written}}};
}

}  // namespace

SettingsAnswer ReadSettingsGroup(SettingsGroup group, const Device::LineCall &call, const DeviceText &text) {
  Exchange line(call);
  return Answer(ReadGroup(group, line, text));
}

SettingsAnswer WriteSettingsGroup(const SettingsWrite &write, const Device::LineCall &call, const DeviceText &text) {
  Exchange line(call);
  return std::visit(
      [&](const auto &w) -> SettingsAnswer {
        using W = std::decay_t<decltype(w)>;
        if constexpr (std::is_same_v<W, HeaderWrite>) return WriteHeader(w, line, text);
        if constexpr (std::is_same_v<W, TaxRatesWrite>) return WriteTaxRates(w, line, text);
        if constexpr (std::is_same_v<W, TcpIpWrite>) return WriteTcpIp(w, line, text);
        if constexpr (std::is_same_v<W, GprsWrite>) return WriteGprs(w, line, text);
        if constexpr (std::is_same_v<W, ClockWrite>) return WriteClock(w, line, text);
        if constexpr (std::is_same_v<W, OperatorsWrite>) return WriteOperators(w, line);
        if constexpr (std::is_same_v<W, CodeTableWrite>) return WriteCodeTable(w, line);
      },
      write);
}

}  // namespace hub
