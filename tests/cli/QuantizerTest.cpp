#include "cli/Quantizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "cli/LoudnessMeter.h"
#include "cli/Normalization.h"

namespace cli {
namespace {

// The little-endian signed samples in `bytes`, `width` bytes each.
std::vector<std::int64_t> Samples(const std::vector<unsigned char>& bytes, int width) {
  std::vector<std::int64_t> samples;
  for (std::size_t i = 0; i + width <= bytes.size(); i += width) {
    std::uint32_t bits = 0;
    for (int b = 0; b < width; ++b) bits |= std::uint32_t{bytes[i + b]} << (8 * b);
    const int shift = 32 - 8 * width;  // sign-extend from the top byte
    samples.push_back(static_cast<std::int32_t>(bits << shift) >> shift);
  }
  return samples;
}

std::vector<std::int64_t> Quantize(Quantizer& quantizer, OutputDepth depth,
                                   const std::vector<float>& in) {
  std::vector<unsigned char> out(in.size() * BytesPerSample(depth));
  quantizer.Convert(in.data(), in.size(), out.data());
  return Samples(out, BytesPerSample(depth));
}

std::vector<float> RandomSignal(std::size_t count, float peak, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> value(-peak, peak);
  std::vector<float> signal(count);
  for (float& s : signal) s = value(random);
  return signal;
}

TEST(QuantizerTest, RoundsAndClampsAtEachDepth) {
  const float lsb16 = std::ldexp(1.0f, -15);
  const float lsb24 = std::ldexp(1.0f, -23);
  const float lsb32 = std::ldexp(1.0f, -31);
  struct Case {
    OutputDepth depth;
    double gain;
    float in;
    std::int64_t expected;
    bool clipped;
  };
  const Case kCases[] = {
      {OutputDepth::k16, 1.0, 0.0f, 0, false},
      {OutputDepth::k16, 1.0, 0.5f, 16384, false},
      {OutputDepth::k16, 1.0, -1.0f, -32768, false},
      {OutputDepth::k16, 1.0, 1.0f, 32767, true},  // 1.0 is one step past the largest value
      {OutputDepth::k16, 1.0, 3.0f, 32767, true},
      {OutputDepth::k16, 1.0, -1.5f, -32768, true},
      {OutputDepth::k16, 1.0, 0.49f * lsb16, 0, false},
      {OutputDepth::k16, 1.0, 0.5f * lsb16, 1, false},  // halves away from zero
      {OutputDepth::k16, 1.0, -0.5f * lsb16, -1, false},
      {OutputDepth::k16, 1.0, 1.51f * lsb16, 2, false},
      {OutputDepth::k16, 1.0, 32767.4f * lsb16, 32767, false},
      {OutputDepth::k16, 1.0, 32767.5f * lsb16, 32767, true},
      {OutputDepth::k16, 1.0, -32768.4f * lsb16, -32768, false},
      {OutputDepth::k16, 2.0, 0.25f, 16384, false},
      {OutputDepth::k16, 0.5, 1.0f, 16384, false},  // an over brought back by the gain
      {OutputDepth::k16, 1.0, std::numeric_limits<float>::quiet_NaN(), 0, false},
      {OutputDepth::k24, 1.0, 0.5f, 4194304, false},
      {OutputDepth::k24, 1.0, -1.0f, -8388608, false},
      {OutputDepth::k24, 1.0, 1.0f, 8388607, true},
      {OutputDepth::k24, 1.0, -lsb24, -1, false},
      {OutputDepth::k24, 1.0, 0.5f * lsb24, 1, false},
      {OutputDepth::k24, 4.0, -0.5f, -8388608, true},
      {OutputDepth::k32, 1.0, 0.25f, 536870912, false},
      {OutputDepth::k32, 1.0, -1.0f, -2147483648LL, false},
      {OutputDepth::k32, 1.0, 1.0f, 2147483647, true},
      {OutputDepth::k32, 1.0, 1e-3f, 2147484, false},  // 2147483.6 before rounding
      {OutputDepth::k32, 1.0, -lsb32, -1, false},
      {OutputDepth::k32, 1.0, 2.0f, 2147483647, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << "bits " << BitsPerSample(c.depth) << " gain " << c.gain << " in " << c.in);
    Quantizer quantizer(c.depth, c.gain, false, 1);
    EXPECT_EQ(Quantize(quantizer, c.depth, {c.in}), std::vector<std::int64_t>{c.expected});
    EXPECT_EQ(quantizer.Clipped(), c.clipped ? 1 : 0);
  }
}

TEST(QuantizerTest, ClipCountAddsUpOverCalls) {
  Quantizer quantizer(OutputDepth::k16, 1.0, false, 1);
  Quantize(quantizer, OutputDepth::k16, {2.0f, -2.0f, 0.1f, 1.0f, -1.0f});
  EXPECT_EQ(quantizer.Clipped(), 3);
  Quantize(quantizer, OutputDepth::k16, {0.0f, 1.25f});
  EXPECT_EQ(quantizer.Clipped(), 4);
}

TEST(QuantizerTest, PacksTwentyFourBitSamplesInThreeBytes) {
  Quantizer quantizer(OutputDepth::k24, 1.0, false, 1);
  const float lsb = std::ldexp(1.0f, -23);
  const float in[] = {0x123456 * lsb, -1 * lsb, -0x7FFFFF * lsb};
  std::vector<unsigned char> out(10, 0xAB);
  quantizer.Convert(in, 3, out.data());
  const std::vector<unsigned char> expected = {0x56, 0x34, 0x12, 0xFF, 0xFF,
                                               0xFF, 0x01, 0x00, 0x80, 0xAB};
  EXPECT_EQ(out, expected);
}

TEST(QuantizerTest, FloatIsScaledNeverClamped) {
  Quantizer quantizer(OutputDepth::k32Float, 2.0, true, 1);
  const float in[] = {0.75f, -3.0f, 0.0f};
  float out[3] = {};
  quantizer.Convert(in, 3, reinterpret_cast<unsigned char*>(out));
  EXPECT_EQ(out[0], 1.5f);
  EXPECT_EQ(out[1], -6.0f);
  EXPECT_EQ(out[2], 0.0f);  // no dither in float
  EXPECT_EQ(quantizer.Clipped(), 0);
}

TEST(QuantizerTest, DitherIsTriangularAndUnbiased) {
  // A constant 1000.3 steps: plain rounding always gives 1000; with TPDF dither the output
  // averages to the input and its error has a variance of 1/4 step squared (1/6 from the noise,
  // 1/12 from rounding), whatever the input.
  const double value = 1000.3;
  const std::vector<float> in(200000, static_cast<float>(value / 32768.0));
  Quantizer quantizer(OutputDepth::k16, 1.0, true, 42);
  const std::vector<std::int64_t> out = Quantize(quantizer, OutputDepth::k16, in);
  double sum = 0.0;
  double squares = 0.0;
  for (std::int64_t s : out) {
    ASSERT_GE(s, 999);
    ASSERT_LE(s, 1001);
    sum += static_cast<double>(s);
    squares += (static_cast<double>(s) - value) * (static_cast<double>(s) - value);
  }
  EXPECT_NEAR(sum / static_cast<double>(out.size()), value, 0.01);
  EXPECT_NEAR(squares / static_cast<double>(out.size()), 0.25, 0.02);
}

TEST(QuantizerTest, DitherStaysWithinOneStepAndRepeatsPerSeed) {
  const std::vector<float> in = RandomSignal(50000, 0.9f, 7);
  Quantizer plain(OutputDepth::k16, 1.0, false, 1);
  Quantizer first(OutputDepth::k16, 1.0, true, 1234);
  Quantizer again(OutputDepth::k16, 1.0, true, 1234);
  Quantizer other(OutputDepth::k16, 1.0, true, 1235);
  const std::vector<std::int64_t> undithered = Quantize(plain, OutputDepth::k16, in);
  const std::vector<std::int64_t> dithered = Quantize(first, OutputDepth::k16, in);
  int changed = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    ASSERT_LE(std::abs(dithered[i] - undithered[i]), 1) << "sample " << i;
    changed += dithered[i] != undithered[i];
  }
  EXPECT_GT(changed, 10000);
  EXPECT_EQ(Quantize(again, OutputDepth::k16, in), dithered);
  EXPECT_NE(Quantize(other, OutputDepth::k16, in), dithered);
}

TEST(QuantizerTest, NoDitherBeyondSixteenBits) {
  const std::vector<float> in = RandomSignal(10000, 0.9f, 8);
  for (OutputDepth depth : {OutputDepth::k24, OutputDepth::k32, OutputDepth::k32Float}) {
    SCOPED_TRACE(BitsPerSample(depth));
    Quantizer plain(depth, 1.0, false, 1);
    Quantizer dithered(depth, 1.0, true, 1);
    EXPECT_EQ(Quantize(dithered, depth, in), Quantize(plain, depth, in));
  }
}

TEST(QuantizerTest, PeakGainReachesTheLargestValueWithoutClipping) {
  struct Case {
    OutputDepth depth;
    bool dither;
    std::int64_t largest;  // the peak must land here (with dither: within a step under it)
  };
  const Case kCases[] = {
      {OutputDepth::k16, false, 32767},
      {OutputDepth::k16, true, 32767},
      {OutputDepth::k24, false, 8388607},
      {OutputDepth::k32, false, 2147483647},
  };
  // Many samples at the peak, so that dither without headroom would push some over.
  std::vector<float> in = RandomSignal(100000, 0.3f, 9);
  for (std::size_t i = 500; i < 10500; i += 2) {
    in[i] = 0.37f;
    in[i + 1] = -0.37f;
  }
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << BitsPerSample(c.depth) << " bits, dither " << c.dither);
    Quantizer quantizer(
        c.depth, PeakGain(SamplePeak(in.data(), in.size(), 0.0f), c.depth, c.dither), c.dither, 3);
    const std::vector<std::int64_t> out = Quantize(quantizer, c.depth, in);
    EXPECT_EQ(quantizer.Clipped(), 0);
    if (c.dither) {
      EXPECT_GE(out[500], c.largest - 2);
      EXPECT_LE(out[500], c.largest);
    } else {
      EXPECT_EQ(out[500], c.largest);
      EXPECT_EQ(out[501], -c.largest);
    }
  }
}

}  // namespace
}  // namespace cli
