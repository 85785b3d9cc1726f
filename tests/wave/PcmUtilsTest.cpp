#include "wave/PcmUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

namespace wave {
namespace {

using stream::TWaveFormatEx;

TWaveFormatEx Pcm(std::uint16_t bits, std::uint16_t channels, std::uint32_t rate = 44100) {
  TWaveFormatEx f{};
  MakePCMFormat(f, bits, channels, rate);
  return f;
}

// Little-endian 16-bit samples, behind `lead` filler bytes so that tests can pass odd
// (unaligned) addresses.
std::vector<std::uint8_t> Words(std::initializer_list<int> samples, std::size_t lead = 0) {
  std::vector<std::uint8_t> bytes(lead, 0xEE);
  for (int s : samples) {
    const auto u = static_cast<std::uint16_t>(s);
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return bytes;
}

TEST(PcmUtilsTest, IsValidPCMFormatBounds) {
  struct Case {
    std::uint16_t tag, channels, bits;
    std::uint32_t rate;
    bool valid;
  };
  const Case cases[] = {
      {1, 2, 16, 44100, true},  {1, 1, 8, 4000, true},       {1, 4, 16, 100000, true},
      {1, 3, 16, 44100, false}, {1, 0, 16, 44100, false},    {1, 2, 24, 44100, false},
      {1, 2, 0, 44100, false},  {1, 2, 16, 3999, false},     {1, 2, 16, 100001, false},
      {2, 2, 16, 44100, false}, {0x55, 2, 16, 44100, false},
  };
  for (const Case& c : cases) {
    const TWaveFormatEx f{c.tag, c.channels, c.rate, 0, 0, c.bits, 0};
    EXPECT_EQ(IsValidPCMFormat(&f), c.valid)
        << "tag " << c.tag << " ch " << c.channels << " bits " << c.bits << " rate " << c.rate;
  }
  EXPECT_FALSE(IsValidPCMFormat(nullptr));
}

TEST(PcmUtilsTest, MakePCMFormatFillsEveryField) {
  TWaveFormatEx f;
  std::memset(&f, 0xAB, sizeof f);
  MakePCMFormat(f, 16, 2, 44100);
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nChannels, 2);
  EXPECT_EQ(f.nSamplesPerSec, 44100u);
  EXPECT_EQ(f.wBitsPerSample, 16);
  EXPECT_EQ(f.nBlockAlign, 4);
  EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(f.cbSize, 0);
  EXPECT_TRUE(IsValidPCMFormat(&f));

  MakePCMFormat(f, 8, 1, 11025);
  EXPECT_EQ(f.nBlockAlign, 1);
  EXPECT_EQ(f.nAvgBytesPerSec, 11025u);
}

TEST(PcmUtilsTest, FindPeakReportsTheRawSampleOfLargestMagnitude) {
  struct Case {
    const char* name;
    std::uint16_t bits, channels;
    std::vector<std::uint8_t> data;
    std::size_t count;
    std::int16_t left, right;
  };
  const std::vector<std::uint8_t> mono16 = Words({5, -7, 7});
  const Case cases[] = {
      // The first sample of the largest magnitude wins, and its sign is kept.
      {"16 mono", 16, 1, mono16, mono16.size(), -7, -7},
      // -32768 is louder than 32767 (magnitude computed in 32 bits).
      {"16 mono extreme", 16, 1, Words({32767, -32768}), 4, -32768, -32768},
      // A trailing odd byte is not a sample.
      {"16 mono odd count", 16, 1, Words({3, 9000}), 3, 3, 3},
      {"16 stereo", 16, 2, Words({1, -2, -300, 200, 300, -200}), 12, -300, 200},
      // 6 bytes are one whole frame and half of the next one.
      {"16 stereo partial frame", 16, 2, Words({10, -20, 5000, 6000}), 6, 10, -20},
      {"16 silence", 16, 2, Words({0, 0, 0, 0}), 8, 0, 0},
      // Silence reports 0, not the silence byte 128.
      {"8 mono silence", 8, 1, {128, 128}, 2, 0, 0},
      {"8 mono", 8, 1, {130, 100, 156, 127}, 4, 100, 100},
      {"8 mono full scale", 8, 1, {255, 0}, 2, 0, 0},  // |0-128| = 128 beats |255-128| = 127
      {"8 stereo", 8, 2, {129, 10, 250, 128, 0, 200}, 6, 0, 10},
      {"8 stereo odd count", 8, 2, {129, 127, 255}, 3, 129, 127},
      // Four channels are read as two interleaved ones.
      {"16 quad", 16, 4, Words({1, 2, 3, -4, 5, 6, -7, 8}), 16, -7, 8},
  };
  for (const Case& c : cases) {
    std::int16_t left = 99;
    std::int16_t right = 99;
    FindPeak(right, left, c.count, c.data.data(), Pcm(c.bits, c.channels));
    EXPECT_EQ(left, c.left) << c.name;
    EXPECT_EQ(right, c.right) << c.name;
  }
}

TEST(PcmUtilsTest, FindPeakReadsUnalignedData) {
  const std::vector<std::uint8_t> bytes = Words({100, -4000, -12345, 4001}, 1);
  std::int16_t left = 0;
  std::int16_t right = 0;
  FindPeak(right, left, 8, bytes.data() + 1, Pcm(16, 2));
  EXPECT_EQ(left, -12345);
  EXPECT_EQ(right, 4001);
}

struct CrossingCase {
  const char* name;
  std::uint16_t bits, channels;
  std::vector<std::uint8_t> data;
  int level, mode, channel;
  std::int64_t expected;
};

void CheckCrossings(const std::vector<CrossingCase>& cases) {
  for (const CrossingCase& c : cases) {
    EXPECT_EQ(FindCrossing(Pcm(c.bits, c.channels), c.data.data(), c.data.size(), c.level, c.mode,
                           c.channel),
              c.expected)
        << c.name;
  }
}

TEST(PcmUtilsTest, FindCrossing16Bit) {
  CheckCrossings({
      {"rising at level 0", 16, 1, Words({-5, -1, 3, 3}), 0, 1, 0, 4},
      // The last pair of a block is never examined.
      {"last pair ignored", 16, 1, Words({-5, -1, 3}), 0, 1, 0, -1},
      {"no trigger", 16, 1, Words({-5, -1, 3, 3}), 0, 0, 0, -1},
      {"unknown mode", 16, 1, Words({-5, -1, 3, 3}), 0, 3, 0, -1},
      // Threshold 50 * 327 = 16350: reaching it counts, staying below does not.
      {"rising reaches threshold", 16, 1, Words({16349, 16350, 0, 0}), 50, 1, 0, 2},
      {"rising stays below", 16, 1, Words({0, 16349, 16349, 0}), 50, 1, 0, -1},
      // Falling: the level is negated, threshold -16350.
      {"falling", 16, 1, Words({0, -16349, -16350, 0}), 50, 2, 0, 4},
      {"falling ignores rising", 16, 1, Words({-20000, 20000, 20000, 0}), 0, 2, 0, -1},
      // Stereo frames are 4 bytes: left pair gives i + 4, right pair i + 6.
      {"stereo left", 16, 2, Words({-1, 0, 1, 0, 0, 0}), 0, 1, 0, 4},
      {"stereo right", 16, 2, Words({0, -1, 0, 1, 0, 0}), 0, 1, 0, 6},
      {"stereo right only", 16, 2, Words({-1, -1, 1, 1, 0, 0}), 0, 1, 2, 6},
      {"stereo left only", 16, 2, Words({0, -1, 0, 1, 0, 0}), 0, 1, 1, -1},
      {"stereo last frame pair ignored", 16, 2, Words({0, -1, 0, 1}), 0, 1, 0, -1},
      // Mono data ignore the channel selection.
      {"mono channel ignored", 16, 1, Words({-5, -1, 3, 3}), 0, 1, 2, 4},
  });
}

TEST(PcmUtilsTest, FindCrossing8Bit) {
  CheckCrossings({
      // Level 50: rising threshold Trunc(63.5) + 128 = 191, falling Trunc(-63.5) + 128 = 65.
      {"rising hits 191", 8, 1, {190, 191, 0}, 50, 1, 0, 1},
      {"rising misses at 190", 8, 1, {189, 190, 190, 0}, 50, 1, 0, -1},
      {"falling hits 65", 8, 1, {66, 65, 0}, 50, 2, 0, 1},
      {"falling misses at 66", 8, 1, {67, 66, 66, 0}, 50, 2, 0, -1},
      // Mono: pairs (i, i + 1) while count - i > 2.
      {"mono later pair", 8, 1, {100, 120, 127, 128, 128}, 0, 1, 0, 3},
      {"mono last pair ignored", 8, 1, {100, 120, 127, 128}, 0, 1, 0, -1},
      {"stereo left", 8, 2, {127, 0, 128, 0, 0, 0}, 0, 1, 0, 2},
      {"stereo right", 8, 2, {0, 127, 0, 128, 0, 0}, 0, 1, 0, 3},
      {"stereo right only", 8, 2, {127, 127, 128, 128, 0, 0}, 0, 1, 2, 3},
      {"stereo left only", 8, 2, {0, 127, 0, 128, 0, 0}, 0, 1, 1, -1},
      // An odd trailing byte does not count towards the frames.
      {"stereo odd count", 8, 2, {0, 127, 0, 128, 0}, 0, 1, 0, -1},
  });
  const std::uint8_t data[] = {0, 255, 255};
  EXPECT_EQ(FindCrossing(Pcm(8, 1), data, 0, 0, 1, 0), -1);
}

TEST(PcmUtilsTest, FindCrossingChannelsAndLevelsAtTheEdges) {
  CheckCrossings({
      // Four channels are read as two: 4-byte frames, so the right pair (-1, 1) is found at 6,
      // not the pair two real frames apart.
      {"16 quad read as stereo", 16, 4, Words({0, -1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}), 0, 1, 0, 6},
      {"8 mono channel ignored", 8, 1, {100, 200, 0}, 0, 1, 2, 1},
      {"8 stereo falling right only", 8, 2, {200, 200, 100, 100, 0, 0}, 0, 2, 2, 3},
      {"16 stereo falling left only", 16, 2, Words({5, 5, -5, -5, 0, 0}), 0, 2, 1, 4},
      // Full scale is still reachable; levels far beyond it neither overflow nor match.
      {"8 full scale", 8, 1, {254, 255, 0}, 100, 1, 0, 1},
      {"16 level far above", 16, 1, Words({-32768, 32767, 0, 0}), 2000000000, 1, 0, -1},
      {"8 level far below", 8, 1, {0, 255, 0}, -2000000000, 1, 0, -1},
      {"16 falling, level far below", 16, 1, Words({32767, -32768, 0, 0}), -2000000000, 2, 0, -1},
  });
}

TEST(PcmUtilsTest, ConvertBits16To8) {
  std::vector<std::uint8_t> src = Words({0, -1, -255, -256, -257, 255, 256, -32768, 32767, 128}, 1);
  src.push_back(0x7F);
  const std::uint8_t expected[] = {128, 128, 128, 127, 127, 128, 129, 0, 255, 128};
  std::uint8_t dst[10] = {};
  EXPECT_EQ(ConvertBits(8, dst, 16, 21, src.data() + 1), 10u);  // odd byte left over
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(dst[i], expected[i]) << "sample " << i;
}

TEST(PcmUtilsTest, ConvertBits8To16) {
  const std::uint8_t src[] = {0, 1, 127, 128, 129, 255};
  const std::vector<std::uint8_t> expected = Words({-32768, -32512, -256, 0, 256, 32512});
  std::vector<std::uint8_t> dst(13, 0xEE);
  EXPECT_EQ(ConvertBits(16, dst.data() + 1, 8, 6, src), 12u);
  EXPECT_EQ(std::vector<std::uint8_t>(dst.begin() + 1, dst.end()), expected);
  EXPECT_EQ(dst[0], 0xEE);
}

TEST(PcmUtilsTest, ConvertBitsInPlace) {
  std::vector<std::uint8_t> buffer(8, 0);
  buffer[0] = 0;
  buffer[1] = 128;
  buffer[2] = 255;
  buffer[3] = 129;
  EXPECT_EQ(ConvertBits(16, buffer.data(), 8, 4, buffer.data()), 8u);
  EXPECT_EQ(buffer, Words({-32768, 0, 32512, 256}));
  EXPECT_EQ(ConvertBits(8, buffer.data(), 16, 8, buffer.data()), 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 4),
            (std::vector<std::uint8_t>{0, 128, 255, 129}));
}

TEST(PcmUtilsTest, ConvertBitsEqualDepthsCopy) {
  const std::uint8_t src[] = {1, 2, 3, 4, 5};
  std::uint8_t dst[5] = {};
  EXPECT_EQ(ConvertBits(16, dst, 16, 5, src), 5u);
  EXPECT_EQ(std::memcmp(dst, src, 5), 0);
  EXPECT_EQ(ConvertBits(24, dst, 8, 3, src), 0u);  // unsupported pair: nothing written
}

}  // namespace
}  // namespace wave
