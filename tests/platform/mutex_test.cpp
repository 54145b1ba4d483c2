#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Whether another thread finds the mutex free.
bool FreeForOthers(Mutex &mutex) {
  return std::async(std::launch::async, [&mutex] {
           if (!mutex.TryLock()) return false;
           mutex.Unlock();
           return true;
         })
      .get();
}

struct Shared {
  Mutex mutex;
  CondVar cv;
  int value GUARDED_BY(mutex) = 0;
};

TEST(MutexTest, CondVarWaitsGiveTheLockUpWhileAsleepAndHoldItAgainAfter) {
  Shared s;
  std::thread producer([&s] {
    MutexLock lock(s.mutex);
    s.value = 1;
    s.cv.NotifyAll();
  });
  {
    MutexLock lock(s.mutex);
    while (s.value == 0) s.cv.Wait(s.mutex);
    EXPECT_EQ(s.value, 1);
    // No one notifies now: the wait ends at its deadline.
    const auto deadline = Clock::now() + 50ms;
    while (s.cv.WaitUntil(s.mutex, deadline)) {
    }
    EXPECT_GE(Clock::now(), deadline);
    EXPECT_FALSE(FreeForOthers(s.mutex));
  }
  producer.join();
  EXPECT_TRUE(FreeForOthers(s.mutex));
}

TEST(MutexTest, ScopedLockLeavesAndTakesItsLockAgainAndReleasesOnlyWhatItHolds) {
  Mutex mutex;
  {
    MutexLock lock(mutex);
    EXPECT_FALSE(FreeForOthers(mutex));
    lock.Unlock();
    EXPECT_TRUE(FreeForOthers(mutex));
    lock.Lock();
    EXPECT_FALSE(FreeForOthers(mutex));
  }
  EXPECT_TRUE(FreeForOthers(mutex));
  {
    MutexLock lock(mutex);
    lock.Unlock();
  }  // left unlocked: the scope's end must not unlock again
  EXPECT_TRUE(FreeForOthers(mutex));
  mutex.Lock();
  { MutexLock adopted(mutex, kAdoptLock); }
  EXPECT_TRUE(FreeForOthers(mutex));
}

}  // namespace
}  // namespace platform
