#include "platform/Thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <new>
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

// A thread object placed in one fixed slot of memory that is zeroed, not returned, when the
// object is deleted: any write the worker makes to the object after its deletion shows as a
// non-zero byte once the worker thread has exited.
class SlotThread : public Thread {
 public:
  static constexpr std::size_t kSlotSize = 1024;

  SlotThread(std::function<void(SlotThread&)> body, Event* destroyed)
      : body_(std::move(body)), destroyed_(destroyed) {}
  ~SlotThread() override {
    destroyedOnWorker = std::this_thread::get_id() == Id();
    destroyed_->Set();
  }

  static void* operator new(std::size_t size) {
    if (size > kSlotSize) throw std::bad_alloc();
    return slot;
  }
  static void operator delete(void* p) {
    std::fill_n(static_cast<unsigned char*>(p), kSlotSize, 0);
  }
  static bool SlotIsClear() {
    return std::all_of(std::begin(slot), std::end(slot), [](unsigned char b) { return b == 0; });
  }

  static inline std::atomic<bool> destroyedOnWorker{false};

 protected:
  void Execute() override { body_(*this); }

 private:
  alignas(std::max_align_t) static inline unsigned char slot[kSlotSize];
  std::function<void(SlotThread&)> body_;
  Event* destroyed_;  // not owned
};

// Signals an event when the thread that set it exits, after its thread function has returned.
struct ExitSignal {
  Event* exited = nullptr;
  ~ExitSignal() {
    if (exited != nullptr) exited->Set();
  }
};
thread_local ExitSignal tExitSignal;

TEST(ThreadTest, AWorkerThatFreesItsObjectTouchesNothingOfItAfterwards) {
  struct Row {
    const char* name;
    bool freeOnTerminate;  // else Execute deletes the object itself
  };
  for (const Row& row : {Row{"delete inside Execute", false}, Row{"free on terminate", true}}) {
    SCOPED_TRACE(row.name);
    Event destroyed(Event::Reset::Manual), exited(Event::Reset::Manual);
    SlotThread::destroyedOnWorker = false;
    auto* thread = new SlotThread(
        [&exited, &row](SlotThread& self) {
          tExitSignal.exited = &exited;
          if (!row.freeOnTerminate) delete &self;
        },
        &destroyed);
    thread->SetFreeOnTerminate(row.freeOnTerminate);
    thread->Resume();
    ASSERT_TRUE(destroyed.Wait(10s));
    ASSERT_TRUE(exited.Wait(10s));
    EXPECT_TRUE(SlotThread::destroyedOnWorker);
    EXPECT_TRUE(SlotThread::SlotIsClear());
  }
}

// The same two ways of ending on the heap, where AddressSanitizer sees every read or write the
// worker makes to the freed object (the slot above only shows writes, and only with any build).
class HeapThread : public LambdaThread {
 public:
  HeapThread(std::function<void(LambdaThread&)> body, Event* destroyed)
      : LambdaThread(std::move(body)), destroyed_(destroyed) {}
  ~HeapThread() override { destroyed_->Set(); }

 private:
  Event* destroyed_;  // not owned
};

TEST(ThreadTest, AHeapWorkerThatFreesItsObjectTouchesNothingOfItAfterwards) {
  for (const bool freeOnTerminate : {false, true}) {
    SCOPED_TRACE(freeOnTerminate ? "free on terminate" : "delete inside Execute");
    Event destroyed(Event::Reset::Manual), exited(Event::Reset::Manual);
    auto* thread = new HeapThread(
        [&exited, freeOnTerminate](LambdaThread& self) {
          tExitSignal.exited = &exited;
          if (!freeOnTerminate) delete &self;
        },
        &destroyed);
    thread->SetFreeOnTerminate(freeOnTerminate);
    thread->SetPriority(kPriorityBelowNormal);  // the worker's start reads the object's settings
    thread->Resume();
    ASSERT_TRUE(destroyed.Wait(10s));
    ASSERT_TRUE(exited.Wait(10s));
  }
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
