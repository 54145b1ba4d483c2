#include "fiscalsim/serial_link.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/event.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace fiscalsim {
namespace {

using Clock = std::chrono::steady_clock;

// A blocked write is cut into slices of this length so that a Wake() ends it in time; the port
// itself can only be interrupted by closing it.
constexpr platform::Millis kWriteSlice{100};

// The port only ends a wait by closing, so a receive thread of our own turns its input into an
// event the serving thread can wait on together with the wake and close events.
class SerialLink final : public DeviceLink {
 public:
  SerialLink(std::string devicePort, std::string hostPort)
      : devicePort_(std::move(devicePort)), hostPort_(std::move(hostPort)) {
    if (const std::string failed = Start(); !failed.empty()) {
      throw std::system_error(errno_, std::system_category(), failed + " " + devicePort_);
    }
  }

  ~SerialLink() override { Close(); }

  std::string Name() const override { return hostPort_; }

  WaitResult Wait() override {
    switch (platform::WaitAny({&closed_, &woken_, &data_}, platform::kInfinite)) {
      case 0:
        return WaitResult::Closed;
      case 1:
        return WaitResult::Woken;
      default:
        return WaitResult::Readable;
    }
  }

  ptrdiff_t Read(uint8_t *buffer, size_t capacity) override {
    if (closed_.IsSet()) return -1;
    std::lock_guard lock(mutex_);
    size_t n = 0;
    while (n < capacity && !received_.empty()) {
      buffer[n++] = received_.front();
      received_.pop_front();
    }
    if (received_.empty()) data_.Reset();
    return static_cast<ptrdiff_t>(n);
  }

  bool Write(std::span<const uint8_t> bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      if (closed_.IsSet() || woken_.IsSet()) return false;
      const Clock::time_point start = Clock::now();
      done += port_.Write(bytes.data() + done, bytes.size() - done, kWriteSlice);
      // A short write that ended before its slice was up is a failed or closed port, not a
      // host that does not read.
      if (done < bytes.size() && Clock::now() - start < kWriteSlice) return false;
    }
    return true;
  }

  void Wake() override { woken_.Set(); }

  void Close() override {
    port_.Close();  // ends the receive thread's wait
    closed_.Set();
    if (reader_.joinable()) reader_.join();
  }

  bool Reopen() override {
    if (!closed_.IsSet()) return true;
    {
      std::lock_guard lock(mutex_);
      received_.clear();
      data_.Reset();
    }
    // Before the receive thread starts, which sets it again if the port fails at once.
    closed_.Reset();
    if (const std::string failed = Start(); !failed.empty()) {
      platform::Trace("fiscal-sim: cannot %s %s again (%d)", failed.c_str(), devicePort_.c_str(), errno_);
      closed_.Set();
      return false;
    }
    return true;
  }

 private:
  // Opens and sets up the port and starts the receive thread: empty, or what failed (with the
  // error in errno_), the port closed again.
  std::string Start() {
    if (const int error = port_.Open(devicePort_); error != 0) {
      errno_ = error;
      return "open";
    }
    if (const int error = port_.Configure(platform::LineSettings{}); error != 0) {
      port_.Close();
      errno_ = error;
      return "configure";
    }
    // What an earlier user left in the line is no request to this device.
    port_.Purge();
    reader_ = std::thread([this] { Receive(); });
    return {};
  }

  void Receive() {
    platform::SetCurrentThreadName("fiscal-sim-rx");
    uint8_t buffer[512];
    for (;;) {
      const platform::WaitResult wait = port_.WaitReadable(platform::kInfinite);
      if (wait == platform::WaitResult::TimedOut) continue;
      if (wait != platform::WaitResult::Readable) {
        if (wait == platform::WaitResult::Failed) platform::Trace("fiscal-sim: port %s failed", devicePort_.c_str());
        break;
      }
      const ptrdiff_t n = port_.Read(buffer, sizeof buffer);
      if (n < 0) break;
      if (n == 0) continue;
      std::lock_guard lock(mutex_);
      received_.insert(received_.end(), buffer, buffer + n);
      data_.Set();
    }
    // The serving thread sees the link closed and lets the device vanish.
    closed_.Set();
  }

  const std::string devicePort_;
  const std::string hostPort_;
  platform::SerialPort port_;
  platform::Event closed_{platform::Event::Mode::Manual};
  platform::Event woken_{platform::Event::Mode::Auto};
  // Set exactly while received_ holds bytes; changed only under mutex_.
  platform::Event data_{platform::Event::Mode::Manual};
  std::mutex mutex_;
  std::deque<uint8_t> received_;  // guarded by mutex_
  std::thread reader_;
  int errno_ = 0;  // of the last Start() that failed
};

}  // namespace

std::unique_ptr<DeviceLink> OpenSerialLink(std::string devicePort, std::string hostPort) {
  return std::make_unique<SerialLink>(std::move(devicePort), std::move(hostPort));
}

}  // namespace fiscalsim
