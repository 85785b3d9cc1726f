#include "stream/Trigger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/MainThread.h"
#include "platform/Thread.h"
#include "tests/platform/CapturingReporter.h"
#include "tests/stream/TriggerTestComponents.h"

namespace stream::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 10s;  // generous: only a hang reaches it

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = kBound) {
  return platform::Dispatcher::Instance().RunUntil(done, bound);
}

// A chain source → trigger → sink, with every trigger event logged with its thread.
class TriggerTest : public ::testing::Test {
 protected:
  void Build(int blocks, std::uint32_t blockBytes = 64, std::int32_t bufferSize = 64) {
    source = std::make_unique<BlockSource>(blocks, blockBytes);
    trigger = std::make_unique<TMMTrigger>(nullptr);
    sink = std::make_unique<RecordingSink>();
    trigger->SetBufferSize(bufferSize);
    trigger->SetInput(source.get());
    trigger->SetOutput(sink.get());
    trigger->OnError = [this](TObject*) { ++errors; };
    trigger->OnStart = [this](TObject*) { Log("start"); };
    trigger->OnStop = [this](TObject*) {
      stopOnMain = platform::IsMainThread();
      Log("stop");
      ++stops;
    };
    trigger->OnClose = [this](TObject*) {
      closeOnMain = platform::IsMainThread();
      Log("close");
      ++closes;
    };
  }

  void Log(const std::string& what) {
    std::lock_guard lock(logMutex);
    log.push_back(what);
  }
  std::vector<std::string> Logged() {
    std::lock_guard lock(logMutex);
    return log;
  }

  void TearDown() override {
    trigger.reset();
    sink.reset();
    source.reset();
    platform::ProcessMessages();
  }

  platform::test::CapturingReporter reporter;
  std::unique_ptr<BlockSource> source;
  std::unique_ptr<TMMTrigger> trigger;
  std::unique_ptr<RecordingSink> sink;
  std::atomic<int> errors{0};
  std::atomic<int> stops{0};
  std::atomic<int> closes{0};
  std::atomic<bool> stopOnMain{false};
  std::atomic<bool> closeOnMain{false};
  std::mutex logMutex;
  std::vector<std::string> log;
};

TEST_F(TriggerTest, PropertiesStoreTheirLimits) {
  TMMTrigger trigger(nullptr);
  EXPECT_EQ(trigger.GetBufferSize(), kDefaultBufferSize);
  trigger.SetBufferSize(10);
  EXPECT_EQ(trigger.GetBufferSize(), 32);
  trigger.SetInterval(-5);
  EXPECT_EQ(trigger.Interval(), 0);
  EXPECT_EQ(trigger.State(), TMMTrigger::tsClosed);
  EXPECT_EQ(trigger.TimeFormat(), tfByte);
}

TEST_F(TriggerTest, OpenWithoutFormatFailsAndStaysClosed) {
  TMMTrigger trigger(nullptr);
  int onError = 0;
  trigger.OnError = [&](TObject*) { ++onError; };
  try {
    trigger.Open();
    FAIL() << "Open without a format succeeded";
  } catch (const EMMTriggerError& e) {
    EXPECT_STREQ(e.what(), "TriggerOpen:\n\rInvalid wave format");
  }
  EXPECT_EQ(onError, 2);  // once by Error, once by the failed Open
  EXPECT_EQ(trigger.State(), TMMTrigger::tsClosed);
}

TEST_F(TriggerTest, OpenPreparesTheChainAndRefusesBufferSizeChanges) {
  Build(3, 64, 2049);
  trigger->Open();
  EXPECT_EQ(trigger->State(), TMMTrigger::tsOpen);
  EXPECT_TRUE(source->Opened());
  EXPECT_TRUE(sink->Opened());
  EXPECT_EQ(trigger->GetBufferSize(), 2048);  // whole frames of 4 bytes
  EXPECT_EQ(source->GetBufferSize(), 2048);
  EXPECT_EQ(DSPThreadList().size(), 1u);
  try {
    trigger->SetBufferSize(4096);
    FAIL() << "BufferSize changed while open";
  } catch (const EMMTriggerError& e) {
    EXPECT_STREQ(e.what(), "Change to property while device was open");
  }
  EXPECT_EQ(trigger->GetBufferSize(), 2048);
  trigger->Close();
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
  EXPECT_FALSE(source->Opened());
  EXPECT_TRUE(DSPThreadList().empty());
  EXPECT_EQ(closes, 1);
}

