#include "platform/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "trace_sink.h"

namespace platform {

struct TraceCapture::Impl {
  mutable std::mutex mutex;
  std::vector<std::string> lines;  // guarded by mutex
  Impl *previous = nullptr;        // guarded by g_captureMutex
};

namespace {

std::mutex g_captureMutex;
TraceCapture::Impl *g_capture = nullptr;  // guarded by g_captureMutex

void Emit(std::string text) {
  {
    std::lock_guard lock(g_captureMutex);
    if (g_capture != nullptr) {
      std::lock_guard lines(g_capture->mutex);
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
  std::lock_guard lock(g_captureMutex);
  return g_capture != nullptr;
}

void TraceV(const char *fmt, va_list args) {
  if (!TraceEnabled()) return;
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (size < 0) return;
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), fmt, args);
  text.resize(static_cast<size_t>(size));
  Emit(std::move(text));
}

void Trace(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  TraceV(fmt, args);
  va_end(args);
}

void TraceHex(const char *label, const void *data, size_t size) {
  if (!TraceEnabled()) return;
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = std::string(label) + " (" + std::to_string(size) + " bytes):";
  const auto *bytes = static_cast<const unsigned char *>(data);
  for (size_t i = 0; i < size; ++i) {
    text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  Emit(std::move(text));
}

TraceCapture::TraceCapture() : impl_(new Impl) {
  std::lock_guard lock(g_captureMutex);
  impl_->previous = g_capture;
  g_capture = impl_;
}

TraceCapture::~TraceCapture() {
  {
    std::lock_guard lock(g_captureMutex);
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
  std::lock_guard lock(impl_->mutex);
  return impl_->lines;
}

bool TraceCapture::Contains(std::string_view text) const { return Count(text) > 0; }

size_t TraceCapture::Count(std::string_view text) const {
  std::lock_guard lock(impl_->mutex);
  return static_cast<size_t>(std::count_if(impl_->lines.begin(), impl_->lines.end(),
                                           [&](const std::string &l) { return l.find(text) != std::string::npos; }));
}

void TraceCapture::Clear() {
  std::lock_guard lock(impl_->mutex);
  impl_->lines.clear();
}

}  // namespace platform
