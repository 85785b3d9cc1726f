#include "wave/GainEnvelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "wave/PcmUtils.h"

namespace wave {
namespace {

using stream::TWaveFormatEx;
using Bytes = std::vector<std::uint8_t>;

TWaveFormatEx Pcm(std::uint16_t bits, std::uint16_t channels) {
  TWaveFormatEx f{};
  MakePCMFormat(f, bits, channels, 44100);
  return f;
}

Bytes Words(std::initializer_list<int> samples) {
  Bytes bytes;
  for (int s : samples) {
    const auto u = static_cast<std::uint16_t>(s);
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return bytes;
}

// A list with the given points, ready to be applied from position 0 with the first point's
// gains (or unity when it has none).
TMMFadeList Envelope(std::initializer_list<TMMFadePoint> points) {
  TMMFadeList list;
  for (const TMMFadePoint& p : points) list.Add(p);
  if (list.Count() > 0) {
    list.Reset(0, list[0].LeftGain, list[0].RightGain);
  } else {
    list.Reset(0, kUnityGain, kUnityGain);
  }
  return list;
}

bool Apply(const TWaveFormatEx& format, Bytes& data, TMMFadeList& list) {
  return ApplyGainEnvelope(format, data.data(), static_cast<std::int64_t>(data.size()), list);
}

TEST(FadeListTest, FindPointIndexIsTheUpperBound) {
  TMMFadeList empty;
  EXPECT_EQ(FindPointIndex(empty, 0), -1);

  TMMFadeList list;
  for (std::int64_t pos : {100, 200, 300, 400, 500}) list.Add(pos, 0, 0);
  const std::pair<std::int64_t, std::int32_t> cases[] = {
      {-5, 0},  {0, 0},   {99, 0},  {100, 1}, {150, 1}, {200, 2},       {299, 2},
      {300, 3}, {399, 3}, {400, 4}, {499, 4}, {500, 5}, {1LL << 40, 5},
  };
  for (const auto& [position, index] : cases) {
    EXPECT_EQ(FindPointIndex(list, position), index) << "position " << position;
  }

  TMMFadeList repeated;
  for (std::int64_t pos : {10, 10, 10, 20}) repeated.Add(pos, 0, 0);
  EXPECT_EQ(FindPointIndex(repeated, 9), 0);
  EXPECT_EQ(FindPointIndex(repeated, 10), 3);
  EXPECT_EQ(FindPointIndex(repeated, 20), 4);
}

TEST(FadeListTest, AddKeepsPointsSortedAndEqualPositionsInArrivalOrder) {
  TMMFadeList list;
  int changes = 0;
  list.OnChange = [&](stream::TObject*) { ++changes; };
  EXPECT_EQ(list.Add(300, 1, 1), 0);
  EXPECT_EQ(list.Add(100, 2, 2), 0);
  EXPECT_EQ(list.Add(200, 3, 3), 1);
  EXPECT_EQ(list.Add(100, 4, 4), 1);
  EXPECT_EQ(list.Add(5LL << 32, 5, 5), 4);  // beyond 32-bit positions
  ASSERT_EQ(list.Count(), 5);
  const std::int64_t positions[] = {100, 100, 200, 300, 5LL << 32};
  const std::int32_t gains[] = {2, 4, 3, 1, 5};
  for (std::int32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(list[i].Position, positions[i]);
    EXPECT_EQ(list.Points()[static_cast<std::size_t>(i)].LeftGain, gains[i]);
  }
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(changes, 6);
}

TEST(GainEnvelopeTest, UnityStretchLeavesDataUntouched) {
  Bytes data = Words({1, -1, 32767, -32768, 12345, -54, 7, 0});
  const Bytes original = data;
  TMMFadeList list = Envelope({{0, kUnityGain, kUnityGain}, {16, kUnityGain, kUnityGain}});
  EXPECT_FALSE(Apply(Pcm(16, 2), data, list));
  EXPECT_EQ(data, original);
  EXPECT_EQ(list.CurrentPosition, 16);
  EXPECT_EQ(list.CurrentLeft, kUnityGain);
  EXPECT_EQ(list.CurrentRight, kUnityGain);
}

TEST(GainEnvelopeTest, ConstantGainScalesAndSaturates) {
  struct Case {
    const char* name;
    std::uint16_t bits;
    Bytes data;
    std::int32_t gain;
    Bytes expected;
    bool overflow;
  };
  const Case cases[] = {
      {"16 double", 16, Words({16000, -16000, 0}), 32768, Words({32000, -32000, 0}), false},
      // -16384 * 131072 is exactly -2^31 and still fits; +16384 does not.
      {"16 negative edge", 16, Words({-16384}), 32768, Words({-32768}), false},
      {"16 positive edge", 16, Words({16384}), 32768, Words({32767}), true},
      {"16 saturate", 16, Words({20000, -20000, 100}), 32768, Words({32767, -32768, 200}), true},
      // Arithmetic shifts round toward minus infinity.
      {"16 half", 16, Words({-1, 1, -3, 3}), 8192, Words({-1, 0, -2, 1}), false},
      {"8 half", 8, {200, 128, 0, 127, 129}, 8192, {164, 128, 64, 127, 128}, false},
      {"8 negative edge", 8, {64}, 32768, {0}, false},
      {"8 saturate", 8, {192, 0, 130}, 32768, {255, 0, 132}, true},
  };
  for (const Case& c : cases) {
    Bytes data = c.data;
    const auto end = static_cast<std::int64_t>(data.size());
    TMMFadeList list = Envelope({{0, c.gain, c.gain}, {end, c.gain, c.gain}});
    EXPECT_EQ(Apply(Pcm(c.bits, 1), data, list), c.overflow) << c.name;
    EXPECT_EQ(GainOverflowed(), c.overflow) << c.name;
    EXPECT_EQ(data, c.expected) << c.name;
    EXPECT_EQ(list.CurrentLeft, c.gain) << c.name;
  }
}

TEST(GainEnvelopeTest, ZeroGainSilencesTheChannel) {
  Bytes data16 = Words({100, 200, -300, 400});
  TMMFadeList list16 = Envelope({{0, 0, kUnityGain}, {8, 0, kUnityGain}});
  EXPECT_FALSE(Apply(Pcm(16, 2), data16, list16));
  EXPECT_EQ(data16, Words({0, 200, 0, 400}));

  Bytes data8 = {0, 255, 17, 128, 200};
  TMMFadeList list8 = Envelope({{0, 0, 0}, {5, 0, 0}});
  EXPECT_FALSE(Apply(Pcm(8, 1), data8, list8));
  EXPECT_EQ(data8, Bytes(5, 128));
  EXPECT_EQ(list8.CurrentLeft, 0);
}

// A ramp from 0 to unity over four frames steps by 4096 per frame; with samples of 16384 a
// 16-bit output equals the gain applied to it.
TEST(GainEnvelopeTest, LinearRampPerFormat) {
  struct Case {
    const char* name;
    std::uint16_t bits, channels;
    Bytes data;
    Bytes expected;
  };
  const Case cases[] = {
      {"16 mono", 16, 1, Words({16384, 16384, 16384, 16384}), Words({0, 4096, 8192, 12288})},
      {"16 stereo", 16, 2, Words({16384, 16384, 16384, 16384, 16384, 16384, 16384, 16384}),
       Words({0, 16384, 4096, 12288, 8192, 8192, 12288, 4096})},
      // 8-bit: s = 64 gives 64 * g / 16384 above the centre.
      {"8 mono", 8, 1, {192, 192, 192, 192}, {128, 144, 160, 176}},
      {"8 stereo",
       8,
       2,
       {192, 64, 192, 64, 192, 64, 192, 64},
       {128, 64, 144, 80, 160, 96, 176, 112}},
  };
  for (const Case& c : cases) {
    Bytes data = c.data;
    const auto end = static_cast<std::int64_t>(data.size());
    TMMFadeList list = Envelope({{0, 0, kUnityGain}, {end, kUnityGain, 0}});
    EXPECT_FALSE(Apply(Pcm(c.bits, c.channels), data, list)) << c.name;
    EXPECT_EQ(data, c.expected) << c.name;
    EXPECT_EQ(list.CurrentPosition, end) << c.name;
    EXPECT_EQ(list.CurrentIndex, 2) << c.name;
    EXPECT_EQ(list.CurrentLeft, kUnityGain) << c.name;
    if (c.channels == 2) {
      EXPECT_EQ(list.CurrentRight, 0) << c.name;
    }
  }
}

// Uneven ramps distribute the remainder through the error term and end exactly on their end
// gain, also when the gain moves by more than one unit per frame.
TEST(GainEnvelopeTest, UnevenRampsAndTheGainReached) {
  struct Case {
    const char* name;
    std::int32_t from, to;
    std::vector<int> applied;
    std::int32_t reached;
  };
  const Case cases[] = {
      {"q = 2, r = 2", 100, 110, {100, 102, 105, 107}, 110},
      {"q = 0 up", 100, 103, {100, 101, 101, 102}, 103},
      {"q = 0 down", 103, 100, {103, 102, 102, 101}, 100},
      {"q = 1, r = 1 down", 105, 100, {105, 104, 103, 101}, 100},
  };
  for (const Case& c : cases) {
    Bytes data = Words({16384, 16384, 16384, 16384});
    TMMFadeList list = Envelope({{0, c.from, 0}, {8, c.to, 0}});
    Apply(Pcm(16, 1), data, list);
    Bytes expected;
    for (int g : c.applied) {
      const Bytes w = Words({g});
      expected.insert(expected.end(), w.begin(), w.end());
    }
    EXPECT_EQ(data, expected) << c.name;
    EXPECT_EQ(list.CurrentLeft, c.reached) << c.name;
  }

  // The next segment, 110 to 110, holds the gain the ramp reached.
  Bytes data = Words({16384, 16384, 16384, 16384, 16384, 16384, 16384, 16384});
  TMMFadeList list = Envelope({{0, 100, 0}, {8, 110, 0}, {16, 110, 0}});
  Apply(Pcm(16, 1), data, list);
  EXPECT_EQ(data, Words({100, 102, 105, 107, 110, 110, 110, 110}));
  EXPECT_EQ(list.CurrentLeft, 110);
}

TEST(GainEnvelopeTest, MonoKeepsTheRightGainAsItWas) {
  Bytes data = Words({16384, 16384});
  TMMFadeList list = Envelope({{4, 0, 0}});
  list.Reset(0, 8192, 777);
  Apply(Pcm(16, 1), data, list);
  EXPECT_EQ(data, Words({8192, 4096}));
  EXPECT_EQ(list.CurrentLeft, 0);
  EXPECT_EQ(list.CurrentRight, 777);
}

TEST(GainEnvelopeTest, BytesBeyondTheLastPointAreUntouched) {
  Bytes data = Words({1000, 1000, 1000, 1000, 1000, 1000});
  TMMFadeList list = Envelope({{0, 8192, 8192}, {8, 8192, 8192}});
  EXPECT_FALSE(Apply(Pcm(16, 1), data, list));
  EXPECT_EQ(data, Words({500, 500, 500, 500, 1000, 1000}));
  EXPECT_EQ(list.CurrentPosition, 8);

  // A later block lies wholly beyond the points.
  Bytes later = Words({1000, 1000});
  EXPECT_FALSE(Apply(Pcm(16, 1), later, list));
  EXPECT_EQ(later, Words({1000, 1000}));
}

TEST(GainEnvelopeTest, SegmentShorterThanAFrameJumpsToItsEndGain) {
  struct Case {
    const char* name;
    std::uint16_t bits, channels;
    std::int64_t distance;  // below one frame
  };
  const Case cases[] = {
      {"16 mono", 16, 1, 1},
      {"16 stereo", 16, 2, 3},
      {"8 stereo", 8, 2, 1},
  };
  for (const Case& c : cases) {
    Bytes data(4, 77);
    TMMFadeList list = Envelope({{0, 100, 300}, {c.distance, 200, 400}});
    EXPECT_FALSE(Apply(Pcm(c.bits, c.channels), data, list)) << c.name;
    EXPECT_EQ(data, Bytes(4, 77)) << c.name;  // no whole frame in the segment
    EXPECT_EQ(list.CurrentPosition, c.distance) << c.name;
    EXPECT_EQ(list.CurrentLeft, 200) << c.name;
    if (c.channels == 2) {
      EXPECT_EQ(list.CurrentRight, 400) << c.name;
    }
  }
}

// Feeding the stream in blocks continues the same ramps as one application over the whole
// (segment lengths divide the gain differences evenly, so no error term is carried).
TEST(GainEnvelopeTest, ConsecutiveBlocksContinueTheRamps) {
  const TWaveFormatEx format = Pcm(16, 2);
  Bytes source(320);
  std::uint32_t seed = 12345;
  for (auto& b : source) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 16);
  }
  auto makeList = [] {
    TMMFadeList list = Envelope({{0, 0, kUnityGain},
                                 {64, kUnityGain, 0},
                                 {128, 8192, 8192},
                                 {192, kUnityGain, 24576},
                                 {256, kUnityGain, 24576}});
    return list;
  };