TEST_F(TriggerTest, PumpsTenThousandBlocksInOrderOnTheWorker) {
  constexpr int kBlocks = 10000;
  Build(kBlocks, 64, 64);
  std::atomic<int> readyOffMain{0};
  trigger->OnBufferReady = [&](TObject*, PWaveHdr) {
    if (!platform::IsMainThread()) ++readyOffMain;
  };
  trigger->Start();
  // Every cycle pauses at least 1 ms, so this stream takes over ten seconds.
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }, 120s));
  EXPECT_TRUE(stopOnMain);
  EXPECT_EQ(sink->Blocks(), kBlocks);
  EXPECT_EQ(readyOffMain, kBlocks);
  const auto data = sink->Data();
  EXPECT_EQ(data.size(), std::size_t{kBlocks} * 64);
  EXPECT_TRUE(IsCountingSequence(data));
  for (const auto& id : sink->Threads()) ASSERT_NE(id, platform::MainThreadId());
  EXPECT_EQ(trigger->State(), TMMTrigger::tsOpen);  // stopped, still open
  EXPECT_EQ(errors, 0);
}

TEST_F(TriggerTest, OneBlockSourceStopsAfterTheFirstCycle) {
  Build(1);
  trigger->Start();
  EXPECT_EQ(source->Loads(), 1);  // Start loaded it on this thread
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(sink->Blocks(), 1);
  EXPECT_TRUE(stopOnMain);
  EXPECT_EQ(Logged(), (std::vector<std::string>{"start", "stop"}));
}

TEST_F(TriggerTest, LastBlockGoesDownstreamInTheCycleThatLoadedIt) {
  // With a minute between cycles the stream can only end in time if the last block is handed
  // on in the cycle that loaded it.
  Build(2);
  trigger->SetInterval(60000);
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(sink->Blocks(), 2);
  EXPECT_TRUE(IsCountingSequence(sink->Data()));
}

TEST_F(TriggerTest, KBlocksGiveKBufferReadyEvents) {
  Build(7);
  std::atomic<int> ready{0};
  std::atomic<int> filled{0};
  trigger->OnBufferReady = [&](TObject*, PWaveHdr) { ++ready; };
  trigger->OnBufferFilled = [&](TObject*, PWaveHdr) { ++filled; };
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(ready, 7);
  EXPECT_EQ(filled, 7);
  EXPECT_EQ(source->Loads(), 7);  // no extra load after the last block
}

TEST_F(TriggerTest, EmptySourceCannotStartAndLeavesTheTriggerClosed) {
  Build(0);
  try {
    trigger->Start();
    FAIL() << "Start on an empty source succeeded";
  } catch (const EMMTriggerError& e) {
    EXPECT_STREQ(e.what(), "TriggerStart:\n\rUnable to start device");
  }
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
  EXPECT_FALSE(source->Opened());
  EXPECT_EQ(stops, 0);  // nothing was played, so nothing stopped
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(DSPThreadList().empty());
}

TEST_F(TriggerTest, SourceThatAnnouncesMoreButDeliversNothingEndsTheStream) {
  Build(5);
  source->emptyAtLoad = 3;
  std::vector<std::string> texts;
  trigger->OnErrorEx = [&](TObject*, bool& handled) { handled = true; };
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(sink->Blocks(), 2);
  EXPECT_EQ(errors, 2);  // raised by Error and again by the block handler
  EXPECT_TRUE(reporter.Texts().empty());
  EXPECT_EQ(trigger->State(), TMMTrigger::tsOpen);
}

