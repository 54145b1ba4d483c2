#include "documents.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <set>
#include <utility>

#include "json_reader.h"

namespace hub {
namespace {

using nlohmann::json;
using reader::Fail;
using reader::Fault;
using reader::Find;
using reader::Index;
using reader::Member;
using reader::Members;
using reader::Need;
using reader::ParseObject;
using reader::Quoted;
using reader::String;

constexpr size_t kKeyMax = 200;
constexpr size_t kPasswordMax = 32;
constexpr size_t kItemsMax = 500;
constexpr size_t kTextsMax = 50;
constexpr size_t kPaymentsMax = 50;
constexpr size_t kLinesMax = 500;
// The device's operators, tills, articles, departments and report numbers.
constexpr int64_t kClerks = 30;
constexpr int64_t kTillMax = 99999;
constexpr int64_t kPluMax = 999999999;
constexpr int64_t kDepartmentMax = 99;
constexpr int64_t kReportNumberMax = 9999;
// The device's tax groups are A..E; payments are any capital letter.
constexpr char kLastTaxGroup = 'E';
// A discount above 100 % would make a sale negative.
constexpr double kDiscountMax = 100;
// Our documents are three deep; nlohmann's reader and its values recurse with the depth, so a
// body nested deeper than this is refused before it is parsed.
constexpr int kDepthMax = 16;

const json &Object(const json &value, const std::string &where) {
  if (!value.is_object()) Fail(400, "bad-type", where, "must be an object");
  return value;
}

// An array of at most `max` elements.
const json &Array(const json &value, const std::string &where, size_t max) {
  if (!value.is_array()) Fail(400, "bad-type", where, "must be an array");
  if (value.size() > max) {
    Fail(422, "too-many", where, std::to_string(value.size()) + " elements, more than " + std::to_string(max));
  }
  return value;
}

int64_t Integer(const json &value, const std::string &where, int64_t min, int64_t max) {
  if (!value.is_number()) Fail(400, "bad-type", where, "must be a number");
  const std::string range = " is not in " + std::to_string(min) + ".." + std::to_string(max);
  if (value.is_number_unsigned()) {
    if (value.get<uint64_t>() > static_cast<uint64_t>(max)) Fail(422, "out-of-range", where, value.dump() + range);
  } else if (value.is_number_float()) {
    const double d = value.get<double>();
    if (!std::isfinite(d) || d != std::trunc(d)) Fail(422, "bad-integer", where, "must be a whole number");
    if (d < static_cast<double>(min) || d > static_cast<double>(max)) {
      Fail(422, "out-of-range", where, value.dump() + range);
    }
    return static_cast<int64_t>(d);
  }
  const auto n = value.get<int64_t>();
  if (n < min || n > max) Fail(422, "out-of-range", where, value.dump() + range);
  return n;
}

// Finite, within the field the library prints it to, and with no more decimals than the device
// gets: the library would round the rest away.
double Number(const json &value, const std::string &where, NumberKind kind, const char *code) {
  if (!value.is_number()) Fail(400, "bad-type", where, "must be a number");
  const double v = value.get<double>();
  if (!std::isfinite(v)) Fail(422, code, where, "beyond any number the device takes");
  static constexpr const char *kLimits[] = {"21474836.47", "2147483.647", "999.99"};
  const auto k = static_cast<size_t>(kind);
  if (!Printable(v, kind)) Fail(422, code, where, value.dump() + " is beyond " + kLimits[k]);
  const double scaled = v * (kind == NumberKind::Quantity ? 1000 : 100);
  if (std::fabs(scaled - std::nearbyint(scaled)) > 1e-6) {
    Fail(422, code, where,
         value.dump() + " has more than " + (kind == NumberKind::Quantity ? "three" : "two") + " decimals");
  }
  return v;
}

// What a text may hold besides the device's printable characters.
enum class Controls { None, TabAndLineFeed };

// The first character of `utf8` that the code page lacks, as UTF-8.
std::string FirstMissing(std::string_view utf8, const DeviceText &text) {
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::string_view character = utf8.substr(i, n);
    if (!text.ToDevice(character)) return std::string(character);
    i += n;
  }
  return {};
}

// A caller's UTF-8 text as a byte string of the device's code page, at most `maxBytes` bytes.
std::string DeviceString(const json &value, const std::string &where, const DeviceText &text, size_t maxBytes,
                         Controls controls = Controls::None) {
  const std::string &utf8 = String(value, where);
  const std::string tooLong = "longer than " + std::to_string(maxBytes) + " characters";
  // A character is at most four bytes of UTF-8 and one of the code page.
  if (utf8.size() > 4 * maxBytes) Fail(422, "text-too-long", where, tooLong);
  const std::optional<std::string> bytes = text.ToDevice(utf8);
  if (!bytes) {
    Fail(422, "text-not-in-code-page", where,
         Quoted(FirstMissing(utf8, text)) + " is not in the device's code page " + std::to_string(text.CodePage()));
  }
  if (bytes->size() > maxBytes) Fail(422, "text-too-long", where, tooLong);
  for (const char c : *bytes) {
    const auto b = static_cast<unsigned char>(c);
    const bool allowed = controls == Controls::TabAndLineFeed && (c == '\t' || c == '\n');
    // A tab would split the device's fields, a line feed or NUL end them.
    if ((b < 0x20 || b == 0x7F) && !allowed) {
      char code[8];
      std::snprintf(code, sizeof code, "%02X", b);
      Fail(422, "control-character", where, std::string("holds the control character 0x") + code);
    }
  }
  return BytesToByteString(*bytes);
}

std::string NonEmptyString(const json &value, const std::string &where, const DeviceText &text, size_t maxBytes) {
  std::string s = DeviceString(value, where, text, maxBytes);
  if (s.empty()) Fail(422, "empty-text", where, "must not be empty");
  return s;
}

std::string Key(const json &request) {
  const json *value = Find(request, "key");
  if (value == nullptr) return {};
  const std::string &key = String(*value, "key");
  if (key.empty() || key.size() > kKeyMax) {
    Fail(422, "bad-key", "key", "must be 1.." + std::to_string(kKeyMax) + " bytes");
  }
  for (const char c : key) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) Fail(422, "bad-key", "key", "holds a control character");
  }
  return key;
}

