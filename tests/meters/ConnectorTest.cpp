// The connector feeding two level meters: slices at their due times on a clock the test moves,
// short blocks, Synchronize off, the refresh loop, pause, stop, meter slots and conversion.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "meters/Connector.h"
#include "meters/Level.h"
#include "platform/Dispatcher.h"
#include "stream/DSPComponent.h"
#include "stream/WaveHdr.h"

namespace meters {
namespace {

using stream::TWaveFormatEx;

constexpr int kWaitMs = 5000;
constexpr int kWindowBytes = 200;  // 16-bit stereo, 50 frames
constexpr std::int64_t kFarFutureUs = 1000000000;

TWaveFormatEx Stereo16() {
  return TWaveFormatEx{stream::WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

// Microseconds after the block arrived at which window k is heard.
std::int64_t DueUs(int k) {
  return static_cast<std::int64_t>(k) * kWindowBytes * 1000000 / 176400;
}

// An upstream component with a format, as the player is for the connector.
class Source : public stream::TMMDSPComponent {
 public:
  Source() : TMMDSPComponent(nullptr) { PublishLinks(false, true); }
};

// One block: a wave header followed by its data.
class Block {
 public:
  explicit Block(const std::vector<std::int16_t>& samples)
      : storage_(stream::kWaveHdrSize + samples.size() * 2) {
    Header()->SetData(storage_.data() + stream::kWaveHdrSize);
    std::memcpy(Header()->Data(), samples.data(), samples.size() * 2);
    Header()->dwBufferLength = static_cast<std::uint32_t>(samples.size() * 2);
    Header()->dwBytesRecorded = Header()->dwBufferLength;
  }
  stream::PWaveHdr Header() { return reinterpret_cast<stream::PWaveHdr>(storage_.data()); }

 private:
  std::vector<char> storage_;
};

// Stereo frames whose left and right samples are `left` and `right` throughout each window.
std::vector<std::int16_t> Windows(const std::vector<std::int16_t>& left,
                                  const std::vector<std::int16_t>& right) {
  std::vector<std::int16_t> samples;
  for (std::size_t k = 0; k < left.size(); ++k) {
    for (int frame = 0; frame < kWindowBytes / 4; ++frame) {
      samples.push_back(left[k]);
      samples.push_back(right[k]);
    }
  }
  return samples;
}

// Two meters as the main window has them (without a peak timer), a source and a connector on
// a clock the test sets.
class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto* meter : {&left_, &right_, &refLeft_, &refRight_}) meter->resize(132, 10);
    left_.SetChannel(stream::chLeft);
    refLeft_.SetChannel(stream::chLeft);
    right_.SetChannel(stream::chRight);
    refRight_.SetChannel(stream::chRight);
    left_.show();
    right_.show();
    refLeft_.show();
    refRight_.show();
    connector_.SetClock([this] { return nowUs_.load(); });
    connector_.SetLevel1(&left_);
    connector_.SetLevel2(&right_);
    connector_.SetInput(&source_);
    const TWaveFormatEx format = Stereo16();
    source_.SetPWaveFormat(&format);
    refLeft_.SetLevelFormat(&format);
    refRight_.SetLevelFormat(&format);
  }

  void TearDown() override { connector_.Stop(); }

  // Opens and starts the connector and lets its start message through.
  void Play() {
    connector_.Open();
    connector_.Start();
    platform::ProcessMessages();
    ASSERT_TRUE(connector_.Running());
  }

  // The spots a meter shows for window k of `samples` on its own.
  static int SpotsFor(TMMLevel& reference, const std::vector<std::int16_t>& samples, int k) {
    reference.ResetLevel();
    reference.FeedLevel(samples.data() + k * kWindowBytes / 2);
    return reference.LevelSpots();
  }

