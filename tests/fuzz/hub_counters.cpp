// fiscal-hub's readers of the counters a device answers, on any answer: a counter is read only
// from an answer of exactly its layout, and what is read is within the device's fields.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "reconcile.h"

namespace {

using namespace hub;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

bool Digits(const std::string &s) { return s.find_first_not_of("0123456789") == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const nlohmann::json out = {{"text", text}};

  const auto documents = ReadCounter(Counter::Documents, out);
  Require(documents == ParseCounter(out) && documents == ReadCounter(Counter::ZReports, out));
  Require(documents.has_value() == (!text.empty() && text.size() <= 9 && Digits(text)));
  if (documents) Require(*documents >= 0 && *documents <= 999'999'999);

  const auto cashIn = ReadCounter(Counter::CashIn, out);
  const auto cashOut = ReadCounter(Counter::CashOut, out);
  Require(cashIn.has_value() == cashOut.has_value());
  if (cashIn) {
    size_t commas = 0;
    for (const char c : text) commas += c == ',';
    Require(commas == 2);
    for (const int64_t sum : {*cashIn, *cashOut}) Require(sum >= 0 && sum < 1'000'000'000'000'000);
  }

  Require(!ReadCounter(Counter::None, out));
  Require(!ReadCounter(Counter::Documents, nlohmann::json::object()));
  return 0;
}
