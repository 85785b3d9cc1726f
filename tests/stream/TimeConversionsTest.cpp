#include "stream/TimeConversions.h"

#include <gtest/gtest.h>

#include "tests/stream/TestChain.h"

namespace stream {
namespace {

TEST(TimeConversionsTest, MulDivRoundRoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDivRound(1, 3, 2), 2);
  EXPECT_EQ(MulDivRound(-1, 3, 2), -2);
  EXPECT_EQ(MulDivRound(3, 1, -2), -2);
  EXPECT_EQ(MulDivRound(5, 1, 4), 1);
  EXPECT_EQ(MulDivRound(7, 1, 4), 2);
  EXPECT_EQ(MulDivRound(-7, 1, 4), -2);
  EXPECT_EQ(MulDivRound(5, 7, 0), 0);
}

TEST(TimeConversionsTest, CdFormatConversions) {
  const TWaveFormatEx cd = PcmFormat(44100, 2, 16);
  EXPECT_EQ(MsToBytes(cd, 1), 176);
  EXPECT_EQ(MsToBytes(cd, 3), 532);  // 529.2 bytes, rounded up to whole frames
  EXPECT_EQ(BytesToMs(cd, 176400), 1000);
  EXPECT_EQ(BytesToSamples(cd, 176400), 44100);
  EXPECT_EQ(SamplesToMs(cd, 44100), 1000);
  EXPECT_EQ(MsToSamples(cd, 1000), 44100);

  // 3 GiB of audio: the products no longer fit in 32 bits.
  const std::int64_t threeGiB = 3LL << 30;
  EXPECT_EQ(BytesToMs(cd, threeGiB), 18260915);
  EXPECT_EQ(BytesToSamples(cd, threeGiB), threeGiB / 4);
  EXPECT_EQ(SamplesToBytes(cd, threeGiB / 4), threeGiB);
}

TEST(TimeConversionsTest, BytesAreRoundedUpToWholeBlocks) {
  // IMA ADPCM, 22050 Hz mono: 512-byte blocks of 1017 samples.
  const TWaveFormatEx adpcm{0x11, 1, 22050, 11100, 512, 4, 2};
  EXPECT_EQ(SamplesToBytes(adpcm, 1000), 512);  // 503.4 bytes
  EXPECT_EQ(SamplesToBytes(adpcm, 1017), 512);
  EXPECT_EQ(SamplesToBytes(adpcm, 1030), 1024);  // 518.5 bytes
  EXPECT_EQ(MsToBytes(adpcm, 1000), 11264);      // 11100 bytes
}

TEST(TimeConversionsTest, MaxMinAndClamp) {
  EXPECT_EQ(Max(-3, 2), 2);
  EXPECT_EQ(Min(-3, 2), -3);
  EXPECT_EQ(Clamp(5, 0, 3), 3);
  EXPECT_EQ(Clamp(-1, 0, 3), 0);
  EXPECT_EQ(Clamp(2, 0, 3), 2);
  // With the bounds crossed, the lower one wins below it and the upper one above it.
  EXPECT_EQ(Clamp(5, 10, 3), 10);
  EXPECT_EQ(Clamp(12, 10, 3), 3);
}

}  // namespace
}  // namespace stream