  std::atomic<std::int64_t> nowUs_{0};
  TMMLevel left_{nullptr, nullptr};
  TMMLevel right_{nullptr, nullptr};
  TMMLevel refLeft_{nullptr, nullptr};
  TMMLevel refRight_{nullptr, nullptr};
  Source source_;
  TMMConnector connector_;
};

TEST_F(ConnectorTest, FeedsEachSliceOnceTheClockReachesItsTime) {
  connector_.SetAutoTrigger(false);
  Play();
  const auto samples = Windows({1000, 3000, 8000, 16000, 30000}, {30000, 16000, 8000, 3000, 1000});
  Block block(samples);
  nowUs_ = 0;
  connector_.BufferReady(block.Header());

  for (int k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    if (k > 0) {
      nowUs_ = DueUs(k) - 1;
      connector_.Trigger();
      EXPECT_EQ(connector_.LevelSlicesShown(), k) << "fed before its time";
    }
    nowUs_ = DueUs(k);
    connector_.Trigger();
    EXPECT_EQ(connector_.LevelSlicesShown(), k + 1);
    EXPECT_EQ(left_.LevelSpots(), SpotsFor(refLeft_, samples, k));
    EXPECT_EQ(right_.LevelSpots(), SpotsFor(refRight_, samples, k));
  }
  // The five windows are distinct on the bar, so the rows above tell them apart.
  EXPECT_LT(SpotsFor(refLeft_, samples, 3), SpotsFor(refLeft_, samples, 4));

  nowUs_ = kFarFutureUs;
  connector_.Trigger();
  EXPECT_FALSE(connector_.LevelPending());
  EXPECT_EQ(connector_.LevelSlicesShown(), 5);
}

TEST_F(ConnectorTest, BlockShorterThanAWindowShowsNothing) {
  connector_.SetAutoTrigger(false);
  Play();
  Block block(std::vector<std::int16_t>(kWindowBytes / 2 - 2, 30000));
  connector_.BufferReady(block.Header());
  EXPECT_TRUE(connector_.LevelPending());
  connector_.Trigger();
  EXPECT_FALSE(connector_.LevelPending());
  EXPECT_EQ(connector_.LevelSlicesShown(), 0);
  EXPECT_EQ(left_.LevelSpots(), 0);
}

TEST_F(ConnectorTest, WithoutSynchronizeEveryRefreshShowsTheNextSlice) {
  connector_.SetAutoTrigger(false);
  connector_.SetSynchronize(false);
  Play();
  const auto samples = Windows({1000, 3000, 8000, 16000, 30000}, {0, 0, 0, 0, 0});
  Block block(samples);
  nowUs_ = 0;  // the clock stands still
  connector_.BufferReady(block.Header());
  for (int k = 0; k < 5; ++k) {
    connector_.Trigger();
    EXPECT_EQ(connector_.LevelSlicesShown(), k + 1);
    EXPECT_EQ(left_.LevelSpots(), SpotsFor(refLeft_, samples, k)) << k;
  }
  connector_.Trigger();
  EXPECT_FALSE(connector_.LevelPending());
}

TEST_F(ConnectorTest, SynchronizeShowsTheBufferTheDeviceNowPlays) {
  struct Row {
    bool synchronize;
    bool linked;
    std::int16_t shown;
  };
  // The played buffer is loud; the one the device plays now is quiet.
  for (const Row& row : {Row{true, true, 1000}, Row{false, true, 30000}, Row{true, false, 30000}}) {
    SCOPED_TRACE(::testing::Message() << row.synchronize << row.linked);
    connector_.SetAutoTrigger(false);
    connector_.SetSynchronize(row.synchronize);
    Play();
    const auto played = Windows({30000}, {0});
    const auto playing = Windows({1000}, {0});
    // Both headers in one block, as a device's ring links them by their distance.
    const std::size_t blockSize = stream::kWaveHdrSize + kWindowBytes;
    std::vector<char> ring(2 * blockSize);
    const auto headers = std::array{reinterpret_cast<stream::PWaveHdr>(ring.data()),
                                    reinterpret_cast<stream::PWaveHdr>(ring.data() + blockSize)};
    const std::vector<std::int16_t>* data[2] = {&played, &playing};
    for (int i = 0; i < 2; ++i) {
      headers[i]->SetData(reinterpret_cast<char*>(headers[i]) + stream::kWaveHdrSize);
      std::memcpy(headers[i]->Data(), data[i]->data(), kWindowBytes);
      headers[i]->dwBytesRecorded = kWindowBytes;
    }
    if (row.linked) headers[0]->extRingNext = static_cast<std::uint32_t>(blockSize);
    connector_.BufferReady(headers[0]);
    connector_.Trigger();
    EXPECT_EQ(left_.LevelSpots(), SpotsFor(refLeft_, Windows({row.shown}, {0}), 0));
    connector_.Stop();
    connector_.Close();
  }
}

TEST_F(ConnectorTest, RefreshLoopFollowsTheClockWhilePlaying) {
  Play();  // AutoTrigger: the loop refreshes on its own
  const auto samples = Windows({1000, 3000, 8000, 16000, 30000}, {0, 0, 0, 0, 0});
  Block block(samples);
  nowUs_ = 0;
  connector_.BufferReady(block.Header());
  EXPECT_TRUE(QTest::qWaitFor([&] { return connector_.LevelSlicesShown() == 1; }, kWaitMs));
  nowUs_ = DueUs(2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return connector_.LevelSlicesShown() == 3; }, kWaitMs));
  EXPECT_EQ(left_.LevelSpots(), SpotsFor(refLeft_, samples, 2));
  nowUs_ = kFarFutureUs;
  EXPECT_TRUE(QTest::qWaitFor([&] { return !connector_.LevelPending(); }, kWaitMs));
  EXPECT_EQ(connector_.LevelSlicesShown(), 5);

  connector_.Stop();
  EXPECT_FALSE(connector_.Running());
  EXPECT_FALSE(connector_.MetersStarted());
}

