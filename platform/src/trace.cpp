#include "platform/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/mutex.h"
#include "trace_sink.h"

namespace platform {
namespace {

// The chain of live captures; taken before a capture's own lock.
Mutex g_captureMutex;

}  // namespace

struct TraceCapture::Impl {
  mutable Mutex mutex ACQUIRED_AFTER(g_captureMutex);
  std::vector<std::string> lines GUARDED_BY(mutex);
  Impl *previous GUARDED_BY(g_captureMutex) = nullptr;
};

namespace {

TraceCapture::Impl *g_capture GUARDED_BY(g_captureMutex) = nullptr;

void Emit(std::string text) {
  {
    MutexLock lock(g_captureMutex);
    if (g_capture != nullptr) {
      MutexLock lines(g_capture->mutex);
      g_capture->lines.push_back(text);
      return;
    }
  }
  WriteTraceSink(std::move(text));
}

}  // namespace

bool TraceToStderr() {
  // Read once: the switch is meant for a whole run, and getenv is not safe against setenv.
  static const bool enabled = [] {
    const char *v = std::getenv("VRN_TRACE");
    return v != nullptr && std::strcmp(v, "1") == 0;
  }();
  return enabled;
}

void WriteTraceToStderr(std::string text) {
  if (text.empty() || text.back() != '\n') text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stderr);
}

bool TraceEnabled() {
  if (TraceSinkEnabled()) return true;
  MutexLock lock(g_captureMutex);
  return g_capture != nullptr;
}

void TraceV(const char *fmt, va_list args) {
  if (!TraceEnabled()) return;
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (size < 0) return;
  try {
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(static_cast<size_t>(size));
    Emit(std::move(text));
  } catch (...) {  // a trace that cannot be made is dropped: callers trace from noexcept paths
  }
}

void Trace(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  TraceV(fmt, args);
  va_end(args);
}

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void AppendHex(std::string &text, const unsigned char *bytes, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
}

// Frame layout shared by both directions: 01 LEN SEQ CMD data ... 05 c c c c 03, a reply with
// 04 and six status bytes between its data and the 05.
constexpr size_t kDataOffset = 4;
constexpr unsigned char kDataEnd = 0x05;
constexpr unsigned char kStatusStart = 0x04;
constexpr size_t kStatusBytes = 6;

// Where the data of a frame ends: before the status of a reply or the 05 of a request; the
// whole rest when the frame has no 05 (cut short).
size_t DataEnd(const unsigned char *bytes, size_t size) {
  size_t end = size;
  for (size_t i = size; i > kDataOffset; --i) {
    if (bytes[i - 1] == kDataEnd) {
      end = i - 1;
      break;
    }
  }
  if (end >= kDataOffset + kStatusBytes + 1 && bytes[end - kStatusBytes - 1] == kStatusStart) {
    end -= kStatusBytes + 1;
  }
  return end;
}

}  // namespace

void TraceHex(const char *label, const void *data, size_t size) {
  if (!TraceEnabled()) return;
  std::string text = std::string(label) + " (" + std::to_string(size) + " bytes):";
  AppendHex(text, static_cast<const unsigned char *>(data), 0, size);
  Emit(std::move(text));
}

bool CommandCarriesSecret(unsigned code) {
  switch (code & 0xFF) {
    case 0x30:  // open a fiscal receipt: operator, password, till
    case 0x65:  // change an operator's password
    case 0x66:  // operator's number, password and name
    case 0xB0:  // GPRS access point, user and password
    case 0xDD:  // the GPRS lock's unlock key
    case 0xE4:  // the lock's state, asked with the unlock key
      return true;
    default:
      return false;
  }
}

std::string MaskedFrameHex(const void *frame, size_t size) {
  const auto *bytes = static_cast<const unsigned char *>(frame);
  std::string text;
  if (size <= kDataOffset || !CommandCarriesSecret(bytes[3])) {
    AppendHex(text, bytes, 0, size);
  } else {
    const size_t end = DataEnd(bytes, size);
    AppendHex(text, bytes, 0, kDataOffset);
    if (end > kDataOffset) text += " [" + std::to_string(end - kDataOffset) + " bytes masked]";
    AppendHex(text, bytes, std::max(end, kDataOffset), size);
  }
  // AppendHex leads every byte with a blank.
  if (!text.empty()) text.erase(0, 1);
  return text;
}

void TraceFrame(const char *label, const void *frame, size_t size) {
  if (!TraceEnabled()) return;
  std::string text = std::string(label) + " (" + std::to_string(size) + " bytes):";
  if (size > 0) text += " " + MaskedFrameHex(frame, size);
  Emit(std::move(text));
}

std::string TraceText(const char *text) {
  if (text == nullptr) return "NULL";
  constexpr size_t kShown = 120;
  std::string out = "\"";
  size_t i = 0;
  for (; text[i] != '\0' && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 0x0F];
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  if (text[i] != '\0') out += "...";
  return out;
}

std::string TraceSecret(const char *text) {
  if (text == nullptr) return "NULL";
  return text[0] == '\0' ? "\"\"" : "\"***\"";
}

TraceCapture::TraceCapture() : impl_(new Impl) {
  MutexLock lock(g_captureMutex);
  impl_->previous = g_capture;
  g_capture = impl_;
}

TraceCapture::~TraceCapture() {
  {
    MutexLock lock(g_captureMutex);
    // Captures normally end in reverse order; unlink wherever this one stands.
    for (Impl **p = &g_capture; *p != nullptr; p = &(*p)->previous) {
      if (*p == impl_) {
        *p = impl_->previous;
        break;
      }
    }
  }
  delete impl_;
}

std::vector<std::string> TraceCapture::Lines() const {
  MutexLock lock(impl_->mutex);
  return impl_->lines;
}

bool TraceCapture::Contains(std::string_view text) const { return Count(text) > 0; }

size_t TraceCapture::Count(std::string_view text) const {
  MutexLock lock(impl_->mutex);
  return static_cast<size_t>(std::count_if(impl_->lines.begin(), impl_->lines.end(),
                                           [&](const std::string &l) { return l.find(text) != std::string::npos; }));
}

void TraceCapture::Clear() {
  MutexLock lock(impl_->mutex);
  impl_->lines.clear();
}

}  // namespace platform
