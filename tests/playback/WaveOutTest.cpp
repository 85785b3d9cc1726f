#include "playback/WaveOut.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Desktop.h"
#include "platform/Dispatcher.h"
#include "platform/MainThread.h"
#include "tests/platform/CapturingReporter.h"
#include "tests/stream/TriggerTestComponents.h"

namespace playback {
namespace {

using namespace std::chrono_literals;
using stream::test::BlockSource;
using stream::test::CountingByte;
using stream::test::IsCountingSequence;
using stream::test::RecordingSink;

constexpr auto kBound = 20s;  // generous: only a hang reaches it

bool RunUntil(const std::function<bool()>& done) {
  return platform::Dispatcher::Instance().RunUntil(done, kBound);
}

std::uint32_t ReadU32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The bytes of the "data" chunk of the WAV file at `path`.
std::vector<std::uint8_t> WaveData(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const std::uint32_t size = ReadU32(bytes, at + 4);
    if (std::string(bytes.begin() + at, bytes.begin() + at + 4) == "data") {
      return {bytes.begin() + at + 8, bytes.begin() + at + 8 + size};
    }
    at += 8 + size + (size & 1);
  }
  ADD_FAILURE() << "no data chunk in " << path;
  return {};
}

class RecordingDesktop : public platform::DesktopServices {
 public:
  RecordingDesktop() : previous_(platform::SetDesktopServices(this)) {}
  ~RecordingDesktop() override { platform::SetDesktopServices(previous_); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void SetBusyCursor(bool busy) override { cursor.push_back(busy); }
  bool OpenDocument(const std::string&) override { return false; }

  std::vector<std::string> messages;
  std::vector<bool> cursor;

 private:
  platform::DesktopServices* previous_;
};

// A chain source → output → sink, playing into the file device (or the null device), with the
// output's lifecycle events logged. Like the player, the test closes the output in OnStop.
class WaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("waveout-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    file = dir / "played.wav";
    UseDevice("file:" + file.string());
  }

  void TearDown() override {
    out.reset();
    sink.reset();
    source.reset();
    platform::ProcessMessages();
    unsetenv("QD_WAVE_DEVICE");
    std::filesystem::remove_all(dir);
  }

  static void UseDevice(const std::string& device) { setenv("QD_WAVE_DEVICE", device.c_str(), 1); }

  void Build(int blocks, std::uint32_t blockBytes, std::int32_t bufferSize = 256,
             std::int32_t numBuffers = 4, bool closeOnStop = true) {
    source = std::make_unique<BlockSource>(blocks, blockBytes);
    out = std::make_unique<TMMWaveOut>(nullptr);
    sink = std::make_unique<RecordingSink>();
    out->SetDeviceID(stream::MapperId);
    out->SetBufferSize(bufferSize);
    out->SetNumBuffers(numBuffers);
    out->SetInput(source.get());
    out->SetOutput(sink.get());
    out->OnError = [this](stream::TObject*) { ++errors; };
    out->OnStart = [this](stream::TObject*) { log.push_back("start"); };
    out->OnStop = [this, closeOnStop](stream::TObject*) {
      stopOnMain = platform::IsMainThread();
      log.push_back("stop");
      if (closeOnStop) out->Close();
    };
    out->OnClose = [this](stream::TObject*) { log.push_back("close"); };
  }

  int Count(const std::string& what) const {
    return static_cast<int>(std::count(log.begin(), log.end(), what));
  }
  bool Closed() const { return out->State() == TMMWaveOut::wsClosed; }