TEST_F(ConnectorTest, LateRefreshFeedsEverySliceThatFellDueInOrderWithOnePaint) {
  int paints = 0;
  left_.OnPaint = [&](QObject*) { ++paints; };
  for (auto* meter : {&left_, &refLeft_}) {
    meter->SetDecayMode(dmStepUp);
    meter->SetDecay(4);
    meter->SetNumPeaks(2);
    meter->SetMinRepaintInterval(std::chrono::milliseconds(0));
  }
  connector_.SetAutoTrigger(false);
  Play();
  const auto first = Windows({30000, 4000, 2000, 1000, 500}, {0, 0, 0, 0, 0});
  const auto second = Windows({800, 300, 100, 50, 25}, {0, 0, 0, 0, 0});
  Block a(first), b(second);
  nowUs_ = 0;
  connector_.BufferReady(a.Header());
  // The next block comes as window 3 of the first falls due: windows 3 and 4 are never heard.
  nowUs_ = DueUs(3);
  connector_.BufferReady(b.Header());
  nowUs_ = DueUs(3) + DueUs(2);
  QCoreApplication::processEvents();
  paints = 0;
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlicesShown(), 6);
  EXPECT_TRUE(connector_.LevelPending());

  // The same picture as the six windows fed one by one.
  refLeft_.ResetLevel();
  const std::vector<std::pair<const std::vector<std::int16_t>*, int>> heard = {
      {&first, 0}, {&first, 1}, {&first, 2}, {&second, 0}, {&second, 1}, {&second, 2}};
  for (const auto& [windows, k] : heard) refLeft_.FeedLevel(windows->data() + k * kWindowBytes / 2);
  EXPECT_EQ(left_.LevelSpots(), refLeft_.LevelSpots());
  EXPECT_EQ(left_.PeakSpot(), refLeft_.PeakSpot());
  EXPECT_EQ(left_.LastAmplitude(), 100);
  QCoreApplication::processEvents();
  EXPECT_EQ(paints, 1);
}

TEST_F(ConnectorTest, RefreshLoopRunsAtFrameRateOnlyWhileAConnectorRuns) {
  using std::chrono::milliseconds;
  EXPECT_FALSE(TMMConnector::RefreshLoopActive());
  Play();
  EXPECT_TRUE(TMMConnector::RefreshLoopActive());
  EXPECT_EQ(TMMConnector::RefreshLoopInterval(), milliseconds(25));
  // Without Synchronize there is nothing to catch up on: one slice a round, a round a ms.
  connector_.SetSynchronize(false);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return TMMConnector::RefreshLoopInterval() == milliseconds(1); }, kWaitMs));
  connector_.SetSynchronize(true);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return TMMConnector::RefreshLoopInterval() == milliseconds(25); }, kWaitMs));
  connector_.Pause();
  EXPECT_TRUE(TMMConnector::RefreshLoopActive()) << "a paused connector still shows silence";
  connector_.Stop();
  EXPECT_FALSE(TMMConnector::RefreshLoopActive());
}

TEST_F(ConnectorTest, PauseLetsTheMetersFallToZeroThenPlayResumes) {
  for (auto* meter : {&left_, &right_}) {
    meter->SetDecayMode(dmStepUp);
    meter->SetDecay(4);
  }
  Play();
  const auto loud = Windows({30000, 30000, 30000}, {30000, 30000, 30000});
  Block block(loud);
  nowUs_ = 0;
  connector_.BufferReady(block.Header());
  nowUs_ = kFarFutureUs;  // the clock then stands still: each pause tick shows one window
  EXPECT_TRUE(QTest::qWaitFor([&] { return !connector_.LevelPending(); }, kWaitMs));
  const int loudSpots = left_.LevelSpots();
  ASSERT_GT(loudSpots, 0);

  connector_.Pause();
  ASSERT_TRUE(connector_.MetersPaused());
  connector_.BufferReady(block.Header());  // nothing new arrives while paused
  int lowest = loudSpots;
  bool fellGradually = false;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        const int spots = left_.LevelSpots();
        if (spots > 0 && spots < lowest) fellGradually = true;
        lowest = std::min(lowest, spots);
        return spots == 0 && right_.LevelSpots() == 0;
      },
      kWaitMs));
  EXPECT_TRUE(fellGradually) << "the bar should decay, not drop";

  connector_.Restart();
  EXPECT_FALSE(connector_.MetersPaused());
  connector_.BufferReady(block.Header());
  EXPECT_TRUE(QTest::qWaitFor([&] { return left_.LevelSpots() == loudSpots; }, kWaitMs));
}

