#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>

#include "api/guard.h"

namespace {

using namespace std::chrono_literals;

TEST(CGuard, TimedEntryGivesUpWhileAnotherThreadHoldsTheLockAndLeavesNothingLocked) {
  std::recursive_timed_mutex section;
  std::promise<void> held;
  std::promise<void> release;
  std::thread holder([&] {
    vrn::CGuard guard(section);
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  const auto start = std::chrono::steady_clock::now();
  {
    vrn::CGuard guard(section, 50);
    EXPECT_FALSE(guard.IsLocked());
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);  // the tick counts whole milliseconds
  release.set_value();
  holder.join();
  // Had the failed guard unlocked on leaving, the owner's unlock above would have failed, and
  // this thread could not take the section now.
  vrn::CGuard again(section, 1000);
  EXPECT_TRUE(again.IsLocked());
}

TEST(CGuard, SameThreadReentersAndTheLastGuardFreesTheLock) {
  std::recursive_timed_mutex section;
  {
    vrn::CGuard outer(section);
    vrn::CGuard inner(section, 10);
    EXPECT_TRUE(inner.IsLocked());
  }
  auto other = std::async(std::launch::async, [&] { return vrn::CGuard(section, 100).IsLocked(); });
  EXPECT_TRUE(other.get());
}

}  // namespace