TEST_F(TriggerTest, StopWhileAHandlerRunsIsCompletedLaterOnTheMainThread) {
  Build(100);
  platform::Event entered(platform::Event::Reset::Manual);
  platform::Event release(platform::Event::Reset::Manual);
  sink->beforeBlock = [&](PWaveHdr) {
    entered.Set();
    release.Wait(kBound);
  };
  trigger->Start();
  ASSERT_TRUE(entered.Wait(kBound));
  trigger->Stop();
  EXPECT_TRUE(trigger->HasState(TMMTrigger::tsPlaying));
  EXPECT_EQ(stops, 0);
  release.Set();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_TRUE(stopOnMain);
  EXPECT_FALSE(trigger->HasState(TMMTrigger::tsPlaying));
  EXPECT_LT(sink->Blocks(), 100);
  EXPECT_TRUE(IsCountingSequence(sink->Data()));
}

TEST_F(TriggerTest, CloseFromOnStopEndsTheWorkerBeforeTheHandlerReturns) {
  Build(3);
  trigger->OnStop = [this](TObject*) {
    Log("stop begins");
    trigger->Close();
    Log(DSPThreadList().empty() ? "worker gone" : "worker alive");
    Log("stop ends");
    ++stops;
  };
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(Logged(), (std::vector<std::string>{"start", "stop begins", "close", "worker gone",
                                                "stop ends"}));
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
}

TEST_F(TriggerTest, CloseRequestedFromTheWorkerIsDeferredUntilTheStop) {
  Build(50);
  sink->beforeBlock = [this](PWaveHdr) {
    if (sink->Blocks() == 4) trigger->Close();  // a sink giving up mid-stream
  };
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return closes > 0; }));
  EXPECT_EQ(stops, 1);
  EXPECT_TRUE(closeOnMain);
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
  EXPECT_EQ(sink->Blocks(), 5);  // the block in hand is still taken
  EXPECT_TRUE(DSPThreadList().empty());
}

TEST_F(TriggerTest, UnhandledBlockErrorIsShownAndClosesTheTriggerFromTheWorker) {
  Build(20);
  source->failAtLoad = 4;
  std::atomic<bool> closedAgain{false};
  TMMTrigger* const raw = trigger.get();
  trigger->OnClose = [&, raw](TObject*) {
    closeOnMain = platform::IsMainThread();
    raw->Close();  // a handler closing again must not deadlock or recurse
    closedAgain = true;
    ++closes;
  };
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return closes > 0; }));
  ASSERT_EQ(reporter.Texts(), std::vector<std::string>{"source failed at load 4"});
  EXPECT_TRUE(trigger->ThreadFailed());
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
  EXPECT_EQ(stops, 1);
  EXPECT_FALSE(stopOnMain);
  EXPECT_FALSE(closeOnMain);
  EXPECT_TRUE(closedAgain);
  EXPECT_EQ(sink->Blocks(), 3);
  EXPECT_EQ(errors, 1);  // the handler's OnError; the source's exception is not the trigger's

  // The trigger is usable again: a fresh run over a fresh source completes.
  auto second = std::make_unique<BlockSource>(2, 64);
  trigger->SetInput(second.get());
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 1; }));
  EXPECT_FALSE(trigger->ThreadFailed());
  trigger.reset();
}

TEST_F(TriggerTest, StartAgainFromOnCloseOnTheFailedWorkerRunsTheRestOfTheStream) {
  Build(20);
  source->failAtLoad = 4;  // the source goes on with the next block after the failure
  TMMTrigger* const raw = trigger.get();
  std::atomic<bool> restartedOnWorker{false};
  trigger->OnClose = [&, raw](TObject*) {
    ++closes;
    if (closes == 1 && raw->ThreadFailed()) {
      restartedOnWorker = !platform::IsMainThread();
      raw->Start();  // replaces the worker that is running this handler
    }
  };
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 1; }));
  EXPECT_TRUE(restartedOnWorker);
  EXPECT_TRUE(stopOnMain);
  EXPECT_FALSE(trigger->ThreadFailed());
  EXPECT_EQ(reporter.Texts(), std::vector<std::string>{"source failed at load 4"});
  EXPECT_EQ(sink->Blocks(), 20);
  EXPECT_TRUE(IsCountingSequence(sink->Data()));
  trigger->Close();
  EXPECT_EQ(closes, 2);
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
  EXPECT_TRUE(DSPThreadList().empty());  // both workers joined and freed
}

