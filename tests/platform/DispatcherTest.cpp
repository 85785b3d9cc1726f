#include "platform/Dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/MainThread.h"
#include "tests/platform/CapturingReporter.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using Ids = std::vector<std::uint32_t>;

class DispatcherTest : public testing::Test {
 protected:
  void TearDown() override {
    for (WindowHandle window : windows_) dispatcher_.DestroyWindow(window);
    dispatcher_.SetWakeHook({});
    dispatcher_.ProcessMessages();
  }

  WindowHandle Create(WindowProc proc) {
    return windows_.emplace_back(dispatcher_.CreateWindow(std::move(proc)));
  }
  // A window that records what it receives; it checks it runs on the main thread.
  WindowHandle CreateRecorder() {
    return Create([this](const Message& message) {
      EXPECT_TRUE(IsMainThread());
      received_.push_back(message);
    });
  }
  Ids ReceivedIds(WindowHandle window) const {
    Ids ids;
    for (const Message& message : received_) {
      if (message.window == window) ids.push_back(message.id);
    }
    return ids;
  }

  Dispatcher& dispatcher_ = Dispatcher::Instance();
  std::vector<WindowHandle> windows_;
  std::vector<Message> received_;  // main thread only
};

TEST_F(DispatcherTest, DeliversInPostingOrderOnlyOnTheMainThread) {
  const WindowHandle window = CreateRecorder();
  for (std::uint32_t id = 1; id <= 3; ++id) dispatcher_.PostMessage(window, id, id * 10, -1);
  std::size_t offMain = 99;
  std::thread([&] { offMain = dispatcher_.ProcessMessages(); }).join();
  EXPECT_EQ(offMain, 0u);
  EXPECT_EQ(dispatcher_.PendingMessages(window), 3u);

  EXPECT_EQ(dispatcher_.ProcessMessages(), 3u);
  EXPECT_EQ(ReceivedIds(window), (Ids{1, 2, 3}));
  EXPECT_EQ(received_[1].wParam, 20u);
  EXPECT_EQ(received_[1].lParam, -1);
  EXPECT_EQ(dispatcher_.ProcessMessages(), 0u);
}

TEST_F(DispatcherTest, KeepsEachPostersOrderAcrossThreads) {
  constexpr int kPosters = 4, kPerPoster = 300;
  const WindowHandle window = CreateRecorder();
  std::vector<std::thread> posters;
  for (int poster = 0; poster < kPosters; ++poster) {
    posters.emplace_back([&, poster] {
      for (int i = 0; i < kPerPoster; ++i) dispatcher_.PostMessage(window, 1, poster, i);
    });
  }
  const bool all =
      dispatcher_.RunUntil([&] { return received_.size() == kPosters * kPerPoster; }, 10s);
  for (std::thread& poster : posters) poster.join();
  ASSERT_TRUE(all);
  std::vector<std::intptr_t> next(kPosters, 0);
  for (const Message& message : received_) {
    ASSERT_EQ(message.lParam, next[message.wParam]++) << "poster " << message.wParam;
  }
}

TEST_F(DispatcherTest, DestroyedWindowsGetNoFurtherMessages) {
  const WindowHandle gone = CreateRecorder(), kept = CreateRecorder();
  dispatcher_.PostMessage(gone, 1);
  dispatcher_.PostMessage(kept, 2);
  dispatcher_.DestroyWindow(gone);
  EXPECT_FALSE(dispatcher_.WindowExists(gone));
  EXPECT_FALSE(dispatcher_.PostMessage(gone, 3));
  EXPECT_EQ(dispatcher_.ProcessMessages(), 1u);
  EXPECT_EQ(ReceivedIds(kept), Ids{2});

  // Destroyed by the handler of an earlier message.
  const WindowHandle victim = CreateRecorder();
  const WindowHandle killer = Create([&](const Message&) { dispatcher_.DestroyWindow(victim); });
  dispatcher_.PostMessage(killer, 4);
  dispatcher_.PostMessage(victim, 5);
  EXPECT_EQ(dispatcher_.ProcessMessages(), 1u);
  EXPECT_TRUE(ReceivedIds(victim).empty());
}

TEST_F(DispatcherTest, RemoveMessagesHonoursWindowAndIdRange) {
  const WindowHandle first = CreateRecorder(), second = CreateRecorder();
  for (std::uint32_t id = 1; id <= 6; ++id) dispatcher_.PostMessage(first, id);
  dispatcher_.PostMessage(second, 3);
  EXPECT_EQ(dispatcher_.RemoveMessages(first, 3, 5), 3u);
  EXPECT_EQ(dispatcher_.RemoveMessages(first, 6, 6), 1u);
  EXPECT_EQ(dispatcher_.RemoveMessages(first, 10, 20), 0u);
  EXPECT_EQ(dispatcher_.PendingMessages(second), 1u);
  dispatcher_.ProcessMessages();
  EXPECT_EQ(ReceivedIds(first), (Ids{1, 2}));
  EXPECT_EQ(ReceivedIds(second), Ids{3});
}