Step BeginReceipt(const json &value, const DeviceText &text) {
  const std::string where = "operator";
  const json &op = Object(value, where);
  Members(op, where, {"number", "password", "till"});
  const int64_t clerk = Integer(Need(op, where, "number"), Member(where, "number"), 1, kClerks);
  const std::string password =
      NonEmptyString(Need(op, where, "password"), Member(where, "password"), text, kPasswordMax);
  // The device reads the password as a field of a comma-separated list.
  if (password.find(',') != std::string::npos) Fail(422, "bad-password", Member(where, "password"), "holds a comma");
  const int64_t till = Integer(Need(op, where, "till"), Member(where, "till"), 1, kTillMax);
  return {"BeginFiscalBon", json::array({clerk, password, till, ""})};
}

// A price above 0, when the item has one; 0 (the library sends none) when it has not.
double Price(const json &item, const std::string &where) {
  const json *value = Find(item, "price");
  if (value == nullptr) return 0;
  const double price = Number(*value, Member(where, "price"), NumberKind::Amount, "bad-amount");
  if (price <= 0) Fail(422, "bad-amount", Member(where, "price"), "must be above 0");
  return price;
}

Step Sale(const json &value, const std::string &where, const DeviceText &text) {
  const json &item = Object(value, where);
  Members(item, where, {"text", "taxGroup", "price", "quantity", "discount", "plu", "department"});
  const bool free = item.contains("text") || item.contains("taxGroup");
  if (int(free) + int(item.contains("plu")) + int(item.contains("department")) != 1) {
    Fail(400, "bad-item", where, "must have exactly one of text with taxGroup, plu or department");
  }
  double quantity = 1;
  if (const json *q = Find(item, "quantity")) {
    quantity = Number(*q, Member(where, "quantity"), NumberKind::Quantity, "bad-quantity");
    if (quantity <= 0) Fail(422, "bad-quantity", Member(where, "quantity"), "must be above 0");
  }
  // The library's percentage is negative for a discount.
  double percent = 0;
  if (const json *d = Find(item, "discount")) {
    const double discount = Number(*d, Member(where, "discount"), NumberKind::Percent, "bad-discount");
    if (discount > kDiscountMax) Fail(422, "bad-discount", Member(where, "discount"), "must be at most 100");
    if (discount != 0) percent = -discount;
  }
  if (const json *plu = Find(item, "plu")) {
    return {"SalePlu",
            json::array({Integer(*plu, Member(where, "plu"), 0, kPluMax), quantity, percent, Price(item, where)})};
  }
  if (const json *department = Find(item, "department")) {
    return {"SaleDept", json::array({Integer(*department, Member(where, "department"), 1, kDepartmentMax), quantity,
                                     percent, Price(item, where)})};
  }
  const std::string itemText = NonEmptyString(Need(item, where, "text"), Member(where, "text"), text, kTextMax);
  const std::string &group = String(Need(item, where, "taxGroup"), Member(where, "taxGroup"));
  if (group.size() != 1 || group[0] < 'A' || group[0] > kLastTaxGroup) {
    Fail(422, "bad-tax-group", Member(where, "taxGroup"), "must be one of the letters A..E");
  }
  if (!item.contains("price")) Fail(400, "missing-member", Member(where, "price"), "missing");
  return {"Sale", json::array({itemText, group, Price(item, where), quantity, percent})};
}

