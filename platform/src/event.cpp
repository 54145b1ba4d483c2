#include "platform/event.h"

#include <algorithm>
#include <vector>

#include "platform/mutex.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Waiter;

}  // namespace

struct Event::State {
  explicit State(Mode m, bool s) : mode(m), signalled(s) {}

  const Mode mode;
  mutable Mutex mutex;
  bool signalled GUARDED_BY(mutex);
  std::vector<Waiter *> waiters GUARDED_BY(mutex);

  bool TryTake() EXCLUDES(mutex) {
    MutexLock lock(mutex);
    if (!signalled) return false;
    if (mode == Mode::Auto) signalled = false;
    return true;
  }
};

namespace {

// One per WaitAny call: the events it watches poke it when they are set.
struct Waiter {
  // Set pokes it with the event's lock held.
  Mutex mutex ACQUIRED_AFTER(Event::State::mutex);
  CondVar cv;
  bool poked GUARDED_BY(mutex) = false;

  void Poke() EXCLUDES(mutex) {
    {
      MutexLock lock(mutex);
      poked = true;
    }
    cv.NotifyOne();
  }
};

}  // namespace

Event::Event(Mode mode, bool signalled) : state_(std::make_unique<State>(mode, signalled)) {}

Event::~Event() = default;

void Event::Set() {
  MutexLock lock(state_->mutex);
  state_->signalled = true;
  for (Waiter *w : state_->waiters) w->Poke();
}

void Event::Reset() {
  MutexLock lock(state_->mutex);
  state_->signalled = false;
}

bool Event::IsSet() const {
  MutexLock lock(state_->mutex);
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
    MutexLock lock(e->state_->mutex);
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

    MutexLock lock(waiter.mutex);
    if (forever) {
      while (!waiter.poked) waiter.cv.Wait(waiter.mutex);
    } else {
      while (!waiter.poked && waiter.cv.WaitUntil(waiter.mutex, deadline)) {
      }
      if (!waiter.poked) break;
    }
    waiter.poked = false;
  }

  for (Event *e : events) {
    MutexLock lock(e->state_->mutex);
    auto &ws = e->state_->waiters;
    ws.erase(std::find(ws.begin(), ws.end(), &waiter));
  }
  return result;
}

}  // namespace platform
