// The normalization the converter may apply: which kind, from the command line, and the gain
// that it gives for a file's measured peak or loudness.
// Threading: any thread; the functions share nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/OutputDepth.h"

namespace cli {

constexpr double kDefaultTargetLufs = -23.0;
// Loudness targets accepted on the command line, in LUFS.
constexpr double kMinTargetLufs = -70.0;
constexpr double kMaxTargetLufs = 0.0;
// The ceiling that loudness normalization keeps the true peak under: -1 dBTP.
constexpr double kTruePeakCeilingDb = -1.0;
// A source whose peak stays below this is silence, decoder noise at most (digital silence
// encoded by LAME decodes to a step or two); libebur128 gates loudness there too. Normalizing
// it would turn the noise into a full-scale signal.
constexpr double kSilencePeakDb = -70.0;

struct NormalizeSpec {
  enum Mode { kNone, kPeak, kLoudness } mode = kNone;
  double targetLufs = kDefaultTargetLufs;
};

// "peak", "loudness" (the default target) or "loudness=<LUFS>" with a decimal number in
// kMinTargetLufs..kMaxTargetLufs ("loudness=-14", "loudness=-16.5"); nothing for anything else.
std::optional<NormalizeSpec> ParseNormalize(std::string_view text);

// The gain that takes a sample peak of `peak` to the largest value the depth holds:
// (2^(b-1) - 1) / 2^(b-1) for integers, one step lower at 16 bits with dither so that the noise
// never clips, 1.0 for float. 1 for silence (peak 0) or a peak that is not a finite number.
double PeakGain(double peak, OutputDepth depth, bool dither);

// The gain that takes a loudness of `lufs` to `target`, 10^((target - lufs) / 20), lowered where
// needed so that truePeak * gain stays at or under -1 dBTP. 1 for silence (lufs -infinity).
double LoudnessGain(double lufs, double truePeak, double target);

// The gain a normalization applies, and why it is 1 when it is left there.
struct NormalizationGain {
  double gain = 1.0;
  std::string reason;  // one line for -v; empty when the source was normalized
};

// Peak normalization of a source whose sample peak (linear, 1.0 full scale) is `peak`: PeakGain,
// or 1 when the peak is below kSilencePeakDb.
NormalizationGain PeakNormalization(double peak, OutputDepth depth, bool dither);
// Loudness normalization: LoudnessGain, or 1 when the true peak is below kSilencePeakDb (the true
// peak is never below the sample peak) or no loudness could be measured.
NormalizationGain LoudnessNormalization(double lufs, double truePeak, double target);

}  // namespace cli
