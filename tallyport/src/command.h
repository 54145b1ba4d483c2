// The common shape of a command export, and the small pieces every export needs: texts in and
// out, the widening rules of the templates, and the reply parsers.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/trace.h"
#include "seriallink/result_codes.h"
#include "tallyport.h"

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

// An argument as an export's trace shows it: texts quoted, passwords masked, numbers as the
// caller passed them, outs only as present or NULL. Holds the raw value; formatted only when
// tracing is on.
class Arg {
 public:
  Arg(const char *text) : kind_(Kind::Text), text_(text) {}
  // A char * is a text out: it may hold anything, so it goes through Out().
  Arg(char *) = delete;
  template <typename T>
    requires std::is_arithmetic_v<T>
  Arg(T value) {
    if constexpr (std::is_same_v<T, char>) {
      kind_ = Kind::Char;
      signed_ = static_cast<unsigned char>(value);
    } else if constexpr (std::is_floating_point_v<T>) {
      kind_ = Kind::Double;
      double_ = value;
    } else if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::Signed;
      signed_ = value;
    } else {
      kind_ = Kind::Unsigned;
      unsigned_ = value;
    }
  }
  Arg(const TpDateTime &value) : kind_(Kind::DateTime), double_(value.value), signed_(value.status) {}

  static Arg Secret(const char *text);
  static Arg Out(const void *out);

  std::string Show() const;

 private:
  enum class Kind { Text, Secret, Char, Signed, Unsigned, Double, DateTime, Out };
  Arg(Kind kind, const void *pointer) : kind_(kind), text_(static_cast<const char *>(pointer)) {}

  Kind kind_ = Kind::Signed;
  const char *text_ = nullptr;
  double double_ = 0;
  long long signed_ = 0;
  unsigned long long unsigned_ = 0;
};

// A password: never shown, only whether there was one.
inline Arg Secret(const char *text) { return Arg::Secret(text); }
// A pointer the export writes to: "out", or NULL.
inline Arg Out(const void *out) { return Arg::Out(out); }

using Args = std::initializer_list<Arg>;

// "Name(arg, arg, ...)" when tracing is on; true when it was traced, so that the result is too.
bool TraceEntry(const char *name, Args args) noexcept;

// Every export runs its body through this: its name, arguments and result traced (when tracing
// is on), and no exception leaving the library.
template <typename Body>
int32_t Guarded(const char *name, Args args, Body &&body) noexcept {
  const bool traced = TraceEntry(name, args);
  int32_t result = kNoResponse;
  try {
    result = std::forward<Body>(body)();
  } catch (const std::exception &e) {
    platform::Trace("tallyport: %s failed: %s", name, e.what());
  } catch (...) {
    platform::Trace("tallyport: %s failed", name);
  }
  if (traced) platform::Trace("%s returned %d", name, static_cast<int>(result));
  return result;
}

// As Guarded, for the exports that return nothing.
template <typename Body>
void GuardedVoid(const char *name, Args args, Body &&body) noexcept {
  const bool traced = TraceEntry(name, args);
  try {
    std::forward<Body>(body)();
  } catch (const std::exception &e) {
    platform::Trace("tallyport: %s failed: %s", name, e.what());
  } catch (...) {
    platform::Trace("tallyport: %s failed", name);
  }
  if (traced) platform::Trace("%s returned", name);
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
int32_t Simple(const char *name, Args args, uint16_t code, MakeData &&makeData) {
  return Guarded(name, args, [&] { return Command(code, true, makeData); });
}

// A command whose reply goes whole to a text out, also when empty.
template <typename MakeData>
int32_t TextCommand(const char *name, Args args, uint16_t code, bool argumentsOk, MakeData &&makeData, char *out) {
  return Guarded(name, args, [&] {
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
