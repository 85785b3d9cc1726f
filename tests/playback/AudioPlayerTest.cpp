#include "playback/AudioPlayer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/MainThread.h"
#include "tests/platform/CapturingReporter.h"
#include "tests/sources/ChainConversion.h"
#include "tests/stream/TriggerTestComponents.h"

namespace playback {
namespace {

using namespace std::chrono_literals;
using sources::test::ConvertWithTrigger;
using sources::test::ReadWav;
using stream::test::RecordingSink;

constexpr auto kBound = 30s;  // generous: only a hang reaches it
const std::string kMp3 = std::string(QD_MP3_FIXTURES) + "/layer1_48.mp1";  // 0.8 s

std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& samples) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(samples.data());
  return {p, p + samples.size() * 2};
}

// The window's player setup (2048-byte buffers, 30 of them, the mapper, window-message mode)
// playing into the file device, with a sink as its Output.
class AudioPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("player-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    recorded = (dir / "played.wav").string();
    setenv("QD_WAVE_DEVICE", ("file:" + recorded).c_str(), 1);
    player = std::make_unique<TMMAudioPlayer>(nullptr);
    sink = std::make_unique<RecordingSink>();
    player->SetBufferSize(2048);
    player->SetNumBuffers(30);
    player->SetDeviceID(stream::MapperId);
    player->SetCallBackMode(stream::cmWindow);
    player->SetOutput(sink.get());
    player->OnStart = [this](stream::TObject*) { ++starts; };
    player->OnStop = [this](stream::TObject* sender) {
      EXPECT_EQ(sender, player.get());
      stopOnMain = platform::IsMainThread();
      closedAtStop = player->WaveOut()->State() == TMMWaveOut::wsClosed;
      ++stops;
    };
    player->OnData = [this](stream::TObject*, stream::PWaveHdr) { ++data; };
  }

  void TearDown() override {
    player.reset();
    sink.reset();
    platform::ProcessMessages();
    unsetenv("QD_WAVE_DEVICE");
    std::filesystem::remove_all(dir);
  }

  // What the conversion chain makes of the same file.
  std::vector<std::uint8_t> Converted() {
    const std::string wav = (dir / "converted.wav").string();
    EXPECT_TRUE(ConvertWithTrigger(kMp3, wav));
    return Bytes(ReadWav(wav).samples);
  }
  std::vector<std::uint8_t> Recorded() { return Bytes(ReadWav(recorded).samples); }

  bool RunUntil(const std::function<bool()>& done) {
    return platform::Dispatcher::Instance().RunUntil(done, kBound);
  }

  platform::test::CapturingReporter reporter;
  std::filesystem::path dir;
  std::string recorded;
  std::unique_ptr<TMMAudioPlayer> player;
  std::unique_ptr<RecordingSink> sink;
  int starts = 0;
  std::atomic<int> stops{0};
  std::atomic<int> data{0};
  bool stopOnMain = false;
  bool closedAtStop = false;
};

TEST_F(AudioPlayerTest, PlaysWhatTheAudioFileSourceDeliversAndStopsOnceAtTheEnd) {
  const std::vector<std::uint8_t> expected = Converted();
  ASSERT_FALSE(expected.empty());
  player->OpenFile(kMp3);
  EXPECT_EQ(player->Position(), 0);
  player->Play();
  EXPECT_EQ(starts, 1);
  EXPECT_TRUE(player->Playing());
  player->Play();  // already playing: nothing happens
  EXPECT_EQ(starts, 1);
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  platform::ProcessMessages();
  EXPECT_EQ(stops, 1);
  EXPECT_TRUE(stopOnMain);
  EXPECT_TRUE(closedAtStop);
  EXPECT_EQ(Recorded(), expected);
  EXPECT_EQ(sink->Data(), expected);  // every played buffer went on to the Output
  EXPECT_EQ(data, sink->Blocks());
  EXPECT_TRUE(reporter.Texts().empty());
}

TEST_F(AudioPlayerTest, AStopAndAReplayPlayTheFileAgain) {
  const std::vector<std::uint8_t> expected = Converted();
  player->OpenFile(kMp3);
  player->Play();
  ASSERT_TRUE(RunUntil([&] { return data >= 3; }));
  player->StopPlayback();
  EXPECT_EQ(stops, 1);
  EXPECT_TRUE(closedAtStop);
  EXPECT_FALSE(player->Playing());

  // With ResetPosition False a natural end leaves the file at its end, and Play starts from 0.
  player->SetResetPosition(false);
  player->Play();
  ASSERT_TRUE(RunUntil([&] { return stops > 1; }));
  EXPECT_EQ(Recorded(), expected);
  EXPECT_EQ(player->Position(), player->AudioFile()->FileLength());
  player->Play();
  ASSERT_TRUE(RunUntil([&] { return stops > 2; }));
  EXPECT_EQ(Recorded(), expected);
  EXPECT_EQ(starts, 3);
  EXPECT_TRUE(reporter.Texts().empty());
}

TEST_F(AudioPlayerTest, ASeekDuringPlaybackFiresNoPauseEventsAndMovesThePosition) {
  int pauses = 0;
  player->OnPause = [&](stream::TObject*) { ++pauses; };
  player->OnRestart = [&](stream::TObject*) { ++pauses; };
  player->OpenFile(kMp3);
  player->Play();
  ASSERT_TRUE(RunUntil([&] { return data >= 2; }));
  player->SetPosition(400);
  EXPECT_TRUE(player->Playing());
  EXPECT_GE(player->Position(), 400);
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  EXPECT_EQ(pauses, 0);
  EXPECT_TRUE(reporter.Texts().empty());
}

TEST_F(AudioPlayerTest, WithoutAFileNothingPlaysAndNothingStops) {
  player->Play();
  player->StopPlayback();
  platform::ProcessMessages();
  EXPECT_EQ(starts, 0);
  EXPECT_EQ(stops, 0);
  EXPECT_EQ(player->WaveOut()->State(), TMMWaveOut::wsClosed);
  EXPECT_FALSE(std::filesystem::exists(recorded));

  player->OpenFile(kMp3);
  player->CloseFile();
  player->Play();
  EXPECT_EQ(starts, 0);
}

TEST_F(AudioPlayerTest, PropertiesClampAndUseDSoundIsRefusedWhileOpen) {
  player->SetVolume(40000);
  player->SetPanning(-40000);
  player->SetPitch(80.0f);
  EXPECT_EQ(player->Volume(), 32768);
  EXPECT_EQ(player->Panning(), -32768);
  EXPECT_EQ(player->Pitch(), 50.0f);
  EXPECT_EQ(player->PitchStage()->Rate(), 98304);
  player->SetPitch(0.0f);
  EXPECT_EQ(player->PitchStage()->Rate(), 65536);
  EXPECT_EQ(player->GetBufferSize(), 2048);
  EXPECT_EQ(player->WaveOut()->GetBufferSize(), 2048);

  player->SetVolume(16384);
  player->SetPanning(0);
  player->OpenFile(kMp3);
  player->Play();
  EXPECT_THROW(player->SetUseDSound(true), EMMAudioPlayerError);
  player->StopPlayback();
  player->SetUseDSound(true);
  EXPECT_TRUE(player->UseDSound());
}

}  // namespace
}  // namespace playback
