// Events with the meaning the device code relies on: manual- or auto-reset, settable from any
// thread, and a wait on several of them that reports the first signalled one in the order
// given. Built on a mutex and condition variables; all time-outs run on the steady clock.
#pragma once

#include <chrono>
#include <initializer_list>
#include <memory>
#include <span>

namespace platform {

using Millis = std::chrono::milliseconds;
inline constexpr Millis kInfinite = Millis::max();

class Event {
 public:
  enum class Mode { Manual, Auto };

  explicit Event(Mode mode, bool signalled = false);
  ~Event();
  Event(const Event &) = delete;
  Event &operator=(const Event &) = delete;

  // Signals the event. An auto-reset event stays signalled until one wait takes it.
  void Set();
  void Reset();
  bool IsSet() const;

  // True when the event was (or became) signalled within the time-out; an auto-reset event
  // is reset by the wait that takes it.
  bool Wait(Millis timeout = kInfinite);

  struct State;  // shared with WaitAny; opaque to callers

 private:
  std::unique_ptr<State> state_;
  friend int WaitAny(std::span<Event *const> events, Millis timeout);
};

inline constexpr int kWaitTimeout = -1;

// Waits until any of the events is signalled and returns the index of the first signalled one
// in the order given, so earlier events take priority; that one is consumed if it is
// auto-reset, the others are left as they are. Returns kWaitTimeout when the time-out runs out.
// An event signalled before the call is seen at once. Null entries are not allowed.
int WaitAny(std::span<Event *const> events, Millis timeout);
int WaitAny(std::initializer_list<Event *> events, Millis timeout);

}  // namespace platform
