#include "seriallink/port.h"

namespace seriallink {

void ReceivedBlocks::Add(const RCVBLOCK &block) {
  platform::MutexLock lock(mutex_);
  newest_ = (newest_ + 1) % kCapacity;
  ring_[newest_] = block;
  if (count_ < kCapacity) ++count_;
  received_.Set();
}

bool ReceivedBlocks::TakeNewest(RCVBLOCK &out) {
  platform::MutexLock lock(mutex_);
  received_.Reset();
  if (count_ == 0) return false;
  out = ring_[newest_];
  count_ = 0;
  return true;
}

void ReceivedBlocks::Clear() {
  platform::MutexLock lock(mutex_);
  count_ = 0;
  received_.Reset();
}

ReceivedBlocks::WaitResult ReceivedBlocks::Wait(Millis timeout) {
  switch (platform::WaitAny({&aborted_, &received_, &portFailed_}, timeout)) {
    case 0: return WaitResult::Aborted;
    case 1: return WaitResult::Received;
    case 2: return WaitResult::PortFailed;
    default: return WaitResult::TimedOut;
  }
}

void ReceivedBlocks::Abort() { aborted_.Set(); }

void ReceivedBlocks::EndAbort() { aborted_.Reset(); }

bool ReceivedBlocks::Aborted() const { return aborted_.IsSet(); }

void ReceivedBlocks::SetPortFailed(bool failed) {
  if (failed) {
    portFailed_.Set();
  } else {
    portFailed_.Reset();
  }
}

bool ReceivedBlocks::PortFailed() const { return portFailed_.IsSet(); }

size_t ReceivedBlocks::Size() const {
  platform::MutexLock lock(mutex_);
  return count_;
}

}  // namespace seriallink
