// Diagnostic traces. Libraries called by unknown programs in the field write what they do
// here; nothing is shown to a user. Traces go to stderr when the environment variable
// VRN_TRACE is "1"; on Windows every trace also goes to the debugger output. Otherwise they are
// dropped. A test can capture them instead.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// mingw's plain "printf" check is the Microsoft dialect (no %zu, %lld); the traces are
// formatted by the C99 printf that libstdc++ selects there, so they are checked as such.
#if defined(__MINGW32__)
#define PLATFORM_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define PLATFORM_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define PLATFORM_PRINTF(fmt, args)
#endif

namespace platform {

// printf-style; the text is written as formatted (a missing final newline is added on stderr).
void Trace(const char *fmt, ...) PLATFORM_PRINTF(1, 2);
void TraceV(const char *fmt, va_list args) PLATFORM_PRINTF(1, 0);

// True when a trace would go anywhere (always on Windows): lets callers skip building
// expensive texts.
bool TraceEnabled();

// One line "<label> (<n> bytes): 01 27 20 ..." when tracing is on; frames are dumped this way.
void TraceHex(const char *label, const void *data, size_t size);

// Device commands whose data carries a password (opening a fiscal receipt, operators'
// passwords, the GPRS link's credentials and its unlock key): their data never reaches a trace
// in clear.
bool CommandCarriesSecret(unsigned code);

// A device frame (request or reply) as TraceHex dumps it, except that the data of a command
// that carries a password is replaced by "[n bytes masked]"; the framing and status bytes stay.
void TraceFrame(const char *label, const void *frame, size_t size);
// The same dump without label and count ("01 30 20 30 [12 bytes masked] 05 ..."), for other
// records of the line that must mask as the traces do.
std::string MaskedFrameHex(const void *frame, size_t size);

// A text argument as an export's trace shows it: quoted, bytes below 0x20 and 0x7F as \xNN,
// at most 120 bytes and then "...", NULL as NULL.
std::string TraceText(const char *text);
// How a password argument shows: never its content, only whether there was one.
std::string TraceSecret(const char *text);

// Collects every trace written while it lives (whether or not VRN_TRACE is set). Captures
// nest: the newest one receives the lines, the older one again after it is gone.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture &) = delete;
  TraceCapture &operator=(const TraceCapture &) = delete;

  std::vector<std::string> Lines() const;
  // Whether some captured trace contains the text.
  bool Contains(std::string_view text) const;
  // How many captured traces contain the text.
  size_t Count(std::string_view text) const;
  void Clear();

  struct Impl;

 private:
  Impl *impl_;
};

}  // namespace platform
