#include "platform/TimerService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/Clock.h"
#include "tests/platform/CapturingReporter.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

// Polls `done` every millisecond for at most five seconds.
template <typename Predicate>
bool WaitFor(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(TimerServiceTest, EntriesAreCalledEveryPeriodCountedInTicks) {
  TimerService service(1ms);
  std::atomic<int> everyTick{0}, everyFourth{0}, suspended{0}, offBeat{0};
  // Served in the order they were added, so within one tick `fast` runs first: the k-th call of
  // the four-tick entry sees exactly 4k calls of `fast`.
  const auto fast = service.Add(1ms, [&] { ++everyTick; });
  service.Add(4ms, [&] {
    if (everyTick.load() != 4 * ++everyFourth) ++offBeat;
  });
  const auto held = service.Add(
      1ms, [&] { ++suspended; }, true);
  ASSERT_TRUE(WaitFor([&] { return everyFourth.load() >= 10; }));
  EXPECT_EQ(offBeat.load(), 0);
  EXPECT_EQ(suspended.load(), 0);

  // Swap the two: once `held` has run, any call of `fast` still under way has ended.
  ASSERT_TRUE(service.Suspend(fast));
  EXPECT_TRUE(service.Suspended(fast));
  ASSERT_TRUE(service.Resume(held));
  ASSERT_TRUE(WaitFor([&] { return suspended.load() >= 2; }));
  const int ticks = everyTick.load();
  ASSERT_TRUE(WaitFor([&] { return suspended.load() >= 12; }));
  EXPECT_EQ(everyTick.load(), ticks);
  EXPECT_FALSE(service.Suspend(TimerService::kNoEntry));
  EXPECT_FALSE(service.Resume(12345));
}

TEST(TimerServiceTest, RemovedEntryIsNeverCalledAgainAndRemovalWaitsForItsCall) {
  TimerService service(1ms);
  std::atomic<int> calls{0}, others{0};
  std::atomic<bool> inside{false}, release{false}, returned{false};
  const auto id = service.Add(1ms, [&] {
    if (++calls == 2) {
      inside = true;
      while (!release) std::this_thread::sleep_for(1ms);
      returned = true;
    }
  });
  ASSERT_TRUE(WaitFor([&] { return inside.load(); }));
  std::atomic<bool> returnedBeforeRemove{false}, removed{false};
  std::thread remover([&] {
    EXPECT_TRUE(service.Remove(id));
    returnedBeforeRemove = returned.load();
    removed = true;
  });
  // The call is let go only once Remove waits for it.
  EXPECT_TRUE(WaitFor([&] { return service.RemovalsWaiting() == 1; }));
  EXPECT_FALSE(removed.load()) << "Remove returned while the call was running";
  release = true;
  remover.join();
  EXPECT_TRUE(returnedBeforeRemove.load());
  EXPECT_EQ(service.RemovalsWaiting(), 0u);
  EXPECT_FALSE(service.Contains(id));

  // A later entry keeps the thread ticking; the removed one stays silent.
  service.Add(1ms, [&] { ++others; });
  ASSERT_TRUE(WaitFor([&] { return others.load() >= 10; }));
  EXPECT_EQ(calls.load(), 2);
  EXPECT_FALSE(service.Remove(id));
}

TEST(TimerServiceTest, EntryRemovesItselfFromItsCallbackAndTheLastOneEndsTheThread) {
  TimerService service(1ms);
  EXPECT_FALSE(service.ThreadRunning());
  std::atomic<int> selfCalls{0}, others{0}, added{0};
  std::atomic<TimerService::EntryId> self{TimerService::kNoEntry};
  std::atomic<bool> removedInside{false};
  const auto other = service.Add(1ms, [&] { ++others; });
  self = service.Add(1ms, [&] {
    if (++selfCalls == 3) removedInside = service.Remove(self);
  });
  EXPECT_TRUE(service.ThreadRunning());
  ASSERT_TRUE(WaitFor([&] { return others.load() >= selfCalls.load() + 10; }));
  EXPECT_TRUE(removedInside.load());
  EXPECT_EQ(selfCalls.load(), 3);

  // Removing the last entry from outside joins the thread at once.
  EXPECT_TRUE(service.Remove(other));
  EXPECT_FALSE(service.ThreadRunning());
  EXPECT_EQ(service.Count(), 0u);

  // The last entry removing itself ends the thread; a new entry starts it again, and an entry
  // added from inside a callback is served as well.
  std::atomic<TimerService::EntryId> last{TimerService::kNoEntry};
  std::atomic<bool> lastDone{false};
  last = service.Add(1ms, [&] {
    if (last.load() == TimerService::kNoEntry) return;  // not yet stored by the adder
    service.Remove(last);
    lastDone = true;
  });
  ASSERT_TRUE(WaitFor([&] { return lastDone.load(); }));
  std::atomic<int> restarted{0};
  service.Add(1ms, [&] {
    if (++restarted == 1) service.Add(2ms, [&] { ++added; });
  });
  EXPECT_TRUE(WaitFor([&] { return added.load() >= 3; }));
}

TEST(TimerServiceTest, ThreadSleepsWhileEveryEntryIsSuspended) {
  TimerService service(1ms);
  std::atomic<int> calls{0}, others{0};
  const auto id = service.Add(
      1ms, [&] { ++calls; }, true);
  EXPECT_TRUE(WaitFor([&] { return service.Idle(); }));
  EXPECT_EQ(calls.load(), 0);
  // Resuming the entry, or adding a running one, wakes the thread.
  ASSERT_TRUE(service.Resume(id));
  EXPECT_TRUE(WaitFor([&] { return calls.load() >= 3; }));
  ASSERT_TRUE(service.Suspend(id));
  EXPECT_TRUE(WaitFor([&] { return service.Idle(); }));
  service.Add(1ms, [&] { ++others; });
  EXPECT_TRUE(WaitFor([&] { return others.load() >= 3; }));
  EXPECT_FALSE(service.Idle());
  EXPECT_TRUE(service.ThreadRunning());
}

TEST(TimerServiceTest, ExceptionInCallbackIsReportedAndTheTimerGoesOn) {
  test::CapturingReporter reporter;
  TimerService service(1ms);
  std::atomic<int> calls{0};
  service.Add(1ms, [&] {
    if (++calls == 1) throw std::runtime_error("tick failed");
  });
  ASSERT_TRUE(WaitFor([&] { return calls.load() >= 3; }));
  ASSERT_FALSE(reporter.Texts().empty());
  EXPECT_EQ(reporter.Texts().front(), "tick failed");
}

TEST(TimerServiceTest, SharedServiceTicksEveryTwentyFiveMilliseconds) {
  TimerService& shared = TimerService::Instance();
  EXPECT_EQ(&shared, &TimerService::Instance());
  EXPECT_EQ(shared.TickPeriod(), 25ms);
  std::atomic<int> calls{0};
  const auto id = shared.Add(25ms, [&] { ++calls; });
  ASSERT_TRUE(WaitFor([&] { return calls.load() >= 2; }));
  EXPECT_TRUE(shared.Remove(id));
}

TEST(ClockTest, MillisecondsAndMicrosecondsShareOneSteadyStart) {
  std::int64_t previousUs = MicrosecondClock();
  std::uint32_t previousMs = timeGetTime();
  for (int i = 0; i < 2000; ++i) {
    const std::int64_t before = MicrosecondClock();
    const std::uint32_t ms = timeGetTime();
    const std::int64_t after = MicrosecondClock();
    ASSERT_LE(previousUs, before);
    ASSERT_LE(before, after);
    ASSERT_LE(previousMs, ms);
    ASSERT_LE(before / 1000, static_cast<std::int64_t>(ms));
    ASSERT_LE(static_cast<std::int64_t>(ms), after / 1000);
    previousUs = after;
    previousMs = ms;
    if (i % 100 == 0) std::this_thread::sleep_for(100us);
  }
}

}  // namespace
}  // namespace platform