Step Payment(const json &value, const std::string &where) {
  const json &payment = Object(value, where);
  Members(payment, where, {"type", "amount"});
  const std::string &type = String(Need(payment, where, "type"), Member(where, "type"));
  if (type.size() != 1 || type[0] < 'A' || type[0] > 'Z') {
    Fail(422, "bad-payment-type", Member(where, "type"), "must be one capital letter A..Z");
  }
  const double amount =
      Number(Need(payment, where, "amount"), Member(where, "amount"), NumberKind::Amount, "bad-amount");
  if (amount <= 0) Fail(422, "bad-amount", Member(where, "amount"), "must be above 0");
  return {"Total", json::array({"", type, amount})};
}

std::vector<Step> Receipt(const json &request, const DeviceText &text) {
  Members(request, "", {"key", "operator", "items", "texts", "payments"});
  std::vector<Step> steps{BeginReceipt(Need(request, "", "operator"), text)};
  const json &items = Array(Need(request, "", "items"), "items", kItemsMax);
  // The device takes no payment on a receipt without a sale.
  if (items.empty()) Fail(422, "no-items", "items", "a receipt needs at least one item");
  for (size_t i = 0; i < items.size(); ++i) steps.push_back(Sale(items[i], Index("items", i), text));
  if (const json *texts = Find(request, "texts")) {
    Array(*texts, "texts", kTextsMax);
    for (size_t i = 0; i < texts->size(); ++i) {
      steps.push_back(
          {"PrintFiscalText", json::array({NonEmptyString((*texts)[i], Index("texts", i), text, kTextMax)})});
    }
  }
  const json *payments = Find(request, "payments");
  if (payments != nullptr) Array(*payments, "payments", kPaymentsMax);
  if (payments == nullptr || payments->empty()) {
    // No payment type and no amount: the device takes the rest in cash.
    steps.push_back({"Total", json::array({"", "", 0})});
  } else {
    for (size_t i = 0; i < payments->size(); ++i) steps.push_back(Payment((*payments)[i], Index("payments", i)));
  }
  steps.push_back({"EndFiscalBon", json::array()});
  return steps;
}

std::vector<Step> NonFiscal(const json &request, const DeviceText &text) {
  Members(request, "", {"key", "lines"});
  const json &lines = Array(Need(request, "", "lines"), "lines", kLinesMax);
  std::vector<Step> steps{{"BeginNonFiscalBon", json::array()}};
  for (size_t i = 0; i < lines.size(); ++i) {
    steps.push_back({"PrintNonFiscalText", json::array({DeviceString(lines[i], Index("lines", i), text, kTextMax)})});
  }
  steps.push_back({"EndNonFiscalBon", json::array()});
  return steps;
}