TEST_F(TriggerTest, HandledDeliveryErrorDeliversTheSameBlockAgain) {
  Build(6);
  std::atomic<bool> failedOnce{false};
  sink->beforeBlock = [&](PWaveHdr) {
    if (sink->Blocks() == 2 && !failedOnce.exchange(true)) throw std::runtime_error("disk hiccup");
  };
  std::atomic<int> errorEx{0};
  trigger->OnErrorEx = [&](TObject* sender, bool& handled) {
    EXPECT_EQ(sender, trigger.get());
    ++errorEx;
    handled = true;
  };
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(errorEx, 1);
  EXPECT_EQ(sink->Blocks(), 6);
  EXPECT_TRUE(IsCountingSequence(sink->Data()));
  EXPECT_TRUE(reporter.Texts().empty());
}

TEST_F(TriggerTest, PauseBeforeStartOpensAndRestartRunsTheCycles) {
  Build(5);
  int paused = 0;
  trigger->OnPause = [&](TObject*) { ++paused; };
  trigger->Pause();
  EXPECT_EQ(paused, 1);
  EXPECT_EQ(trigger->State(), TMMTrigger::tsOpen | TMMTrigger::tsPaused);
  trigger->Start();
  EXPECT_TRUE(trigger->HasState(TMMTrigger::tsPlaying));
  EXPECT_EQ(source->Loads(), 1);
  trigger->Restart();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(sink->Blocks(), 5);
}

TEST_F(TriggerTest, PauseHoldsTheWorkerAndRestartFinishesTheStream) {
  Build(40);
  platform::Event reached(platform::Event::Reset::Manual);
  sink->beforeBlock = [&](PWaveHdr) {
    if (sink->Blocks() == 5) reached.Set();
  };
  trigger->Start();
  ASSERT_TRUE(reached.Wait(kBound));
  trigger->Pause();
  EXPECT_TRUE(trigger->HasState(TMMTrigger::tsPaused));
  // Held, the worker finishes at most the cycle that was under way; a worker that kept
  // cycling would hand on a block a millisecond.
  const int heldAt = sink->Blocks();
  EXPECT_FALSE(RunUntil([&] { return sink->Blocks() > heldAt + 1; }, 100ms));
  EXPECT_LT(sink->Blocks(), 40);
  trigger->Restart();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(sink->Blocks(), 40);
  EXPECT_TRUE(IsCountingSequence(sink->Data()));
}

TEST_F(TriggerTest, DestroyingWhileAHandlerSynchronizesDoesNotDeadlock) {
  Build(100);
  platform::Event entered(platform::Event::Reset::Manual);
  std::atomic<bool> ranOnMain{false};
  sink->beforeBlock = [&](PWaveHdr) {
    if (sink->Blocks() != 2) return;
    entered.Set();
    SynchronizeEvent([&] { ranOnMain = platform::IsMainThread(); });
  };
  trigger->Start();
  ASSERT_TRUE(entered.Wait(kBound));
  trigger.reset();  // waits for the worker while serving its synchronize call
  EXPECT_TRUE(ranOnMain);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(DSPThreadList().empty());
}

TEST_F(TriggerTest, StartAgainAfterAStopRunsANewStream) {
  Build(3);
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  auto second = std::make_unique<BlockSource>(4, 64);
  trigger->SetInput(second.get());  // relinking stops and keeps the trigger open
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 1; }));
  EXPECT_EQ(sink->Blocks(), 7);
  trigger.reset();
}

TEST_F(TriggerTest, StartRightAfterStopNeverHandsOnABlockThatIsBeingLoaded) {
  // Most stops land while the worker pauses between cycles and complete at once; the Start
  // that follows loads its first block on this thread while that worker wakes up.
  constexpr int kImmediateRounds = 20;
  constexpr int kMaxRounds = 200;
  auto probe = std::make_unique<ProbeSource>();
  trigger = std::make_unique<TMMTrigger>(nullptr);
  sink = std::make_unique<RecordingSink>();
  trigger->SetBufferSize(64);
  trigger->SetInput(probe.get());
  trigger->SetOutput(sink.get());
  sink->beforeBlock = [&](PWaveHdr) { probe->CheckDelivery(); };
  trigger->Start();
  int immediate = 0;
  for (int round = 0; round < kMaxRounds && immediate < kImmediateRounds; ++round) {
    const int target = sink->Blocks() + 3;
    ASSERT_TRUE(RunUntil([&] {
      // A stop that waited for a running cycle completes here; start again after it.
      if (!trigger->HasState(TMMTrigger::tsPlaying)) trigger->Start();
      return sink->Blocks() >= target;
    }));
    trigger->Stop();
    if (!trigger->HasState(TMMTrigger::tsPlaying)) ++immediate;
    trigger->Start();
  }
  trigger->Close();
  EXPECT_EQ(probe->Overlaps(), 0);
  // Blocks dropped by a stop leave gaps; a block handed on twice would repeat its serial.
  const auto serials = Serials(sink->Data(), 64);
  EXPECT_EQ(std::adjacent_find(serials.begin(), serials.end(), std::greater_equal<>()),
            serials.end())
      << "a block was handed on twice or out of order";
  trigger.reset();
}

