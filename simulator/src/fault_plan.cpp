#include "fiscalsim/fault_plan.h"

namespace fiscalsim {

void FaultPlan::NakNext(unsigned frames) {
  std::lock_guard lock(mutex_);
  naks_ = frames;
}

void FaultPlan::BusyBeforeNext(Millis every, Millis span) {
  std::lock_guard lock(mutex_);
  reply_.busyEvery = every > Millis(0) ? every : Millis(1);
  reply_.busySpan = span;
}

void FaultPlan::CorruptNextCheck() {
  std::lock_guard lock(mutex_);
  reply_.corruptCheck = true;
}

void FaultPlan::DelayNext(Millis delay) {
  std::lock_guard lock(mutex_);
  reply_.delay = delay;
}

void FaultPlan::WrongSeqNext() {
  std::lock_guard lock(mutex_);
  reply_.wrongSeq = true;
}

void FaultPlan::GoSilent() {
  std::lock_guard lock(mutex_);
  silent_ = true;
}

void FaultPlan::SilentFor(unsigned frames) {
  std::lock_guard lock(mutex_);
  silentFrames_ = frames;
}

void FaultPlan::Resume() {
  std::lock_guard lock(mutex_);
  silent_ = false;
  silentFrames_ = 0;
}

void FaultPlan::VanishOnNext() {
  std::lock_guard lock(mutex_);
  vanish_ = true;
}

void FaultPlan::Clear() {
  std::lock_guard lock(mutex_);
  naks_ = 0;
  silent_ = false;
  silentFrames_ = 0;
  vanish_ = false;
  reply_ = Action{};
  spent_.notify_all();
}

bool FaultPlan::SpentLocked() const {
  const Action none;
  return naks_ == 0 && silentFrames_ == 0 && !vanish_ && reply_.busySpan == none.busySpan &&
         reply_.delay == none.delay && !reply_.corruptCheck && !reply_.wrongSeq;
}

bool FaultPlan::WaitUntilSpent(Millis timeout) const {
  std::unique_lock lock(mutex_);
  return spent_.wait_for(lock, timeout, [this] { return SpentLocked(); });
}

FaultPlan::Action FaultPlan::Take(bool goodFrame) {
  std::lock_guard lock(mutex_);
  // Whatever this frame takes, a waiter looks again.
  struct Notify {
    std::condition_variable &cv;
    ~Notify() { cv.notify_all(); }
  } notify{spent_};
  Action action;
  if (vanish_) {
    vanish_ = false;
    action.vanish = true;
  } else if (silent_ || silentFrames_ > 0) {
    if (silentFrames_ > 0) --silentFrames_;
    action.silent = true;
  } else if (naks_ > 0) {
    --naks_;
    action.nak = true;
  } else if (!goodFrame) {
    action.nak = true;
  } else {
    action = reply_;
    reply_ = Action{};
  }
  return action;
}

}  // namespace fiscalsim
