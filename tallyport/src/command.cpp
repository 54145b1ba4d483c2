#include "command.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "seriallink/link.h"
#include "tallyport.h"

namespace tallyport {

std::string Format(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  char small[256];
  const int n = std::vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  std::string text;
  if (n > 0 && static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else if (n > 0) {
    text.resize(static_cast<size_t>(n));
    std::vsnprintf(text.data(), text.size() + 1, fmt, again);
  }
  va_end(again);
  return text;
}

bool Printable(std::initializer_list<Number> numbers) {
  constexpr double kMax32 = 2147483647.0;
  for (const Number &n : numbers) {
    if (!std::isfinite(n.value)) return false;
    double scale = 100;
    double limit = kMax32;
    switch (n.kind) {
      case NumberKind::Amount: break;
      case NumberKind::Quantity: scale = 1000; break;
      case NumberKind::Percent: limit = 99999; break;
    }
    if (std::fabs(std::trunc(n.value * scale)) > limit) return false;
  }
  return true;
}

Arg Arg::Secret(const char *text) { return Arg(Kind::Secret, text); }

Arg Arg::Out(const void *out) { return Arg(Kind::Out, out); }

std::string Arg::Show() const {
  switch (kind_) {
    case Kind::Text: return platform::TraceText(text_);
    case Kind::Secret: return platform::TraceSecret(text_);
    case Kind::Char:
      // The option characters are letters; anything else (NUL for none) shows as its code.
      return signed_ > 0x20 && signed_ < 0x7F ? Format("'%c'", static_cast<char>(signed_)) : Format("%lld", signed_);
    case Kind::Signed: return Format("%lld", signed_);
    case Kind::Unsigned: return Format("%llu", unsigned_);
    case Kind::Double: return Format("%.15g", double_);
    case Kind::DateTime: return Format("{%.15g, %lld}", double_, signed_);
    case Kind::Out: return text_ != nullptr ? "out" : "NULL";
  }
  return "?";
}

bool TraceEntry(const char *name, Args args) noexcept {
  if (!platform::TraceEnabled()) return false;
  try {
    std::string line = name;
    line += '(';
    for (const Arg &arg : args) {
      if (&arg != args.begin()) line += ", ";
      line += arg.Show();
    }
    line += ')';
    platform::Trace("%s", line.c_str());
  } catch (...) {
    // Tracing never stands in a command's way; the result is still traced.
  }
  return true;
}

void CopyOut(char *out, std::string_view text) {
  if (out == nullptr) return;
  const size_t n = text.size() < TALLYPORT_TEXT_SIZE - 1 ? text.size() : TALLYPORT_TEXT_SIZE - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

bool Connected() { return seriallink::IsConnected(); }

int32_t Exchange(uint16_t code, std::string_view data, std::string *reply) {
  seriallink::Reply r = seriallink::RunCommand(code, data);
  if (r.code == kSuccess && reply != nullptr) *reply = std::move(r.data);
  return r.code;
}

void TwoNumbers(const std::string &reply, int16_t *first, int16_t *second) {
  int a = 0;
  int b = 0;
  if (std::sscanf(reply.c_str(), "%d,%d", &a, &b) != 2) return;
  if (first) *first = static_cast<int16_t>(a);
  if (second) *second = static_cast<int16_t>(b);
}

void AnswerCharacter(const std::string &reply, int16_t *answer) {
  if (answer == nullptr) return;
  *answer = reply.empty() ? int16_t{70} : static_cast<int16_t>(static_cast<unsigned char>(reply[0]));
}

}  // namespace tallyport
