#include "cli/LoudnessMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace cli {
namespace {

constexpr int kRate = 48000;

// `seconds` of a sine of `hz` with peak `amplitudes[c]` on channel c, interleaved.
std::vector<float> Sine(double hz, double phase, std::vector<double> amplitudes, double seconds) {
  const std::size_t channels = amplitudes.size();
  const auto frames = static_cast<std::size_t>(seconds * kRate);
  std::vector<float> samples(frames * channels);
  for (std::size_t i = 0; i < frames; ++i) {
    const double value =
        std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / kRate + phase);
    for (std::size_t c = 0; c < channels; ++c)
      samples[i * channels + c] = static_cast<float>(amplitudes[c] * value);
  }
  return samples;
}

// Feeds the meter in blocks as the converter does.
void AddInBlocks(LoudnessMeter& meter, const std::vector<float>& samples, int channels) {
  constexpr std::size_t kBlockFrames = 1152;
  const std::size_t frames = samples.size() / channels;
  for (std::size_t done = 0; done < frames; done += kBlockFrames)
    meter.Add(samples.data() + done * channels, std::min(kBlockFrames, frames - done));
}

TEST(LoudnessMeterTest, SineLoudness) {
  // A 997 Hz sine at -20 dBFS: its mean square is 3.01 dB under its peak and K-weighting adds
  // what the -0.691 dB offset removes, so each channel carrying it adds -23.01 LUFS' worth.
  struct Case {
    const char* name;
    std::vector<double> amplitudes;
    double lufs;
  };
  const Case kCases[] = {
      {"stereo, both channels", {0.1, 0.1}, -20.0},
      {"stereo, right channel only", {0.0, 0.1}, -23.01},
      {"mono", {0.1}, -23.01},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const int channels = static_cast<int>(c.amplitudes.size());
    LoudnessMeter meter(channels, kRate);
    AddInBlocks(meter, Sine(997.0, 0.0, c.amplitudes, 5.0), channels);
    EXPECT_NEAR(meter.IntegratedLufs(), c.lufs, 0.05);
    EXPECT_NEAR(meter.TruePeak(), 0.1, 0.002);
  }
}

TEST(LoudnessMeterTest, TruePeakFindsThePeakBetweenSamples) {
  // A quarter-rate sine shifted by 45 degrees: every sample sits at 0.707 of its peak.
  const std::vector<float> samples = Sine(kRate / 4.0, std::numbers::pi / 4, {0.5, 0.0}, 2.0);
  LoudnessMeter meter(2, kRate);
  AddInBlocks(meter, samples, 2);
  EXPECT_NEAR(SamplePeak(samples.data(), samples.size(), 0.0f), 0.5 * std::sqrt(0.5), 1e-3);
  EXPECT_GT(meter.TruePeak(), 0.47);
  EXPECT_LT(meter.TruePeak(), 0.55);
}

TEST(LoudnessMeterTest, SilenceHasNoLoudness) {
  LoudnessMeter meter(2, 44100);
  EXPECT_EQ(meter.IntegratedLufs(), -std::numeric_limits<double>::infinity());
  const std::vector<float> silence(44100 * 2 * 3, 0.0f);
  meter.Add(silence.data(), silence.size() / 2);
  EXPECT_EQ(meter.IntegratedLufs(), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(meter.TruePeak(), 0.0);
}

TEST(LoudnessMeterTest, RefusesImpossibleLayouts) {
  EXPECT_THROW(LoudnessMeter(0, 44100), std::invalid_argument);
  EXPECT_THROW(LoudnessMeter(2, 0), std::invalid_argument);
}

TEST(LoudnessMeterTest, SamplePeak) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float samples[] = {0.25f, -0.75f, nan, 0.5f};
  EXPECT_EQ(SamplePeak(samples, 4, 0.0f), 0.75f);
  EXPECT_EQ(SamplePeak(samples, 4, 0.9f), 0.9f);
  EXPECT_EQ(SamplePeak(samples, 1, 0.0f), 0.25f);
  EXPECT_EQ(SamplePeak(samples, 0, 0.1f), 0.1f);
}

}  // namespace
}  // namespace cli