TEST_F(ConnectorTest, StopResetsTheMetersOnlyWithRefreshOnStop) {
  for (const bool refreshOnStop : {true, false}) {
    SCOPED_TRACE(refreshOnStop);
    connector_.SetRefreshOnStop(refreshOnStop);
    connector_.SetAutoTrigger(false);
    connector_.SetSynchronize(false);
    Play();
    Block block(Windows({30000}, {20000}));
    connector_.BufferReady(block.Header());
    connector_.Trigger();
    const int spots = left_.LevelSpots();
    ASSERT_GT(spots, 0);
    ASSERT_GT(left_.PeakSpot(), 0);

    connector_.Stop();
    if (refreshOnStop) {
      EXPECT_EQ(left_.LevelSpots(), 0);
      EXPECT_EQ(left_.PeakSpot(), 0);
      EXPECT_EQ(right_.LevelSpots(), 0);
    } else {
      EXPECT_EQ(left_.LevelSpots(), spots);
      EXPECT_GT(right_.LevelSpots(), 0);
    }
    connector_.Close();
    left_.ResetLevel();
    right_.ResetLevel();
  }
}

TEST_F(ConnectorTest, MeterSlotsRefuseDoublesAndForgetDestroyedMeters) {
  connector_.SetLevel2(&left_);
  EXPECT_EQ(connector_.Level2(), &right_);
  connector_.SetLevel1(nullptr);
  EXPECT_EQ(connector_.Level1(), nullptr);

  auto extra = std::make_unique<TMMLevel>(nullptr, nullptr);
  extra->SetChannel(stream::chLeft);
  extra->show();
  connector_.SetLevel1(extra.get());
  EXPECT_EQ(extra->Mode(), stream::mStereo);  // the slot passes the stream's format on
  extra.reset();
  EXPECT_EQ(connector_.Level1(), nullptr);

  connector_.SetAutoTrigger(false);
  connector_.SetSynchronize(false);
  Play();
  Block block(Windows({0}, {20000}));
  connector_.BufferReady(block.Header());
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlicesShown(), 1);
  EXPECT_GT(right_.LevelSpots(), 0);
}

TEST_F(ConnectorTest, CompressedStreamIsConvertedForTheMeters) {
  // A-law, 8 kHz mono: the byte 0xAA decodes to +32256.
  const TWaveFormatEx alaw{6, 1, 8000, 8000, 1, 8, 0};
  source_.SetPWaveFormat(&alaw);

  connector_.SetAutoConvert(false);
  connector_.Open();
  connector_.Start();
  EXPECT_FALSE(connector_.MetersStarted()) << "nothing to show without conversion";
  connector_.Stop();
  connector_.Close();

  connector_.SetAutoConvert(true);
  connector_.SetAutoTrigger(false);
  connector_.SetSynchronize(false);
  Play();
  const TWaveFormatEx* pcm = connector_.MeterFormat();
  ASSERT_NE(pcm, nullptr);
  EXPECT_EQ(pcm->wFormatTag, stream::WAVE_FORMAT_PCM);
  EXPECT_EQ(pcm->wBitsPerSample, 16);
  EXPECT_EQ(left_.Mode(), stream::mMono);

  std::vector<char> storage(stream::kWaveHdrSize + 400);
  auto* hdr = reinterpret_cast<stream::PWaveHdr>(storage.data());
  hdr->SetData(storage.data() + stream::kWaveHdrSize);
  std::memset(hdr->Data(), 0xAA, 400);
  hdr->dwBytesRecorded = 400;
  connector_.BufferReady(hdr);
  connector_.Trigger();
  EXPECT_EQ(connector_.LevelSlicesShown(), 1);
  EXPECT_EQ(left_.LevelSpots(), left_.NumSpots());
}

}  // namespace
}  // namespace meters
