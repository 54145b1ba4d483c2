#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "api/guard.h"

namespace {

using namespace std::chrono_literals;

// Holds the lock on another thread while it lives.
class Holder {
 public:
  explicit Holder(platform::Mutex &section) {
    thread_ = std::thread([&section, this] {
      vrn::CGuard guard(section);
      held_.set_value();
      release_.get_future().wait();
    });
    held_.get_future().wait();
  }
  ~Holder() {
    release_.set_value();
    thread_.join();
  }

 private:
  std::promise<void> held_;
  std::promise<void> release_;
  std::thread thread_;
};

TEST(CGuard, TimedEntryGivesUpWhileAnotherThreadHoldsTheLockAndLeavesNothingLocked) {
  platform::Mutex section;
  {
    Holder holder(section);
    const auto start = std::chrono::steady_clock::now();
    const bool entered = vrn::TryEnterFor(section, 50);
    EXPECT_FALSE(entered);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);  // the tick counts whole milliseconds
  }
  // Had the failed entry taken the lock after all, the holder's unlock would have been wrong
  // and this entry would find the lock still taken.
  auto other = std::async(std::launch::async, [&] {
    if (!vrn::TryEnterFor(section, 1000)) return false;
    vrn::CGuard adopted(section, platform::kAdoptLock);
    return true;
  });
  EXPECT_TRUE(other.get());
}

TEST(CGuard, TimedEntryRunsTheBusyHookBetweenTriesAndEndsWhenItSaysSo) {
  platform::Mutex section;
  int calls = 0;
  {
    Holder holder(section);
    const auto start = std::chrono::steady_clock::now();
    // A driver cancels the transfer that holds the lock here, and stops when it is cancelled.
    const bool entered = vrn::TryEnterFor(section, 10000, [&] { return ++calls < 3; });
    EXPECT_FALSE(entered);
    EXPECT_EQ(calls, 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  }
  // A free lock is entered at the first try, without the hook.
  calls = 0;
  auto other = std::async(std::launch::async, [&] {
    if (!vrn::TryEnterFor(section, 1000, [&] { return ++calls < 3; })) return false;
    vrn::CGuard adopted(section, platform::kAdoptLock);
    return true;
  });
  EXPECT_TRUE(other.get());
  EXPECT_EQ(calls, 0);
}

}  // namespace