TEST_F(DispatcherTest, MessagesPostedByHandlersWaitForTheNextCall) {
  WindowHandle window = kNoWindow;
  window = Create([&](const Message& message) {
    if (message.id == 1) dispatcher_.PostMessage(window, 1);  // reposts itself forever
    if (message.id == 2) {
      // Removing a queued message must not let a newly posted one take its turn.
      dispatcher_.RemoveMessages(window, 3, 3);
      dispatcher_.PostMessage(window, 4);
    }
  });
  dispatcher_.PostMessage(window, 1);
  EXPECT_EQ(dispatcher_.ProcessMessages(), 1u);
  EXPECT_EQ(dispatcher_.ProcessMessages(), 1u);
  dispatcher_.RemoveMessages(window, 1, 1);

  dispatcher_.PostMessage(window, 2);
  dispatcher_.PostMessage(window, 3);
  EXPECT_EQ(dispatcher_.ProcessMessages(), 1u);
  EXPECT_EQ(dispatcher_.PendingMessages(window), 1u);
}

TEST_F(DispatcherTest, HandlerExceptionIsReportedAndDeliveryGoesOn) {
  test::CapturingReporter reporter;
  const WindowHandle throwing =
      Create([](const Message&) { throw std::runtime_error("bad message"); });
  const WindowHandle recorder = CreateRecorder();
  dispatcher_.PostMessage(throwing, 1);
  dispatcher_.PostMessage(recorder, 2);
  EXPECT_EQ(dispatcher_.ProcessMessages(), 2u);
  EXPECT_EQ(ReceivedIds(recorder), Ids{2});
  EXPECT_EQ(reporter.Texts(), std::vector<std::string>{"bad message"});
}

TEST_F(DispatcherTest, SynchronizeRunsOnTheMainThreadAndRethrowsInTheCaller) {
  int direct = 0;
  Synchronize([&] { ++direct; });  // on the main thread: called at once
  EXPECT_EQ(direct, 1);

  std::thread::id ranOn;
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    Synchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      Synchronize([] { throw std::runtime_error("sync failed"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  const bool finished = dispatcher_.RunUntil([&] { return done.load(); }, 10s);
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(ranOn, MainThreadId());
  EXPECT_EQ(caught, "sync failed");
}

TEST_F(DispatcherTest, WaitServingSynchronizeServesTheWorkerItWaitsFor) {
  Event finished(Event::Reset::Auto);
  std::thread::id ranOn;
  std::thread worker([&] {
    Synchronize([&] { ranOn = std::this_thread::get_id(); });
    finished.Set();
  });
  const bool served = dispatcher_.WaitServingSynchronize(finished, 10s);
  worker.join();
  ASSERT_TRUE(served);
  EXPECT_EQ(ranOn, MainThreadId());

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(dispatcher_.WaitServingSynchronize(finished, 50ms));  // consumed above
  EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
}

TEST_F(DispatcherTest, WakeHookIsCalledByThePoster) {
  std::mutex mutex;
  std::vector<std::thread::id> wokenOn;
  dispatcher_.SetWakeHook([&] {
    std::lock_guard lock(mutex);
    wokenOn.push_back(std::this_thread::get_id());
  });
  const WindowHandle window = CreateRecorder();
  std::thread::id posterId;
  std::thread([&] {
    posterId = std::this_thread::get_id();
    dispatcher_.PostMessage(window, 1);
  }).join();
  EXPECT_EQ(wokenOn, std::vector<std::thread::id>{posterId});

  dispatcher_.SetWakeHook({});
  dispatcher_.PostMessage(window, 2);
  EXPECT_EQ(wokenOn.size(), 1u);
}

TEST_F(DispatcherTest, RunUntilQuitAndRunUntilCondition) {
  const WindowHandle window = Create([&](const Message& message) {
    received_.push_back(message);
    if (message.id == 3) dispatcher_.Quit();
  });
  std::thread poster([&] {
    for (std::uint32_t id = 1; id <= 3; ++id) dispatcher_.PostMessage(window, id);
  });
  dispatcher_.Run();
  poster.join();
  EXPECT_EQ(ReceivedIds(window), (Ids{1, 2, 3}));
  std::thread quitter([&] { dispatcher_.Quit(); });
  dispatcher_.Run();  // usable again; returns on the other thread's Quit
  quitter.join();

  // A condition set by another thread without any message is still noticed.
  std::atomic<bool> flag{false};
  std::thread setter([&] { flag = true; });
  EXPECT_TRUE(dispatcher_.RunUntil([&] { return flag.load(); }, 10s));
  setter.join();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(dispatcher_.RunUntil([] { return false; }, 50ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
}

}  // namespace
}  // namespace platform
