#include "cli/Normalization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace cli {
namespace {

TEST(NormalizationTest, ParsesModesAndTargets) {
  struct Case {
    const char* text;
    NormalizeSpec::Mode mode;
    double target;
  };
  const Case kAccepted[] = {
      {"peak", NormalizeSpec::kPeak, -23.0},
      {"loudness", NormalizeSpec::kLoudness, -23.0},
      {"loudness=-14", NormalizeSpec::kLoudness, -14.0},
      {"loudness=-16.5", NormalizeSpec::kLoudness, -16.5},
      {"loudness=-70", NormalizeSpec::kLoudness, -70.0},
      {"loudness=0", NormalizeSpec::kLoudness, 0.0},
      {"loudness=+0", NormalizeSpec::kLoudness, 0.0},
  };
  for (const Case& c : kAccepted) {
    SCOPED_TRACE(c.text);
    const std::optional<NormalizeSpec> spec = ParseNormalize(c.text);
    ASSERT_TRUE(spec.has_value());
    EXPECT_EQ(spec->mode, c.mode);
    EXPECT_EQ(spec->targetLufs, c.target);
  }
  for (const char* junk :
       {"", "none", "Peak", "peaks", "peak=1", "loud", "loudness=", "loudness-14", "loudness =-14",
        "loudness=abc", "loudness=-14dB", "loudness=-14 ", "loudness=--14", "loudness=-1e1",
        "loudness=nan", "loudness=-inf", "loudness=-70.5", "loudness=1", "loudness=-"})
    EXPECT_FALSE(ParseNormalize(junk).has_value()) << '"' << junk << '"';
}

TEST(NormalizationTest, Gains) {
  const double inf = std::numeric_limits<double>::infinity();
  const double ceiling = std::pow(10.0, -1.0 / 20.0);
  struct Case {
    const char* name;
    double gain;
    double expected;
  };
  const Case kCases[] = {
      {"peak 16 bits", PeakGain(0.5, OutputDepth::k16, false), 2.0 * 32767 / 32768},
      {"peak 16 bits dithered", PeakGain(0.5, OutputDepth::k16, true), 2.0 * 32766 / 32768},
      {"peak 24 bits, dither ignored", PeakGain(0.25, OutputDepth::k24, true),
       4.0 * 8388607 / 8388608},
      {"peak 32 bits", PeakGain(1.0, OutputDepth::k32, false), 2147483647.0 / 2147483648.0},
      {"peak over full scale, float", PeakGain(2.0, OutputDepth::k32Float, false), 0.5},
      {"peak of silence", PeakGain(0.0, OutputDepth::k16, true), 1.0},
      {"peak not a number", PeakGain(std::nan(""), OutputDepth::k16, false), 1.0},
      {"quiet file raised", LoudnessGain(-30.0, 0.1, -23.0), std::pow(10.0, 7.0 / 20.0)},
      {"loud file lowered", LoudnessGain(-10.0, 1.0, -23.0), std::pow(10.0, -13.0 / 20.0)},
      {"limited by true peak", LoudnessGain(-30.0, 0.5, -14.0), ceiling / 0.5},
      {"at the ceiling exactly", LoudnessGain(-20.0, ceiling, -20.0), 1.0},
      {"silence", LoudnessGain(-inf, 0.0, -23.0), 1.0},
  };
  for (const Case& c : kCases) EXPECT_NEAR(c.gain, c.expected, 1e-12) << c.name;
}

// Below -70 dBFS a source is silence: neither normalization touches it, and each says why.
TEST(NormalizationTest, SilenceKeepsGainOne) {
  const double inf = std::numeric_limits<double>::infinity();
  const double threshold = std::pow(10.0, kSilencePeakDb / 20.0);
  const double twoSteps = 2.0 / 32768;  // about -84.3 dBFS
  struct Case {
    const char* name;
    NormalizationGain result;
    double gain;
    const char* reason;  // the start of the reason; null for none
  };
  const Case kCases[] = {
      {"peak, two steps", PeakNormalization(twoSteps, OutputDepth::k16, true), 1.0,
       "silence: peak -84.3 dBFS is below -70 dBFS"},
      {"peak, all zero", PeakNormalization(0.0, OutputDepth::k24, false), 1.0,
       "silence: every sample is 0"},
      {"peak just under the threshold",
       PeakNormalization(threshold * 0.99, OutputDepth::k16, false), 1.0,
       "silence: peak -70.1 dBFS"},
      {"peak just over it", PeakNormalization(threshold * 1.01, OutputDepth::k16, false),
       PeakGain(threshold * 1.01, OutputDepth::k16, false), nullptr},
      {"loudness, two steps", LoudnessNormalization(-inf, twoSteps, -23.0), 1.0,
       "silence: true peak -84.3 dBFS"},
      {"loudness gated, loud peak", LoudnessNormalization(-inf, 0.5, -23.0), 1.0,
       "no loudness measured"},
      {"quiet but measured", LoudnessNormalization(-60.0, 0.001, -23.0),
       LoudnessGain(-60.0, 0.001, -23.0), nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(c.result.gain, c.gain, 1e-12);
    if (c.reason) {
      EXPECT_EQ(c.result.reason.find(c.reason), 0u) << c.result.reason;
    } else {
      EXPECT_EQ(c.result.reason, "");
    }
  }
  EXPECT_GT(PeakNormalization(threshold * 1.01, OutputDepth::k16, false).gain, 3000.0);
}

}  // namespace
}  // namespace cli
