#include "platform/Thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>

#include "platform/Event.h"
#include "tests/platform/CapturingReporter.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

class LambdaThread : public Thread {
 public:
  explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
  ~LambdaThread() override { Join(); }
  using Thread::HoldWhileSuspended;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(LambdaThread&)> body_;
};

TEST(ThreadTest, RunsOnlyAfterResumeWithItsOwnId) {
  Event ran(Event::Reset::Manual);
  std::thread::id worker, seenInside;
  LambdaThread thread([&](LambdaThread& self) {
    worker = std::this_thread::get_id();
    seenInside = self.Id();
    self.Join();  // returns at once on the worker
    ran.Set();
  });
  EXPECT_FALSE(ran.Wait(50ms));
  EXPECT_FALSE(thread.Started());
  thread.Resume();
  EXPECT_TRUE(ran.Wait(10s));
  thread.Join();
  thread.Join();
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(thread.Id(), worker);
  EXPECT_EQ(seenInside, worker);
}

TEST(ThreadTest, SuspendHoldsACyclingWorkerUntilResumeOrTerminate) {
  std::atomic<int> cycles{0};
  Event holding(Event::Reset::Manual), cycled(Event::Reset::Auto);
  LambdaThread thread([&](LambdaThread& self) {
    while (!self.Terminated()) {
      if (self.Suspended()) holding.Set();
      self.HoldWhileSuspended();
      ++cycles;
      cycled.Set();
      SleepMs(1);
    }
  });
  thread.Resume();
  ASSERT_TRUE(cycled.Wait(10s));
  thread.Suspend();
  ASSERT_TRUE(holding.Wait(10s));
  const int held = cycles;
  cycled.ResetEvent();
  EXPECT_FALSE(cycled.Wait(50ms));
  EXPECT_EQ(cycles, held);

  thread.Resume();
  ASSERT_TRUE(cycled.Wait(10s));
  EXPECT_GT(cycles, held);

  holding.ResetEvent();
  thread.Suspend();
  ASSERT_TRUE(holding.Wait(10s));
  thread.Terminate();  // also releases the hold
  thread.Join();
  EXPECT_TRUE(thread.Finished());
}

TEST(ThreadTest, ExceptionEscapingExecuteReachesTheReporter) {
  test::CapturingReporter reporter;
  LambdaThread thread([](LambdaThread&) { throw std::runtime_error("worker failed"); });
  thread.Resume();
  thread.Join();
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(reporter.Texts(), std::vector<std::string>{"worker failed"});
}

TEST(ThreadTest, NiceForPriority) {
  const int table[][2] = {{-15, 19},  {-2, 10}, {-1, 5},  {0, 0},   {1, -5},  {2, -10},  {15, -20},
                          {-100, 19}, {-9, 19}, {-8, 10}, {8, -10}, {9, -20}, {100, -20}};
  for (const auto& [priority, nice] : table) EXPECT_EQ(NiceForPriority(priority), nice) << priority;
}

int OwnNice() {
  return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

// Lowering a thread's priority needs no privileges, so the effect is observable anywhere.
TEST(ThreadTest, PriorityIsAppliedToTheWorkerOnly) {
  const int callerNice = OwnNice();
  if (callerNice > 10) GTEST_SKIP() << "already running below nice 10";
  Event changed(Event::Reset::Auto), measured(Event::Reset::Auto);
  int atStart = 0, afterChange = 0;
  LambdaThread thread([&](LambdaThread&) {
    atStart = OwnNice();
    measured.Set();
    if (changed.Wait(10s)) afterChange = OwnNice();
  });
  thread.SetPriority(kPriorityLowest);
  thread.Resume();
  ASSERT_TRUE(measured.Wait(10s));
  thread.SetPriority(kPriorityIdle);
  changed.Set();
  thread.Join();
  EXPECT_EQ(atStart, 10);
  EXPECT_EQ(afterChange, 19);
  EXPECT_EQ(OwnNice(), callerNice);
}

}  // namespace
}  // namespace platform
