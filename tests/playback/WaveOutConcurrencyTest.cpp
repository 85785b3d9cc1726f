#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatcher.h"
#include "playback/WaveOut.h"
#include "tests/platform/CapturingReporter.h"
#include "tests/stream/TriggerTestComponents.h"

namespace playback {
namespace {

using namespace std::chrono_literals;
using stream::test::ProbeSource;
using stream::test::RecordingSink;
using stream::test::Serials;

constexpr auto kBound = 20s;  // generous: only a hang reaches it
constexpr std::uint32_t kBlock = 256;

// Waits without serving the dispatcher, which completions in cmThread do not need.
bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(100us);
  }
  return true;
}

// An endless source of numbered blocks → output → a sink that checks each delivery against the
// source's loads, playing into the null device.
class WaveOutConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QD_WAVE_DEVICE", "null", 1); }

  void TearDown() override {
    out.reset();
    sink.reset();
    source.reset();
    platform::ProcessMessages();
    unsetenv("QD_WAVE_DEVICE");
  }

  void Build(stream::TMMCBMode mode) {
    source = std::make_unique<ProbeSource>();
    out = std::make_unique<TMMWaveOut>(nullptr);
    sink = std::make_unique<RecordingSink>();
    out->SetDeviceID(stream::MapperId);
    out->SetBufferSize(kBlock);
    out->SetNumBuffers(4);
    out->SetCallBackMode(mode);
    out->SetInput(source.get());
    out->SetOutput(sink.get());
    out->OnError = [this](stream::TObject*) { ++errors; };
  }

  bool Closed() const { return out->State() == TMMWaveOut::wsClosed; }

  platform::test::CapturingReporter reporter;
  std::unique_ptr<ProbeSource> source;
  std::unique_ptr<TMMWaveOut> out;
  std::unique_ptr<RecordingSink> sink;
  std::atomic<int> errors{0};
};

// ResetBuffers while the worker hands a buffer on: the reset refills the ring only once that
// handler is over, so no load of the reset overlaps the handler's delivery or refill, and the
// blocks handed on keep the order they were loaded in.
TEST_F(WaveOutConcurrencyTest, AResetWaitsForTheRunningCompletionHandler) {
  Build(stream::cmThread);
  std::atomic<bool> delivering{false};
  sink->beforeBlock = [&](stream::PWaveHdr) {
    source->CheckDelivery();
    delivering = true;
    std::this_thread::sleep_for(2ms);  // the reset below meets this handler
    delivering = false;
    source->CheckDelivery();
  };
  out->Start();
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(WaitFor([&] { return delivering.load(); })) << "reset " << i;
    out->ResetBuffers();
    EXPECT_TRUE(out->HasState(TMMWaveOut::wsStarted)) << "reset " << i;
  }
  out->Close();
  ASSERT_TRUE(platform::Dispatcher::Instance().RunUntil([&] { return Closed(); }, kBound));
  EXPECT_EQ(source->Overlaps(), 0);
  EXPECT_EQ(errors, 0);
  EXPECT_TRUE(reporter.Texts().empty());
  const std::vector<std::uint32_t> serials = Serials(sink->Data(), kBlock);
  EXPECT_GE(serials.size(), 30u);
  for (std::size_t i = 1; i < serials.size(); ++i) {
    ASSERT_LT(serials[i - 1], serials[i]) << "block " << i;
  }
}

// The output's own waits (for the device to open, for the buffers to come back, for the device to
// close) do not run the message loop: a message posted to another window waits for the loop. The
// completions that were queued for the hidden window before a stop are not handled after it.
TEST_F(WaveOutConcurrencyTest, WaitsDeliverNoMessages) {
  struct Row {
    const char* name;
    bool startFirst;
    bool playsOn;
    std::function<void(TMMWaveOut&)> operation;
  } rows[] = {
      {"Open", false, false, [](TMMWaveOut& o) { o.Open(); }},
      {"Stop", true, false, [](TMMWaveOut& o) { o.Stop(); }},
      {"ResetBuffers", true, true, [](TMMWaveOut& o) { o.ResetBuffers(); }},
      {"Close", true, false, [](TMMWaveOut& o) { o.Close(); }},
  };
  int probed = 0;
  platform::Dispatcher& dispatcher = platform::Dispatcher::Instance();
  const platform::WindowHandle probe =
      dispatcher.CreateWindow([&](const platform::Message&) { ++probed; });
  for (const Row& row : rows) {
    Build(stream::cmWindow);
    if (row.startFirst) {
      out->Start();
      ASSERT_TRUE(dispatcher.RunUntil([&] { return sink->Blocks() >= 2; }, kBound)) << row.name;
      // Completions pile up for the hidden window meanwhile.
      std::this_thread::sleep_for(10ms);
    }
    probed = 0;
    dispatcher.PostMessage(probe, 1);
    row.operation(*out);
    EXPECT_EQ(probed, 0) << row.name;
    const int blocks = sink->Blocks();
    dispatcher.ProcessMessages();
    EXPECT_EQ(probed, 1) << row.name;
    if (!row.playsOn) {
      EXPECT_EQ(sink->Blocks(), blocks) << row.name;
    }
    out->Close();
    EXPECT_TRUE(Closed()) << row.name;
    EXPECT_EQ(errors, 0) << row.name;
  }
  dispatcher.DestroyWindow(probe);
}

}  // namespace
}  // namespace playback
