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
  vanishFor_ = Millis(0);
}

void FaultPlan::VanishOnNext(Millis after) {
  std::lock_guard lock(mutex_);
  vanish_ = true;
  vanishFor_ = after;
}

void FaultPlan::ErrorFlagNext() {
  std::lock_guard lock(mutex_);
  reply_.errorFlag = true;
}

void FaultPlan::SetRules(std::vector<FaultRule> rules) {
  std::lock_guard lock(mutex_);
  rules_ = std::move(rules);
  fired_.assign(rules_.size(), false);
  framesSeen_ = 0;
}

// The same fields as the calls of the same names set.
void FaultPlan::ArmLocked(const FaultRule &rule) {
  switch (rule.fault) {
    case FaultRule::Fault::Refuse:
      naks_ = rule.count;
      break;
    case FaultRule::Fault::Busy:
      reply_.busyEvery = kRuleBusyEvery;
      reply_.busySpan = rule.time;
      break;
    case FaultRule::Fault::Delay:
      reply_.delay = rule.time;
      break;
    case FaultRule::Fault::BadCheck:
      reply_.corruptCheck = true;
      break;
    case FaultRule::Fault::WrongSeq:
      reply_.wrongSeq = true;
      break;
    case FaultRule::Fault::Silence:
      if (rule.forever) {
        silent_ = true;
      } else {
        silentFrames_ = rule.count;
      }
      break;
    case FaultRule::Fault::ErrorFlag:
      reply_.errorFlag = true;
      break;
    case FaultRule::Fault::Vanish:
      vanish_ = true;
      vanishFor_ = rule.time;
      break;
  }
}

void FaultPlan::Clear() {
  std::lock_guard lock(mutex_);
  naks_ = 0;
  silent_ = false;
  silentFrames_ = 0;
  vanish_ = false;
  vanishFor_ = Millis(0);
  reply_ = Action{};
  spent_.notify_all();
}

bool FaultPlan::SpentLocked() const {
  const Action none;
  return naks_ == 0 && silentFrames_ == 0 && !vanish_ && reply_.busySpan == none.busySpan &&
         reply_.delay == none.delay && !reply_.corruptCheck && !reply_.wrongSeq && !reply_.errorFlag;
}

bool FaultPlan::WaitUntilSpent(Millis timeout) const {
  std::unique_lock lock(mutex_);
  return spent_.wait_for(lock, timeout, [this] { return SpentLocked(); });
}

FaultPlan::Action FaultPlan::Take(bool goodFrame, std::optional<uint8_t> command) {
  std::lock_guard lock(mutex_);
  const uint64_t before = framesSeen_++;
  for (size_t i = 0; i < rules_.size(); ++i) {
    const FaultRule &rule = rules_[i];
    const bool fires = rule.trigger == FaultRule::Trigger::AfterFrames
                           ? before == rule.frames
                           : goodFrame && command == rule.command && !(rule.once && fired_[i]);
    if (!fires) continue;
    fired_[i] = true;
    ArmLocked(rule);
  }
  // Whatever this frame takes, a waiter looks again.
  struct Notify {
    std::condition_variable &cv;
    ~Notify() { cv.notify_all(); }
  } notify{spent_};
  Action action;
  if (vanish_) {
    vanish_ = false;
    action.vanish = true;
    action.vanishFor = vanishFor_;
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
