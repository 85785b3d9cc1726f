#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(EventTest, StatesTimeoutsAndReset) {
  Event manual(Event::Reset::Manual, true), automatic(Event::Reset::Auto, true);
  EXPECT_TRUE(manual.Wait(0ms));
  EXPECT_TRUE(manual.IsSet());  // a manual event stays set
  manual.ResetEvent();
  EXPECT_FALSE(manual.Wait(0ms));
  EXPECT_TRUE(automatic.Wait(0ms));
  EXPECT_FALSE(automatic.IsSet());  // consumed by the wait

  EXPECT_FALSE(automatic.Wait(50ms));  // times out
  EXPECT_EQ(WaitForAny({&manual, &automatic}, 50ms), -1);
}

TEST(EventTest, AutoResetReleasesExactlyOneOfTwoWaiters) {
  Event event(Event::Reset::Auto), released(Event::Reset::Auto);
  std::atomic<int> count{0};
  auto waiter = [&] {
    if (event.Wait(kInfinite)) ++count;
    released.Set();
  };
  std::thread a(waiter), b(waiter);
  event.Set();
  ASSERT_TRUE(released.Wait(10s));
  EXPECT_FALSE(released.Wait(50ms));  // the other one still waits
  EXPECT_EQ(count, 1);
  event.Set();
  a.join();
  b.join();
  EXPECT_EQ(count, 2);
  EXPECT_FALSE(event.IsSet());
}

TEST(EventTest, ManualResetReleasesAllWaiters) {
  Event event(Event::Reset::Manual);
  std::atomic<int> count{0};
  auto waiter = [&] { count += event.Wait(10s) ? 1 : 0; };
  std::thread a(waiter), b(waiter);
  event.Set();
  a.join();
  b.join();
  EXPECT_EQ(count, 2);
  EXPECT_TRUE(event.IsSet());
}

TEST(EventTest, WaitForAnyLowestIndexWinsAndConsumesOnlyThatEvent) {
  Event first(Event::Reset::Auto), second(Event::Reset::Auto), third(Event::Reset::Auto);
  second.Set();
  third.Set();
  EXPECT_EQ(WaitForAny({&first, &second, &third}, 0ms), 1);
  EXPECT_TRUE(third.IsSet());
  EXPECT_EQ(WaitForAny({&first, &second, &third}, 0ms), 2);
  EXPECT_EQ(WaitForAny({&first, &second, &third}, 0ms), -1);

  std::atomic<int> result{-2};
  std::thread waiter([&] { result = WaitForAny({&first, &second}, kInfinite); });
  second.Set();
  waiter.join();
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(second.IsSet());
}

// Two threads hand a token back and forth; a lost wake-up stalls one of them.
TEST(EventTest, PingPongLosesNoWakeUps) {
  Event ping(Event::Reset::Auto), pong(Event::Reset::Auto), idle(Event::Reset::Auto);
  std::atomic<bool> failed{false};
  std::thread partner([&] {
    for (int i = 0; i < 2000 && !failed; ++i) {
      if (!ping.Wait(10s)) failed = true;
      pong.Set();
    }
  });
  for (int i = 0; i < 2000 && !failed; ++i) {
    ping.Set();
    if (WaitForAny({&idle, &pong}, 10s) != 1) failed = true;
  }
  ping.Set();  // in case the main side gave up first
  partner.join();
  EXPECT_FALSE(failed);
}

}  // namespace
}  // namespace platform
