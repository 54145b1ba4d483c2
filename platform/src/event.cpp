#include "platform/event.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// One per WaitAny call: the events it watches poke it when they are set.
struct Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool poked = false;  // guarded by mutex

  void Poke() {
    {
      std::lock_guard lock(mutex);
      poked = true;
    }
    cv.notify_one();
  }
};

}  // namespace

// Lock order: Event::State::mutex before Waiter::mutex.
struct Event::State {
  explicit State(Mode m, bool s) : mode(m), signalled(s) {}

  const Mode mode;
  mutable std::mutex mutex;
  bool signalled;                 // guarded by mutex
  std::vector<Waiter *> waiters;  // guarded by mutex

  bool TryTake() {
    std::lock_guard lock(mutex);
    if (!signalled) return false;
    if (mode == Mode::Auto) signalled = false;
    return true;
  }
};

Event::Event(Mode mode, bool signalled) : state_(std::make_unique<State>(mode, signalled)) {}

Event::~Event() = default;

void Event::Set() {
  std::lock_guard lock(state_->mutex);
  state_->signalled = true;
  for (Waiter *w : state_->waiters) w->Poke();
}

void Event::Reset() {
  std::lock_guard lock(state_->mutex);
  state_->signalled = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(state_->mutex);
  return state_->signalled;
}

bool Event::Wait(Millis timeout) {
  Event *self = this;
  return WaitAny(std::span<Event *const>(&self, 1), timeout) == 0;
}

int WaitAny(std::initializer_list<Event *> events, Millis timeout) {
  return WaitAny(std::span<Event *const>(events.begin(), events.size()), timeout);
}

int WaitAny(std::span<Event *const> events, Millis timeout) {
  const bool forever = timeout == kInfinite;
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;

  // Registered before the first look, so a Set between a look and the sleep is not missed.
  Waiter waiter;
  for (Event *e : events) {
    std::lock_guard lock(e->state_->mutex);
    e->state_->waiters.push_back(&waiter);
  }

  int result = kWaitTimeout;
  for (;;) {
    for (size_t i = 0; i < events.size(); ++i) {
      if (events[i]->state_->TryTake()) {
        result = static_cast<int>(i);
        break;
      }
    }
    if (result != kWaitTimeout) break;

    std::unique_lock lock(waiter.mutex);
    if (forever) {
      waiter.cv.wait(lock, [&] { return waiter.poked; });
    } else if (!waiter.cv.wait_until(lock, deadline, [&] { return waiter.poked; })) {
      break;
    }
    waiter.poked = false;
  }

  for (Event *e : events) {
    std::lock_guard lock(e->state_->mutex);
    auto &ws = e->state_->waiters;
    ws.erase(std::find(ws.begin(), ws.end(), &waiter));
  }
  return result;
}

}  // namespace platform
