#include "fiscalsim/byte_pipe.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace fiscalsim {

struct PipeState {
  std::mutex mutex;
  std::condition_variable changed;
  // All guarded by mutex.
  std::deque<uint8_t> toDevice;
  std::deque<uint8_t> toHost;
  bool closed = false;
  bool woken = false;
};

namespace {

ptrdiff_t Take(std::deque<uint8_t> &queue, uint8_t *buffer, size_t capacity) {
  const size_t n = std::min(capacity, queue.size());
  std::copy_n(queue.begin(), n, buffer);
  queue.erase(queue.begin(), queue.begin() + static_cast<ptrdiff_t>(n));
  return static_cast<ptrdiff_t>(n);
}

void CloseState(PipeState &s) {
  {
    std::lock_guard lock(s.mutex);
    s.closed = true;
  }
  s.changed.notify_all();
}

class PipeDeviceEnd final : public DeviceLink {
 public:
  explicit PipeDeviceEnd(std::shared_ptr<PipeState> state) : state_(std::move(state)) {}
  ~PipeDeviceEnd() override { Close(); }

  std::string Name() const override { return "in-process pipe"; }

  WaitResult Wait() override {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] { return state_->closed || state_->woken || !state_->toDevice.empty(); });
    if (state_->closed) return WaitResult::Closed;
    if (state_->woken) {
      state_->woken = false;
      return WaitResult::Woken;
    }
    return WaitResult::Readable;
  }

  ptrdiff_t Read(uint8_t *buffer, size_t capacity) override {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return -1;
    return Take(state_->toDevice, buffer, capacity);
  }

  bool Write(std::span<const uint8_t> bytes) override {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->closed || state_->woken) return false;
      state_->toHost.insert(state_->toHost.end(), bytes.begin(), bytes.end());
    }
    state_->changed.notify_all();
    return true;
  }

  void Wake() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->woken = true;
    }
    state_->changed.notify_all();
  }

  void Close() override { CloseState(*state_); }

 private:
  std::shared_ptr<PipeState> state_;
};

}  // namespace

BytePipeHost::BytePipeHost(std::shared_ptr<PipeState> state) : state_(std::move(state)) {}

bool BytePipeHost::Write(std::span<const uint8_t> bytes) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return false;
    state_->toDevice.insert(state_->toDevice.end(), bytes.begin(), bytes.end());
  }
  state_->changed.notify_all();
  return true;
}

ptrdiff_t BytePipeHost::Read(uint8_t *buffer, size_t capacity, std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  const auto ready = [&] { return state_->closed || !state_->toHost.empty(); };
  if (timeout == std::chrono::milliseconds::max()) {
    state_->changed.wait(lock, ready);
  } else if (!state_->changed.wait_for(lock, timeout, ready)) {
    return 0;
  }
  if (state_->closed) return -1;
  return Take(state_->toHost, buffer, capacity);
}

void BytePipeHost::Close() { CloseState(*state_); }

BytePipe MakeBytePipe() {
  auto state = std::make_shared<PipeState>();
  return {BytePipeHost(state), std::make_unique<PipeDeviceEnd>(state)};
}

}  // namespace fiscalsim