std::vector<Step> Report(const json &request) {
  Members(request, "", {"key", "type", "from", "to"});
  const std::string &type = String(Need(request, "", "type"), "type");
  if (type == "X" || type == "Z") {
    for (const char *name : {"from", "to"}) {
      if (request.contains(name)) Fail(400, "unknown-member", name, "only a period report has it");
    }
    // Mode 2 prints the day's report, mode 0 prints it and closes the day.
    return {{"DayReport", json::array({type == "X" ? 2 : 0, 0})}};
  }
  if (type != "period") Fail(422, "bad-report-type", "type", Quoted(type) + " is none of \"X\", \"Z\", \"period\"");
  const int64_t from = Integer(Need(request, "", "from"), "from", 1, kReportNumberMax);
  const int64_t to = Integer(Need(request, "", "to"), "to", 1, kReportNumberMax);
  if (from > to) Fail(422, "bad-range", "from", std::to_string(from) + " is after to " + std::to_string(to));
  return {{"PrintReportByNum", json::array({from, to})}};
}

std::vector<Step> Cash(const json &request) {
  Members(request, "", {"key", "amount"});
  const double amount = Number(Need(request, "", "amount"), "amount", NumberKind::Amount, "bad-amount");
  if (amount == 0) Fail(422, "bad-amount", "amount", "0 moves no cash");
  return {{"ServiceInputOutput", json::array({amount})}};
}

std::vector<Step> Command(const json &request, const DeviceText &text) {
  Members(request, "", {"key", "command", "data"});
  const int64_t command = Integer(Need(request, "", "command"), "command", 0, 255);
  const json *data = Find(request, "data");
  // A command's data may separate its fields with tabs and line feeds.
  const std::string bytes =
      data != nullptr ? DeviceString(*data, "data", text, kCommandDataMax, Controls::TabAndLineFeed) : std::string();
  return {{"TestPrinter", json::array({command, bytes})}};
}

std::vector<Step> StepsOf(DocumentKind kind, const json &request, const DeviceText &text) {
  switch (kind) {
    case DocumentKind::Receipt:
      return Receipt(request, text);
    case DocumentKind::NonFiscal:
      return NonFiscal(request, text);
    case DocumentKind::Report:
      return Report(request);
    case DocumentKind::Cash:
      return Cash(request);
    case DocumentKind::Command:
      return Command(request, text);
  }
  Fail(400, "bad-kind", "", "no such kind of document");
}

}  // namespace

std::string_view KindName(DocumentKind kind) {
  switch (kind) {
    case DocumentKind::Receipt:
      return "receipt";
    case DocumentKind::NonFiscal:
      return "non-fiscal";
    case DocumentKind::Report:
      return "report";
    case DocumentKind::Cash:
      return "cash";
    case DocumentKind::Command:
      return "command";
  }
  return "?";
}

bool Printable(double value, NumberKind kind) {
  // As tallyport's Printable, to the operation: the two must never disagree.
  constexpr double kMax32 = 2147483647.0;
  if (!std::isfinite(value)) return false;
  double scale = 100;
  double limit = kMax32;
  switch (kind) {
    case NumberKind::Amount:
      break;
    case NumberKind::Quantity:
      scale = 1000;
      break;
    case NumberKind::Percent:
      limit = 99999;
      break;
  }
  return std::fabs(std::trunc(value * scale)) <= limit;
}

std::variant<Document, RequestError> ReadDocument(DocumentKind kind, std::string_view body, const DeviceText &text) {
  try {
    Document document;
    document.kind = kind;
    document.request = ParseObject(body, kDepthMax);
    document.key = Key(document.request);
    document.steps = StepsOf(kind, document.request, text);
    return document;
  } catch (const Fault &fault) {
    return fault.error;
  }
}

}  // namespace hub
