// A caller's document, read from its JSON into the printer library's calls that print it. The
// reader is strict: a document with any fault gives one error and no steps, so nothing of it
// reaches the device, and whatever it gives is sound to send as it stands.
//
// Every document is a JSON object of at most kMaxRequestBytes. "key" (optional, 1..200 bytes, no
// control characters) makes a retried request the same document. Members not listed are refused,
// so a misspelt one is never silently ignored. Amounts have at most two decimals and are at most
// 21474836.47, quantities at most three decimals and 2147483.647, percentages at most two
// decimals. Texts are UTF-8 with characters of the device's code page and no control characters;
// each may hold kTextMax characters, one printed line.
//
// receipt:
//   {"key": "...",
//    "operator": {"number": 1, "password": "0000", "till": 1},
//    "items": [{"text": "Bread", "taxGroup": "B", "price": 1.20, "quantity": 2, "discount": 5},
//              {"plu": 12, "quantity": 1},
//              {"department": 3, "price": 2.50}],
//    "texts": ["Thank you"],
//    "payments": [{"type": "P", "amount": 10.00}]}
//   operator: number 1..30, password 1..32 characters (no comma), till 1..99999.
//   items (1..500): exactly one of text with taxGroup (A..E) and price (a free sale), plu
//   (0..999999999: a programmed article, at its own price unless price is given) or department
//   (1..99, at its fixed price unless price is given). A price is above 0. quantity (above 0)
//   defaults to 1. discount is a percentage off the line, up to 100; negative for a surcharge.
//   texts (0..50): printed after the items. payments (0..50): type A..Z and an amount above 0;
//   none pays the whole receipt in cash.
//   Steps: BeginFiscalBon, Sale / SalePlu / SaleDept per item, PrintFiscalText per text, Total
//   per payment (or Total("", "", 0)), EndFiscalBon.
// non-fiscal:
//   {"key": "...", "lines": ["...", ...]}   lines 0..500, each may be empty.
//   Steps: BeginNonFiscalBon, PrintNonFiscalText per line, EndNonFiscalBon.
// report:
//   {"key": "...", "type": "X"}             the day's report, printed only
//   {"key": "...", "type": "Z"}             the day's report that closes the day
//   {"key": "...", "type": "period", "from": 1, "to": 7}   the Z reports from..to (1..9999)
//   Steps: DayReport(2, 0), DayReport(0, 0) or PrintReportByNum(from, to).
// cash:
//   {"key": "...", "amount": 12.50}         cash in; negative for cash out; never 0.
//   Step: ServiceInputOutput(amount).
// command:
//   {"key": "...", "command": 90, "data": "..."}   any command 0..255 with its data as it is
//   (tab and line feed allowed), at most kCommandDataMax bytes in the code page.
//   Step: TestPrinter(command, data).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "device_text.h"

namespace hub {

enum class DocumentKind { Receipt, NonFiscal, Report, Cash, Command };

// "receipt", "non-fiscal", "report", "cash", "command".
std::string_view KindName(DocumentKind kind);

// One export of the printer library: its name and its arguments in order, outs left out. Texts
// are byte strings (device_text.h) in the device's code page; a char argument is a byte string of
// 0 or 1 character.
struct Step {
  std::string op;
  nlohmann::json args;

  bool operator==(const Step &) const = default;
};

struct Document {
  DocumentKind kind = DocumentKind::Receipt;
  std::string key;          // empty when the document has none
  nlohmann::json request;   // the document as read, UTF-8 as the caller wrote it
  std::vector<Step> steps;  // everything to send, in order
};

struct RequestError {
  int status = 400;     // 400 malformed JSON or structure, 413 too large, 422 unsound values
  std::string code;     // "bad-json", "unknown-member", "bad-amount", "text-not-in-code-page", ...
  std::string message;  // names the member: "items[2].price: 1e+300 is beyond 21474836.47"
};

inline constexpr size_t kMaxRequestBytes = 256 * 1024;
// Characters of an item's text, a fiscal text or a non-fiscal line: one line of the paper.
inline constexpr size_t kTextMax = 48;
// Bytes of a command's data: what one frame carries.
inline constexpr size_t kCommandDataMax = 219;

std::variant<Document, RequestError> ReadDocument(DocumentKind kind, std::string_view body, const DeviceText &text);

// The library's rule for the numbers it prints (tallyport's Printable), mirrored so that the hub
// refuses what the library would refuse with 10006 halfway through a document: finite, and at
// most 21474836.47 for an amount, 2147483.647 for a quantity, 999.99 for a percentage, either way,
// in the units the library prints, cut toward zero.
enum class NumberKind { Amount, Quantity, Percent };
bool Printable(double value, NumberKind kind);

}  // namespace hub