  Bytes whole = source;
  TMMFadeList wholeList = makeList();
  const bool wholeOverflow = Apply(format, whole, wholeList);
  ASSERT_NE(whole, source);

  for (std::size_t blockSize : {4u, 12u, 60u, 64u, 100u, 316u}) {
    Bytes pieces = source;
    TMMFadeList list = makeList();
    bool overflow = false;
    for (std::size_t at = 0; at < pieces.size(); at += blockSize) {
      const std::size_t n = std::min(blockSize, pieces.size() - at);
      overflow |= ApplyGainEnvelope(format, pieces.data() + at, static_cast<std::int64_t>(n), list);
    }
    EXPECT_EQ(pieces, whole) << "blocks of " << blockSize;
    EXPECT_EQ(overflow, wholeOverflow) << "blocks of " << blockSize;
    EXPECT_EQ(list.CurrentPosition, wholeList.CurrentPosition) << "blocks of " << blockSize;
    EXPECT_EQ(list.CurrentLeft, wholeList.CurrentLeft) << "blocks of " << blockSize;
    EXPECT_EQ(list.CurrentRight, wholeList.CurrentRight) << "blocks of " << blockSize;
  }
}

TEST(GainEnvelopeTest, NonPcmIsUntouchedAndClearsTheOverflowFlag) {
  Bytes loud = Words({30000});
  TMMFadeList doubling = Envelope({{0, 32768, 32768}, {2, 32768, 32768}});
  ASSERT_TRUE(Apply(Pcm(16, 1), loud, doubling));
  ASSERT_TRUE(GainOverflowed());

  TWaveFormatEx adpcm = Pcm(16, 1);
  adpcm.wFormatTag = 2;
  Bytes data = Words({30000});
  TMMFadeList list = Envelope({{0, 32768, 32768}, {2, 32768, 32768}});
  EXPECT_FALSE(Apply(adpcm, data, list));
  EXPECT_FALSE(GainOverflowed());
  EXPECT_EQ(data, Words({30000}));
  EXPECT_EQ(list.CurrentPosition, 0);
}

}  // namespace
}  // namespace wave
