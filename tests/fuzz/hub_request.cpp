// fiscal-hub's document reader on any body a caller may send, as each kind of document: it
// refuses with a status and a message that goes out in JSON, or gives steps that are sound to
// send: every text a byte string of printable device bytes that fits a frame, every number
// finite and within the library's fields, a receipt opened first and closed last. The same body
// goes to the settings reader as each group: refused likewise, or values within the device's
// fields, texts without the bytes that would end or split them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "device_text.h"
#include "documents.h"
#include "settings_request.h"

namespace {

using namespace hub;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Dumps what must go out in JSON; nlohmann throws for text that is no UTF-8.
bool Utf8(const nlohmann::json &value) {
  try {
    value.dump();
    return true;
  } catch (const nlohmann::json::exception &) {
    return false;
  }
}

void CheckArg(const Step &step, const nlohmann::json &arg) {
  if (arg.is_string()) {
    const auto bytes = ByteStringToBytes(arg.get<std::string>());
    Require(bytes.has_value() && bytes->size() <= kCommandDataMax);
    for (const char c : *bytes) {
      const auto b = static_cast<unsigned char>(c);
      const bool fieldBreak = c == '\t' || c == '\n';
      Require((b >= 0x20 && b != 0x7F) || (fieldBreak && step.op == "TestPrinter"));
    }
    return;
  }
  Require(arg.is_number());
  if (arg.is_number_float()) Require(Printable(arg.get<double>(), NumberKind::Amount));
}

void CheckDocument(DocumentKind kind, const Document &document) {
  Require(document.kind == kind && !document.steps.empty() && document.request.is_object());
  Require(document.key.size() <= 200 && Utf8(document.request));
  for (const Step &step : document.steps) {
    Require(!step.op.empty() && step.args.is_array());
    for (const auto &arg : step.args) CheckArg(step, arg);
  }
  const std::string &first = document.steps.front().op;
  const std::string &last = document.steps.back().op;
  if (kind == DocumentKind::Receipt) {
    Require(first == "BeginFiscalBon" && last == "EndFiscalBon" && document.steps.size() >= 4);
    Require(document.steps[document.steps.size() - 2].op == "Total");
  } else if (kind == DocumentKind::NonFiscal) {
    Require(first == "BeginNonFiscalBon" && last == "EndNonFiscalBon");
  } else {
    Require(document.steps.size() == 1);
  }
}

bool Printable(const std::string &bytes, size_t max, bool separated) {
  if (bytes.size() > max) return false;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || (separated && c == ',')) return false;
  }
  return true;
}

void CheckSettings(const SettingsWrite &write) {
  if (const auto *header = std::get_if<HeaderWrite>(&write)) {
    for (const auto &line : header->lines) Require(!line || Printable(*line, tillwright::kTextLineMax, false));
  } else if (const auto *rates = std::get_if<TaxRatesWrite>(&write)) {
    for (const auto &rate : rates->hundredths) Require(!rate || (*rate >= 0 && *rate <= 9999));
  } else if (const auto *net = std::get_if<TcpIpWrite>(&write)) {
    for (const auto &address : net->addresses) Require(net->dhcp || address.has_value());
    Require(net->dhcp || *net->addresses[tillwright::TcpIpSettings::kMask] != 0);
  } else if (const auto *gprs = std::get_if<GprsWrite>(&write)) {
    Require(Printable(gprs->apn, tillwright::kGprsTextMax, true) &&
            Printable(gprs->user, tillwright::kGprsTextMax, true));
    Require(!gprs->password || Printable(*gprs->password, tillwright::kGprsTextMax, true));
  } else if (const auto *clock = std::get_if<ClockWrite>(&write)) {
    Require(IsoFromDeviceTime(clock->deviceTime).has_value());
  } else if (const auto *ops = std::get_if<OperatorsWrite>(&write)) {
    Require(!ops->operators.empty() && ops->operators.size() <= static_cast<size_t>(kOperatorsMax));
    for (const OperatorWrite &op : ops->operators) {
      Require(op.number >= 1 && op.number <= kOperatorsMax && !op.name.empty() && !op.password.empty());
      Require(Printable(op.name, tillwright::kGprsTextMax, true) &&
              Printable(op.password, tillwright::kGprsTextMax, true));
      Require(Printable(op.idNumber, tillwright::kOperatorIdNumberMax, true));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view body(reinterpret_cast<const char *>(data), size);
  for (const int codePage : {1251, 1250}) {
    const DeviceText text(codePage);
    for (const DocumentKind kind : {DocumentKind::Receipt, DocumentKind::NonFiscal, DocumentKind::Report,
                                    DocumentKind::Cash, DocumentKind::Command}) {
      const auto result = ReadDocument(kind, body, text);
      if (const auto *error = std::get_if<RequestError>(&result)) {
        Require(error->status == 400 || error->status == 413 || error->status == 422);
        Require(!error->code.empty() && !error->message.empty() && Utf8(error->message));
      } else {
        CheckDocument(kind, std::get<Document>(result));
      }
    }
    const std::tm now{};
    for (const SettingsGroup group :
         {SettingsGroup::Header, SettingsGroup::TaxRates, SettingsGroup::TcpIp, SettingsGroup::Gprs,
          SettingsGroup::Clock, SettingsGroup::Operators, SettingsGroup::CodeTable}) {
      const auto result = ReadSettingsBody(group, body, text, now);
      if (const auto *error = std::get_if<RequestError>(&result)) {
        Require(error->status == 400 || error->status == 413 || error->status == 422);
        Require(!error->code.empty() && !error->message.empty() && Utf8(error->message));
      } else {
        CheckSettings(std::get<SettingsWrite>(result));
      }
    }
  }
  return 0;
}
