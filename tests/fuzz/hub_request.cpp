// fiscal-hub's document reader on any body a caller may send, as each kind of document: it
// refuses with a status and a message that goes out in JSON, or gives steps that are sound to
// send: every text a byte string of printable device bytes that fits a frame, every number
// finite and within the library's fields, a receipt opened first and closed last.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "device_text.h"
#include "documents.h"

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
  }
  return 0;
}