// Records what it is shown and runs `onShow` on the reporting thread, while installed.
class HookedReporter : public platform::ErrorReporter {
 public:
  explicit HookedReporter(std::function<void()> onShow)
      : onShow_(std::move(onShow)), previous_(platform::SetErrorReporter(this)) {}
  ~HookedReporter() override { platform::SetErrorReporter(previous_); }

  void ShowError(const std::string& text) override {
    {
      std::lock_guard lock(mutex_);
      texts_.push_back(text);
    }
    onShow_();
  }
  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  std::function<void()> onShow_;
  platform::ErrorReporter* previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

TEST_F(TriggerTest, StateFollowsEachOperationAndEachChangeIsRaisedOnce) {
  constexpr unsigned kC = TMMTrigger::tsClosed, kO = TMMTrigger::tsOpen,
                     kPl = TMMTrigger::tsPlaying, kPa = TMMTrigger::tsPaused;
  enum Op { kOpen, kStart, kPause, kRestart, kStop, kClose };
  struct Row {
    const char* name;
    std::vector<std::pair<Op, unsigned>> script;  // operation, state after it
    int pauses, restarts, stops, closes;
  };
  const Row rows[] = {
      {"paused before the start, stopped unplayed",
       {{kPause, kO | kPa},
        {kPause, kO | kPa},
        {kStart, kO | kPl | kPa},
        {kStop, kO},
        {kStop, kO},
        {kClose, kC}},
       1,
       0,
       1,
       1},
      {"paused and restarted while playing",
       {{kStart, kO | kPl},
        {kPause, kO | kPl | kPa},
        {kPause, kO | kPl | kPa},
        {kRestart, kO | kPl},
        {kRestart, kO | kPl}},
       1,
       1,
       0,
       0},
      {"restart needs both a pause and a start",
       {{kOpen, kO}, {kRestart, kO}, {kPause, kO | kPa}, {kRestart, kO | kPa}},
       1,
       0,
       0,
       0},
      {"close while paused stops first",
       {{kPause, kO | kPa}, {kClose, kC}, {kClose, kC}},
       1,
       0,
       1,
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Build(1000);
    trigger->SetInterval(60000);  // after its first cycle the worker waits; the stream goes on
    stops = 0;
    closes = 0;
    int pauses = 0, restarts = 0;
    trigger->OnPause = [&](TObject*) { ++pauses; };
    trigger->OnRestart = [&](TObject*) { ++restarts; };
    for (const auto& [op, expected] : row.script) {
      switch (op) {
        case kOpen:
          trigger->Open();
          break;
        case kStart:
          trigger->Start();
          break;
        case kPause:
          trigger->Pause();
          break;
        case kRestart:
          trigger->Restart();
          break;
        case kStop:
          trigger->Stop();
          break;
        case kClose:
          trigger->Close();
          break;
      }
      EXPECT_EQ(trigger->State(), expected) << "after operation " << op;
    }
    EXPECT_EQ(pauses, row.pauses);
    EXPECT_EQ(restarts, row.restarts);
    EXPECT_EQ(stops, row.stops);
    EXPECT_EQ(closes, row.closes);
    trigger->Close();  // may wait for a running cycle
    ASSERT_TRUE(RunUntil([&] { return trigger->HasState(TMMTrigger::tsClosed); }));
    trigger.reset();
  }
}

TEST_F(TriggerTest, CloseWhileADeferredCloseAwaitsItsStopMessageClosesOnce) {
  Build(50);
  platform::Event closeDeferred(platform::Event::Reset::Manual);
  sink->beforeBlock = [this, &closeDeferred](PWaveHdr) {
    if (sink->Blocks() != 2) return;
    trigger->Close();  // deferred behind this cycle
    closeDeferred.Set();
  };
  trigger->Start();
  ASSERT_TRUE(closeDeferred.Wait(kBound));
  // The cycle has ended once its stop message is queued; it is not delivered yet.
  auto& dispatcher = platform::Dispatcher::Instance();
  for (int i = 0; i < 1000 && dispatcher.PendingMessages(trigger->Window()) == 0; ++i) {
    platform::SleepMs(10);
  }
  ASSERT_EQ(dispatcher.PendingMessages(trigger->Window()), 1u);
  trigger->Close();
  platform::ProcessMessages();
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(source->Opened());
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
}

TEST_F(TriggerTest, CloseRaisesTheChainsFailureWithTheTriggerClosed) {
  Build(3);
  sink->failClose = true;
  trigger->Start();
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  try {
    trigger->Close();
    FAIL() << "a failed close of the chain was reported as success";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "the sink could not finish its file");
  }
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
  EXPECT_TRUE(DSPThreadList().empty());
  sink->failClose = false;
  auto second = std::make_unique<BlockSource>(2, 64);
  trigger->SetInput(second.get());
  trigger->Start();  // opens again with a new worker
  ASSERT_TRUE(RunUntil([&] { return stops > 1; }));
  EXPECT_EQ(sink->Blocks(), 5);
  trigger.reset();
}

TEST_F(TriggerTest, CloseGivesUpOnAWorkerThatDoesNotLeaveAndKeepsTheTriggerOpen) {
  Build(20);
  source->failAtLoad = 3;
  trigger->SetWorkerTimeout(std::chrono::milliseconds(50));
  platform::Event reporting(platform::Event::Reset::Manual);
  platform::Event release(platform::Event::Reset::Manual);
  // The failed worker shows its error and stays there until released.
  HookedReporter shown([&] {
    reporting.Set();
    release.Wait(kBound);
  });
  trigger->Start();
  ASSERT_TRUE(reporting.Wait(kBound));
  try {
    trigger->Close();
    FAIL() << "Close returned while the worker still ran";
  } catch (const EMMTriggerError& e) {
    EXPECT_STREQ(e.what(), "Trigger:\n\rThread did not stop");
  }
  EXPECT_EQ(trigger->State(), TMMTrigger::tsOpen);  // stopped, the block and worker kept
  EXPECT_EQ(DSPThreadList().size(), 1u);
  EXPECT_EQ(closes, 0);
  release.Set();
  // Released, the failed worker closes the trigger itself.
  ASSERT_TRUE(RunUntil([&] { return closes > 0; }));
  EXPECT_EQ(trigger->State(), TMMTrigger::tsClosed);
  EXPECT_EQ(shown.Texts(), std::vector<std::string>{"source failed at load 3"});
  trigger.reset();
  EXPECT_TRUE(DSPThreadList().empty());
}

TEST_F(TriggerTest, DestroyingReportsAWorkerThatDoesNotLeaveThenWaitsForIt) {
  Build(100);
  trigger->SetWorkerTimeout(std::chrono::milliseconds(50));
  platform::Event entered(platform::Event::Reset::Manual);
  platform::Event release(platform::Event::Reset::Manual);
  sink->beforeBlock = [&](PWaveHdr) {
    if (sink->Blocks() != 1) return;
    entered.Set();
    release.Wait(kBound);  // a cycle stuck in the sink
  };
  HookedReporter shown([&] { release.Set(); });  // the report lets the cycle go on
  trigger->Start();
  ASSERT_TRUE(entered.Wait(kBound));
  trigger.reset();
  EXPECT_EQ(shown.Texts(), std::vector<std::string>{"Trigger:\n\rThread did not stop"});
  EXPECT_EQ(sink->Blocks(), 2);  // the block in hand was still taken
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(DSPThreadList().empty());
}

}  // namespace
}  // namespace stream::test
