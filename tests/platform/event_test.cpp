#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
  Event e(Event::Mode::Manual);
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(0ms));
  e.Set();
  EXPECT_TRUE(e.Wait(0ms));
  EXPECT_TRUE(e.Wait(0ms));
  EXPECT_TRUE(e.IsSet());
  e.Reset();
  EXPECT_FALSE(e.Wait(0ms));
}

TEST(EventTest, AutoResetIsTakenByOneWait) {
  Event e(Event::Mode::Auto, true);
  EXPECT_TRUE(e.Wait(0ms));
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(0ms));
}

TEST(EventTest, SignalledBeforeWaitIsSeenAtOnce) {
  Event e(Event::Mode::Auto);
  e.Set();
  const auto start = Clock::now();
  EXPECT_TRUE(e.Wait(5s));
  EXPECT_LT(Clock::now() - start, 1s);
}

TEST(EventTest, TimeOutRunsItsCourse) {
  Event e(Event::Mode::Manual);
  const auto start = Clock::now();
  EXPECT_FALSE(e.Wait(50ms));
  EXPECT_GE(Clock::now() - start, 50ms);
}

TEST(EventTest, SetFromAnotherThreadWakesTheWait) {
  Event e(Event::Mode::Auto);
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    e.Set();
  });
  EXPECT_TRUE(e.Wait(10s));
  setter.join();
  EXPECT_FALSE(e.IsSet());
}

TEST(EventTest, AutoResetReleasesExactlyOneOfTwoWaiters) {
  Event e(Event::Mode::Auto);
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (e.Wait(300ms)) ++woken;
  };
  std::thread a(waiter), b(waiter);
  std::this_thread::sleep_for(50ms);
  e.Set();
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(WaitAnyTest, EarlierEventsTakePriority) {
  Event first(Event::Mode::Manual), second(Event::Mode::Auto), third(Event::Mode::Auto);
  second.Set();
  third.Set();
  EXPECT_EQ(WaitAny({&first, &second, &third}, 0ms), 1);
  // Only the event reported is consumed.
  EXPECT_FALSE(second.IsSet());
  EXPECT_TRUE(third.IsSet());
  first.Set();
  EXPECT_EQ(WaitAny({&first, &second, &third}, 0ms), 0);
  EXPECT_TRUE(first.IsSet());
  EXPECT_TRUE(third.IsSet());
}

TEST(WaitAnyTest, TimesOutWhenNothingIsSignalled) {
  Event a(Event::Mode::Manual), b(Event::Mode::Auto);
  const auto start = Clock::now();
  EXPECT_EQ(WaitAny({&a, &b}, 30ms), kWaitTimeout);
  EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(WaitAnyTest, WakesForWhicheverEventIsSetLater) {
  Event a(Event::Mode::Manual), b(Event::Mode::Manual), c(Event::Mode::Manual);
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    c.Set();
  });
  EXPECT_EQ(WaitAny({&a, &b, &c}, kInfinite), 2);
  setter.join();
}

// Many rounds of a producer setting while a consumer waits: a Set that lands between the
// consumer's look at the events and its sleep must never be lost.
TEST(WaitAnyTest, NoSignalIsLostUnderRacingSets) {
  Event request(Event::Mode::Auto), reply(Event::Mode::Auto), stop(Event::Mode::Manual);
  constexpr int kRounds = 2000;
  std::thread peer([&] {
    for (;;) {
      const int r = WaitAny({&stop, &request}, 10s);
      if (r != 1) return;
      reply.Set();
    }
  });
  int answered = 0;
  for (int i = 0; i < kRounds; ++i) {
    request.Set();
    if (WaitAny({&reply}, 10s) == 0) ++answered;
  }
  stop.Set();
  peer.join();
  EXPECT_EQ(answered, kRounds);
}

}  // namespace
}  // namespace platform
