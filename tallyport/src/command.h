// The common shape of a command export, and the small pieces every export needs: texts in and
// out, the widening rules of the templates, and the reply parsers.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "platform/trace.h"
#include "seriallink/result_codes.h"

namespace tallyport {

using seriallink::kBadAnswer;
using seriallink::kBadParameter;
using seriallink::kNoResponse;
using seriallink::kNotConnected;
using seriallink::kSuccess;

// snprintf into a string; the templates come from the device's command list and are used as
// they stand. A %c of NUL stays in the text, as the device has always received it.
std::string Format(const char *fmt, ...) PLATFORM_PRINTF(1, 2);

// NULL counts as empty.
inline const char *Text(const char *text) { return text ? text : ""; }
inline bool Empty(const char *text) { return text == nullptr || *text == '\0'; }
// The first character of a text, NUL for an empty one.
inline char First(const char *text) { return text ? *text : '\0'; }

// The device was built against a 32-bit runtime: %lu and %ld print 32-bit values. Reducing to
// 32 bits first keeps a negative PLU the same ten digits on every platform.
inline unsigned long Lu(int32_t value) { return static_cast<uint32_t>(value); }
inline unsigned long Lu(uint32_t value) { return value; }
inline long Ld(int32_t value) { return value; }
// %u of a 16-bit signed value: widened with its sign, so -1 prints 4294967295.
inline unsigned U(int16_t value) { return static_cast<uint32_t>(static_cast<int32_t>(value)); }
inline unsigned U(uint16_t value) { return value; }

// A number as a template prints it for the device. Each kind has the range of its field: the
// device reads amounts as 32-bit counts of cents (the count Total cuts a payment to), quantities
// as 32-bit counts of thousandths, and percentages (discounts, surcharges, tax rates) with at
// most three whole digits. NaN and infinities would go out as the texts "nan" and "inf".
enum class NumberKind { Amount, Quantity, Percent };

struct Number {
  double value;
  NumberKind kind;
};

inline Number Amount(double value) { return {value, NumberKind::Amount}; }
inline Number Quantity(double value) { return {value, NumberKind::Quantity}; }
inline Number Percent(double value) { return {value, NumberKind::Percent}; }

// True when every number is finite and within its kind's range: at most 21474836.47 for an
// amount, 2147483.647 for a quantity and 999.99 for a percentage, either way, counted in the
// units the template prints (cut toward zero). Exports refuse anything else with 10006.
bool Printable(std::initializer_list<Number> numbers);

// Copies at most TALLYPORT_TEXT_SIZE - 1 bytes and a terminator; a NULL out is skipped.
void CopyOut(char *out, std::string_view text);

// The exchange of seriallink::RunCommand (10006 for data longer than a frame holds). On 0,
// *reply (when given) holds the reply data.
int32_t Exchange(uint16_t code, std::string_view data, std::string *reply);

bool Connected();

// Every export runs its body through this: no exception leaves the library.
template <typename Body>
int32_t Guarded(const char *name, Body &&body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::exception &e) {
    platform::Trace("tallyport: %s failed: %s", name, e.what());
  } catch (...) {
    platform::Trace("tallyport: %s failed", name);
  }
  return kNoResponse;
}

// One command in the common shape. makeData runs only when connected and the arguments pass.
template <typename MakeData>
int32_t Command(uint16_t code, bool argumentsOk, MakeData &&makeData, std::string *reply = nullptr) {
  if (!Connected()) return kNotConnected;
  if (!argumentsOk) return kBadParameter;
  return Exchange(code, std::forward<MakeData>(makeData)(), reply);
}

inline std::string NoData() { return {}; }

// A command with no reply handling.
template <typename MakeData>
int32_t Simple(const char *name, uint16_t code, MakeData &&makeData) {
  return Guarded(name, [&] { return Command(code, true, makeData); });
}

// A command whose reply goes whole to a text out, also when empty.
template <typename MakeData>
int32_t TextCommand(const char *name, uint16_t code, bool argumentsOk, MakeData &&makeData, char *out) {
  return Guarded(name, [&] {
    std::string reply;
    const int32_t result = Command(code, argumentsOk, makeData, &reply);
    if (result == kSuccess) CopyOut(out, reply);
    return result;
  });
}

// Reply parsers: each writes its outs only as the export's contract says.
// "%d,%d": both written when both parse.
void TwoNumbers(const std::string &reply, int16_t *first, int16_t *second);
// The first reply character as 0..255, 70 ('F') for an empty reply.
void AnswerCharacter(const std::string &reply, int16_t *answer);

}  // namespace tallyport
