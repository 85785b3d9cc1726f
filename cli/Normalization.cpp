#include "cli/Normalization.h"

#include <cmath>
#include <cstdio>

#include "cli/NumberText.h"

namespace cli {

namespace {

constexpr std::string_view kPeak = "peak";
constexpr std::string_view kLoudness = "loudness";

// "silence: peak -84.3 dBFS is below -70 dBFS, gain left at 1"
std::optional<std::string> SilenceReason(double peak, const char* what) {
  if (std::isnan(peak)) return std::nullopt;
  const double db = peak > 0.0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
  if (!(db < kSilencePeakDb)) return std::nullopt;
  char text[96];
  if (std::isfinite(db)) {
    std::snprintf(text, sizeof text, "silence: %s %.1f dBFS is below %.0f dBFS, gain left at 1",
                  what, db, kSilencePeakDb);
  } else {
    std::snprintf(text, sizeof text, "silence: every sample is 0, below %.0f dBFS, gain left at 1",
                  kSilencePeakDb);
  }
  return text;
}

}  // namespace

std::optional<NormalizeSpec> ParseNormalize(std::string_view text) {
  NormalizeSpec spec;
  if (text == kPeak) {
    spec.mode = NormalizeSpec::kPeak;
    return spec;
  }
  if (text.substr(0, kLoudness.size()) != kLoudness) return std::nullopt;
  const std::string_view rest = text.substr(kLoudness.size());
  spec.mode = NormalizeSpec::kLoudness;
  if (rest.empty()) return spec;
  if (rest.front() != '=') return std::nullopt;
  const std::optional<double> target = ParseDecimal(rest.substr(1));
  if (!target || !(*target >= kMinTargetLufs && *target <= kMaxTargetLufs)) return std::nullopt;
  spec.targetLufs = *target;
  return spec;
}

double PeakGain(double peak, OutputDepth depth, bool dither) {
  if (!(peak > 0.0) || !std::isfinite(peak)) return 1.0;
  if (depth == OutputDepth::k32Float) return 1.0 / peak;
  const double fullScale = std::ldexp(1.0, BitsPerSample(depth) - 1);
  // TPDF dither moves a sample by less than one step either way.
  const double headroomSteps = dither && depth == OutputDepth::k16 ? 2.0 : 1.0;
  return (fullScale - headroomSteps) / fullScale / peak;
}

double LoudnessGain(double lufs, double truePeak, double target) {
  if (!std::isfinite(lufs) || !std::isfinite(target)) return 1.0;
  double gain = std::pow(10.0, (target - lufs) / 20.0);
  if (truePeak > 0.0 && std::isfinite(truePeak)) {
    const double ceiling = std::pow(10.0, kTruePeakCeilingDb / 20.0);
    if (truePeak * gain > ceiling) gain = ceiling / truePeak;
  }
  return gain;
}

NormalizationGain PeakNormalization(double peak, OutputDepth depth, bool dither) {
  if (std::optional<std::string> reason = SilenceReason(peak, "peak")) return {1.0, *reason};
  return {PeakGain(peak, depth, dither), {}};
}

NormalizationGain LoudnessNormalization(double lufs, double truePeak, double target) {
  if (std::optional<std::string> reason = SilenceReason(truePeak, "true peak")) {
    return {1.0, *reason};
  }
  if (!std::isfinite(lufs)) {
    return {1.0, "no loudness measured (too quiet or under 0.4 s), gain left at 1"};
  }
  return {LoudnessGain(lufs, truePeak, target), {}};
}

}  // namespace cli