  platform::test::CapturingReporter reporter;
  std::filesystem::path dir;
  std::filesystem::path file;
  std::unique_ptr<BlockSource> source;
  std::unique_ptr<TMMWaveOut> out;
  std::unique_ptr<RecordingSink> sink;
  std::atomic<int> errors{0};
  std::atomic<bool> stopOnMain{false};
  std::vector<std::string> log;  // main thread only
};

TEST_F(WaveOutTest, PropertiesKeepTheirLimits) {
  RecordingDesktop desktop;
  TMMWaveOut out(nullptr);
  EXPECT_EQ(out.GetBufferSize(), 2048);
  EXPECT_EQ(out.GetNumBuffers(), 10);
  EXPECT_EQ(out.GetDeviceID(), 0);
  EXPECT_EQ(out.GetCallBackMode(), stream::cmWindow);
  EXPECT_EQ(out.TimeFormat(), stream::tfByte);
  EXPECT_TRUE(out.ShowHourGlass());
  EXPECT_EQ(out.Priority(), stream::tpHigher);
  EXPECT_EQ(out.State(), TMMWaveOut::wsClosed);

  struct Row {
    std::int32_t set;
    std::int32_t numBuffers;
  } rows[] = {{1, 10}, {2, 2}, {1000, 500}, {-3, 500}, {30, 30}};
  for (const Row& row : rows) {
    out.SetNumBuffers(row.set);
    EXPECT_EQ(out.GetNumBuffers(), row.numBuffers) << "set " << row.set;
  }
  out.SetBufferSize(10);
  EXPECT_EQ(out.GetBufferSize(), 32);
  out.SetBufferSize(4096);
  EXPECT_EQ(out.GetBufferSize(), 4096);

  out.SetDeviceID(stream::MapperId);
  EXPECT_EQ(out.GetDeviceID(), stream::MapperId);
  EXPECT_NE(out.GetProductName(), "No wave audio playing device found");
  for (std::int32_t bad : {static_cast<std::int32_t>(out.NumDevs()), -2, -7}) {
    out.SetDeviceID(bad);
    EXPECT_EQ(out.GetDeviceID(), stream::InvalidId) << bad;
    EXPECT_EQ(out.GetProductName(), "No wave audio playing device found");
  }

  out.SetCallBackMode(stream::cmThread);
  out.SetCallBackMode(stream::cmCallback);
  EXPECT_EQ(out.GetCallBackMode(), stream::cmThread);
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_EQ(desktop.messages[0],
            "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported "
            "under Windows 95");
}

TEST_F(WaveOutTest, OpenRefusesAnInvalidDeviceOrAMissingFormat) {
  struct Row {
    const char* name;
    bool withFormat;
    std::int32_t device;
    const char* message;
  } rows[] = {
      {"invalid device", true, 1000, "Invalid DeviceID"},
      {"no format", false, stream::MapperId, "WaveOutOpen:\n\rInvalid wave format"},
  };
  for (const Row& row : rows) {
    TMMWaveOut out(nullptr);
    int onError = 0;
    out.OnError = [&](stream::TObject*) { ++onError; };
    if (row.withFormat) {
      const stream::TWaveFormatEx format = stream::test::Pcm16Stereo44k();
      out.SetPWaveFormat(&format);
    }
    out.SetDeviceID(row.device);
    try {
      out.Open();
      ADD_FAILURE() << row.name << ": Open succeeded";
    } catch (const EMMWaveOutError& e) {
      EXPECT_STREQ(e.what(), row.message) << row.name;
    }
    EXPECT_EQ(onError, 1) << row.name;
    EXPECT_EQ(out.State(), TMMWaveOut::wsClosed) << row.name;
  }

  // The mapper sent to a device number that does not exist: with no sound device at all the
  // output says so, otherwise it names the number; never a word about the format.
  UseDevice("7");
  const std::uint32_t devices = platform::waveOutGetNumDevs();
  const std::string expected = devices == 0
                                   ? "No wave audio playing device found"
                                   : std::string("WaveOutOpen:\n\r") +
                                         platform::waveOutMissingDeviceText(platform::WAVE_MAPPER);
  TMMWaveOut out(nullptr);
  const stream::TWaveFormatEx format = stream::test::Pcm16Stereo44k();
  out.SetPWaveFormat(&format);
  out.SetDeviceID(stream::MapperId);
  try {
    out.Open();
    ADD_FAILURE() << "Open succeeded";
  } catch (const EMMWaveOutError& e) {
    EXPECT_EQ(e.what(), expected);
  }
  EXPECT_EQ(out.State(), TMMWaveOut::wsClosed);
}

TEST_F(WaveOutTest, PropertiesCannotChangeWhileOpen) {
  Build(4, 256);
  out->Open();
  EXPECT_TRUE(out->HasState(TMMWaveOut::wsOpen));
  EXPECT_TRUE(source->Opened());
  for (auto change : std::vector<std::function<void()>>{
           [&] { out->SetNumBuffers(20); }, [&] { out->SetBufferSize(512); },
           [&] { out->SetDeviceID(0); }, [&] { out->SetCallBackMode(stream::cmThread); }}) {
    try {
      change();
      ADD_FAILURE() << "changed while open";
    } catch (const EMMWaveOutError& e) {
      EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
  }
  EXPECT_EQ(out->GetNumBuffers(), 4);
  out->Close();
  EXPECT_TRUE(Closed());
  EXPECT_FALSE(source->Opened());
}

// Every byte the source delivers is heard once and in order: downstream of the output and in the
// device's recording. The ring of 4 buffers goes round ten times.
TEST_F(WaveOutTest, PlaysEveryByteInOrderAndStopsOnTheMainThreadAtTheEnd) {
  for (stream::TMMCBMode mode : {stream::cmWindow, stream::cmThread}) {
    SCOPED_TRACE(mode == stream::cmWindow ? "cmWindow" : "cmThread");
    log.clear();
    Build(40, 256);
    out->SetCallBackMode(mode);
    out->Start();
    EXPECT_EQ(out->BuffersInUse(), 4);
    ASSERT_TRUE(RunUntil([&] { return Count("close") == 1; }));
    EXPECT_EQ(log, (std::vector<std::string>{"start", "stop", "close"}));
    EXPECT_TRUE(stopOnMain);
    EXPECT_TRUE(Closed());
    EXPECT_EQ(errors, 0);
    const std::vector<std::uint8_t> heard = sink->Data();
    EXPECT_EQ(heard.size(), 40u * 256u);
    EXPECT_TRUE(IsCountingSequence(heard));
    EXPECT_EQ(WaveData(file), heard);
  }
}

TEST_F(WaveOutTest, PauseAndRestartLoseNothing) {
  Build(30, 256);
  out->Start();
  ASSERT_TRUE(RunUntil([&] { return sink->Blocks() >= 5; }));
  out->Pause();
  EXPECT_TRUE(out->HasState(TMMWaveOut::wsPaused));
  EXPECT_TRUE(source->Paused());
  const int heldAt = sink->Blocks();
  platform::ProcessMessages();  // completions already queued may still arrive, nothing more
  EXPECT_LE(sink->Blocks(), heldAt + 4);
  out->Restart();
  EXPECT_FALSE(out->HasState(TMMWaveOut::wsPaused));
  ASSERT_TRUE(RunUntil([&] { return Count("close") == 1; }));
  EXPECT_EQ(Count("stop"), 1);
  EXPECT_EQ(sink->Data().size(), 30u * 256u);
  EXPECT_TRUE(IsCountingSequence(sink->Data()));
  EXPECT_EQ(WaveData(file), sink->Data());
}

TEST_F(WaveOutTest, ASourceShorterThanOneBufferPlaysOnce) {
  RecordingDesktop desktop;
  Build(1, 100, 2048, 60);  // a ring of 122880 bytes shows the hourglass while it fills
  out->Start();
  EXPECT_EQ(desktop.cursor, (std::vector<bool>{true, false}));
  EXPECT_EQ(out->BuffersInUse(), 1);
  ASSERT_TRUE(RunUntil([&] { return Count("close") == 1; }));
  EXPECT_EQ(Count("stop"), 1);
  EXPECT_EQ(sink->Data().size(), 100u);
  EXPECT_EQ(WaveData(file), sink->Data());
}

TEST_F(WaveOutTest, ASourceThatYieldsNothingCannotStart) {
  Build(0, 256);
  try {
    out->Start();
    FAIL() << "Start succeeded without data";
  } catch (const EMMWaveOutError& e) {
    EXPECT_STREQ(e.what(), "WaveOutStart:\n\rUnable to start device");
  }
  EXPECT_TRUE(Closed());
  EXPECT_FALSE(source->Opened());
  EXPECT_EQ(sink->Blocks(), 0);
  // The prepared header was unprepared and returned to the pool; a second Start works alike.
  EXPECT_THROW(out->Start(), EMMWaveOutError);
  EXPECT_TRUE(Closed());
}

// In cmThread the failure comes on the worker, which hands the close over to the main thread.
TEST_F(WaveOutTest, ASourceThatPromisesMoreButGivesNothingFails) {
  for (stream::TMMCBMode mode : {stream::cmWindow, stream::cmThread}) {
    SCOPED_TRACE(mode == stream::cmWindow ? "cmWindow" : "cmThread");
    log.clear();
    Build(40, 256);
    out->SetCallBackMode(mode);
    source->emptyAtLoad = 7;  // the ring holds 4; the third refill comes back empty
    out->Start();
    ASSERT_TRUE(RunUntil([&] { return Count("close") == 1; }));
    EXPECT_TRUE(Closed());
    const auto texts = reporter.Texts();
    ASSERT_EQ(texts.size(), mode == stream::cmWindow ? 1u : 2u);
    EXPECT_EQ(texts.back(), "Error filling wave buffer");
    EXPECT_GE(errors, 1);
    EXPECT_EQ(out->ThreadFailed(), mode == stream::cmThread);
    EXPECT_EQ(Count("stop"), 1);
    // What was heard before the failure is still the stream's beginning.
    EXPECT_TRUE(IsCountingSequence(sink->Data()));
  }
}

// ResetBuffers while paused, as a seek does: the ring is refilled from the source's present
// position and the position counts from 0 again; playback then goes on to the end.
TEST_F(WaveOutTest, AResetRefillsTheRingAndCountsFromZero) {
  UseDevice("null");
  for (stream::TMMCBMode mode : {stream::cmWindow, stream::cmThread}) {
    SCOPED_TRACE(mode == stream::cmWindow ? "cmWindow" : "cmThread");
    log.clear();
    Build(40, 256);
    out->SetCallBackMode(mode);
    out->SetTimeFormat(stream::tfSample);
    out->Start();
    ASSERT_TRUE(RunUntil([&] { return sink->Blocks() >= 5; }));
    out->Pause();
    out->ResetBuffers();
    EXPECT_EQ(out->State(), TMMWaveOut::wsOpen | TMMWaveOut::wsStarted | TMMWaveOut::wsPaused);
    EXPECT_EQ(out->GetPosition(), 0);
    EXPECT_EQ(out->BuffersInUse(), 4);
    EXPECT_EQ(out->BuffersQueued(), 4);
    const int heardBefore = sink->Blocks();
    const int reloadedFrom = source->Delivered() - 4;
    out->Restart();
    ASSERT_TRUE(RunUntil([&] { return Count("close") == 1; }));
    EXPECT_EQ(log, (std::vector<std::string>{"start", "stop", "close"}));
    EXPECT_EQ(errors, 0);
    // The blocks the reset dropped are never heard; the rest comes once and in order.
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < heardBefore * 256; ++i) expected.push_back(CountingByte(i));
    for (int i = reloadedFrom * 256; i < 40 * 256; ++i) expected.push_back(CountingByte(i));
    EXPECT_EQ(sink->Data(), expected);
  }
}

// Stop from inside a completion handler only marks the stop; it completes on the main thread when
// the handler ends, also when the handler runs on the worker.
TEST_F(WaveOutTest, StopFromAHandlerIsCompletedAfterIt) {
  for (stream::TMMCBMode mode : {stream::cmWindow, stream::cmThread}) {
    SCOPED_TRACE(mode == stream::cmWindow ? "cmWindow" : "cmThread");
    log.clear();
    Build(40, 256, 256, 4, /*closeOnStop=*/false);
    out->SetCallBackMode(mode);
    std::atomic<bool> pendingInside{false};
    std::atomic<bool> stillStartedInside{false};
    out->OnBufferReady = [&](stream::TObject*, stream::PWaveHdr) {
      if (sink->Blocks() != 2) return;
      out->Stop();
      pendingInside = out->StopPending();
      stillStartedInside = out->HasState(TMMWaveOut::wsStarted);
    };
    out->Start();
    ASSERT_TRUE(RunUntil([&] { return Count("stop") == 1; }));
    EXPECT_TRUE(stopOnMain);
    EXPECT_TRUE(pendingInside);
    EXPECT_TRUE(stillStartedInside);
    EXPECT_FALSE(out->StopPending());
    EXPECT_EQ(out->State(), TMMWaveOut::wsOpen);
    EXPECT_FALSE(source->Started());
    EXPECT_EQ(out->BuffersQueued(), 0);
    EXPECT_LT(sink->Blocks(), 40);
    platform::ProcessMessages();
    EXPECT_EQ(Count("stop"), 1);
    out->Close();
    EXPECT_EQ(log, (std::vector<std::string>{"start", "stop", "close"}));
    EXPECT_EQ(errors, 0);
  }
}

// In cmThread the close may wait for the handler that runs on the worker; it completes on the
// main thread.
TEST_F(WaveOutTest, ClosingDuringPlaybackStopsFirst) {
  for (stream::TMMCBMode mode : {stream::cmWindow, stream::cmThread}) {
    SCOPED_TRACE(mode == stream::cmWindow ? "cmWindow" : "cmThread");
    log.clear();
    Build(400, 256, 256, 4, /*closeOnStop=*/false);
    out->SetCallBackMode(mode);
    out->Start();
    ASSERT_TRUE(RunUntil([&] { return sink->Blocks() >= 3; }));
    out->Close();
    ASSERT_TRUE(RunUntil([&] { return Count("close") == 1; }));
    EXPECT_EQ(log, (std::vector<std::string>{"start", "stop", "close"}));
    EXPECT_TRUE(Closed());
    EXPECT_FALSE(source->Opened());
    EXPECT_EQ(out->GetPosition(), 0);
    EXPECT_EQ(errors, 0);
    // What was played up to the close reached the recording, in order.
    const std::vector<std::uint8_t> recorded = WaveData(file);
    EXPECT_GE(recorded.size(), 3u * 256u);
    EXPECT_TRUE(IsCountingSequence(recorded));
  }
}

// Destroying a playing output closes the device without OnStop or OnClose; in cmThread the
// destruction meets a handler that is still running on the worker and waits for it.
TEST_F(WaveOutTest, DestroyingAPlayingOutputClosesTheDeviceQuietly) {
  for (stream::TMMCBMode mode : {stream::cmWindow, stream::cmThread}) {
    SCOPED_TRACE(mode == stream::cmWindow ? "cmWindow" : "cmThread");
    log.clear();
    Build(400, 256);
    out->SetCallBackMode(mode);
    std::atomic<bool> inHandler{false};
    sink->beforeBlock = [&](stream::PWaveHdr) {
      if (platform::IsMainThread() || sink->Blocks() != 3) return;
      inHandler = true;
      std::this_thread::sleep_for(20ms);  // the destruction comes meanwhile
    };
    out->Start();
    if (mode == stream::cmThread) {
      ASSERT_TRUE(RunUntil([&] { return inHandler.load(); }));
    } else {
      ASSERT_TRUE(RunUntil([&] { return sink->Blocks() >= 3; }));
    }
    out.reset();
    EXPECT_EQ(log, std::vector<std::string>{"start"});
    EXPECT_EQ(errors, 0);
    EXPECT_TRUE(reporter.Texts().empty());
    // The device was closed, so its recording is complete: what was played, in order.
    const std::vector<std::uint8_t> recorded = WaveData(file);
    EXPECT_GE(recorded.size(), 3u * 256u);
    EXPECT_TRUE(IsCountingSequence(recorded));
  }
}

// The position follows the device: it never goes back and reaches the whole stream when the last
// buffer comes back.
TEST_F(WaveOutTest, PositionFollowsTheDevice) {
  UseDevice("null");
  Build(20, 256);
  out->SetTimeFormat(stream::tfSample);
  std::vector<std::int64_t> positions;
  out->OnBufferReady = [&](stream::TObject*, stream::PWaveHdr) {
    positions.push_back(out->GetPosition());
  };
  out->Start();
  ASSERT_TRUE(RunUntil([&] { return Count("close") == 1; }));
  ASSERT_EQ(positions.size(), 20u);
  for (std::size_t i = 1; i < positions.size(); ++i) {
    EXPECT_GE(positions[i], positions[i - 1]) << i;
  }
  EXPECT_EQ(positions.back(), 20 * 256 / 4);  // 4 bytes per sample frame
  EXPECT_EQ(out->GetPosition(), 0);           // closed
}

}  // namespace
}  // namespace playback
