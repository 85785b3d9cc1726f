#include <gtest/gtest.h>

#include <cstring>

#include "tests/stream/TestChain.h"

namespace stream {
namespace {

// A compressed format record with four extra bytes after the common part.
#pragma pack(push, 1)
struct ExtendedFormat {
  TWaveFormatEx wfx;
  std::uint8_t extra[4];
};
#pragma pack(pop)

const ExtendedFormat kMpeg{{0x55, 2, 44100, 16000, 1, 0, 4}, {0xDE, 0xAD, 0xBE, 0xEF}};

bool SameBytes(const TWaveFormatEx* a, const void* b, std::size_t size) {
  return a != nullptr && std::memcmp(a, b, size) == 0;
}

TEST(WaveFormatTest, SizeAndCopyDependOnTheFormatTag) {
  EXPECT_EQ(WaveFormatSize(nullptr), 0u);
  EXPECT_EQ(CopyWaveFormat(nullptr), nullptr);

  TWaveFormatEx pcm = PcmFormat();
  pcm.cbSize = 0x7777;  // garbage: a PCM record has no extra bytes
  EXPECT_EQ(WaveFormatSize(&pcm), 18u);
  const WaveFormatPtr pcmCopy = CopyWaveFormat(&pcm);
  ASSERT_NE(pcmCopy, nullptr);
  EXPECT_EQ(pcmCopy->cbSize, 0);
  EXPECT_EQ(std::memcmp(pcmCopy.get(), &pcm, 16), 0);

  EXPECT_EQ(WaveFormatSize(&kMpeg.wfx), 22u);
  const WaveFormatPtr mpegCopy = CopyWaveFormat(&kMpeg.wfx);
  EXPECT_TRUE(SameBytes(mpegCopy.get(), &kMpeg, sizeof kMpeg));
}

class FormatChainTest : public ::testing::Test {
 protected:
  FormatChainTest() {
    b.SetInput(&a);
    c.SetInput(&b);
  }
  void ExpectEverywhere(const void* format, std::size_t size) {
    auto previous = static_cast<const TWaveFormatEx*>(format);
    for (TestComponent* x : {&a, &b, &c}) {
      SCOPED_TRACE(x->Name());
      EXPECT_TRUE(SameBytes(x->GetPWaveFormat(), format, size));
      EXPECT_NE(x->GetPWaveFormat(), previous);  // each component holds a copy of its own
      previous = x->GetPWaveFormat();
    }
  }
  TestComponent a{"A"}, b{"B"}, c{"C"};
};

TEST_F(FormatChainTest, AFormatWrittenOnTheHeadReachesEveryComponentAsACopy) {
  a.SetPWaveFormat(&kMpeg.wfx);
  ExpectEverywhere(&kMpeg, sizeof kMpeg);

  a.SetPWaveFormat(nullptr);
  for (TestComponent* x : {&a, &b, &c}) EXPECT_EQ(x->GetPWaveFormat(), nullptr) << x->Name();
}

TEST_F(FormatChainTest, ALoadingComponentHoldsItsFormatBackUntilLoaded) {
  const TWaveFormatEx pcm = PcmFormat();
  a.BeginLoading();
  a.SetPWaveFormat(&pcm);
  EXPECT_NE(a.GetPWaveFormat(), nullptr);
  EXPECT_EQ(b.GetPWaveFormat(), nullptr);

  b.BeginLoading();
  a.EndLoading();
  EXPECT_NE(b.GetPWaveFormat(), nullptr);  // takes it, but does not pass it on yet
  EXPECT_EQ(c.GetPWaveFormat(), nullptr);

  b.EndLoading();
  ExpectEverywhere(&pcm, sizeof pcm);
}

TEST_F(FormatChainTest, ANewFormatStopsAStartedComponent) {
  const TWaveFormatEx pcm = PcmFormat(), mono = PcmFormat(22050, 1);
  a.SetPWaveFormat(&pcm);
  b.Open();
  b.Start();
  b.SetPWaveFormat(b.GetPWaveFormat());  // rewriting its own record is not a change
  EXPECT_TRUE(b.Started());

  a.SetPWaveFormat(&mono);
  EXPECT_FALSE(b.Started());
  EXPECT_TRUE(SameBytes(c.GetPWaveFormat(), &mono, sizeof mono));
}

TEST(BufferSizeTest, OpenRoundsTheBlockSizeDownToWholeFrames) {
  struct Case {
    std::int32_t requested;
    std::uint16_t blockAlign;
    std::int32_t real;
  };
  for (const Case& k :
       {Case{2049, 4, 2048}, Case{3, 4, 4}, Case{4096, 6, 4092}, Case{1000, 0, 1000}}) {
    SCOPED_TRACE(testing::Message() << k.requested << " / " << k.blockAlign);
    TWaveFormatEx format = PcmFormat();
    format.nBlockAlign = k.blockAlign;
    TestComponent x("X");
    x.SetPWaveFormat(&format);
    x.SetBufferSize(k.requested);
    x.Open();
    EXPECT_EQ(x.RealBufferSize(), k.real);
    EXPECT_EQ(x.GetBufferSize(), k.real);
    x.Close();
    EXPECT_EQ(x.GetBufferSize(), k.requested);
  }

  TestComponent noFormat("NoFormat");
  noFormat.SetBufferSize(2049);
  noFormat.Open();
  EXPECT_EQ(noFormat.GetBufferSize(), 2049);
}

TEST(BufferSizeTest, OnlyAChangedSizeStopsAStartedComponent) {
  TestComponent x("X");
  x.Open();
  x.Start();
  x.stops = 0;
  x.SetBufferSize(kDefaultBufferSize);
  EXPECT_EQ(x.stops, 0);
  EXPECT_TRUE(x.Started());
  x.SetBufferSize(4096);
  EXPECT_FALSE(x.Started());
}

TEST(LifecycleTest, FlagsFollowOpenStartPauseStopAndClose) {
  TestComponent x("X");
  x.Start();
  EXPECT_FALSE(x.Started());  // not opened yet
  x.Open();
  x.Start();
  x.Pause();
  EXPECT_TRUE(x.Opened() && x.Started() && x.Paused());
  x.Stop();
  EXPECT_FALSE(x.Started() || x.Paused());
  x.Close();
  EXPECT_FALSE(x.Opened());
}

}  // namespace
}  // namespace stream
