// The simulator's end of the emulated USB device: bytes of OUT transfers and of the tty child
// come in, replies go back the way their request came.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "usb_device_state_linux.h"

namespace fiscalsim {

void EmulatedUsbDevice::State::KickLink() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t r = ::write(linkWake, &one, sizeof one);
}

namespace {

class UsbLink final : public DeviceLink {
 public:
  explicit UsbLink(std::shared_ptr<EmulatedUsbDevice::State> state) : state_(std::move(state)) {}

  std::string Name() const override { return state_->devNode; }

  WaitResult Wait() override {
    auto &s = *state_;
    for (;;) {
      int tty = -1;
      {
        std::lock_guard lock(s.mutex);
        if (s.linkClosed) return WaitResult::Closed;
        if (s.woken) {
          s.woken = false;
          return WaitResult::Woken;
        }
        if (!s.toDevice.empty()) return WaitResult::Readable;
        tty = s.ttyMaster;
      }
      pollfd fds[2] = {{s.linkWake, POLLIN, 0}, {tty, POLLIN, 0}};
      if (::poll(fds, tty >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return WaitResult::Closed;
      if ((fds[0].revents & POLLIN) != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t r = ::read(s.linkWake, &count, sizeof count);
      }
      if (tty >= 0 && (fds[1].revents & POLLIN) != 0) return WaitResult::Readable;
    }
  }

  ptrdiff_t Read(uint8_t *buffer, size_t capacity) override {
    auto &s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.linkClosed) return -1;
    if (!s.toDevice.empty()) {
      const size_t n = std::min(capacity, s.toDevice.size());
      std::copy_n(s.toDevice.begin(), n, buffer);
      s.toDevice.erase(s.toDevice.begin(), s.toDevice.begin() + static_cast<ptrdiff_t>(n));
      s.lastFromTty = false;
      return static_cast<ptrdiff_t>(n);
    }
    if (s.ttyMaster < 0) return 0;
    const ssize_t n = ::read(s.ttyMaster, buffer, capacity);
    if (n <= 0) return 0;
    s.lastFromTty = true;
    return n;
  }

  // Replies go back the way their request came.
  bool Write(std::span<const uint8_t> bytes) override {
    auto &s = *state_;
    std::unique_lock lock(s.mutex);
    if (s.linkClosed) return false;
    if (s.lastFromTty && s.ttyMaster >= 0) {
      const int tty = s.ttyMaster;
      lock.unlock();
      return WriteTty(tty, bytes);
    }
    // Sent to a device nobody has plugged in: lost, as on a real bus.
    if (!s.plugged) return true;
    s.toHost.insert(s.toHost.end(), bytes.begin(), bytes.end());
    s.DeliverLocked();
    return true;
  }

  void Wake() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->woken = true;
    }
    state_->KickLink();
  }

  void Close() override {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->linkClosed) return;
      state_->linkClosed = true;
    }
    state_->KickLink();
    state_->Unplug();
  }

 private:
  std::shared_ptr<EmulatedUsbDevice::State> state_;
};

}  // namespace

std::unique_ptr<DeviceLink> EmulatedUsbDevice::TakeLink() {
  std::lock_guard lock(state_->mutex);
  if (state_->linkTaken) throw std::logic_error("the link of an emulated USB device is taken once");
  state_->linkTaken = true;
  return std::make_unique<UsbLink>(state_);
}

}  // namespace fiscalsim
