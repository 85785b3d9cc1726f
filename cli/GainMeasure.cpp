#include "cli/GainMeasure.h"

#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

#include "cli/LoudnessMeter.h"
#include "cli/Normalization.h"

namespace cli {

namespace {

// The measuring pass works in parts of about this length, at most this many (opening an MPEG
// segment walks the file).
constexpr std::int64_t kMeasurePartSeconds = 30;
constexpr std::int64_t kMaxMeasureParts = 8;

// The meters of one pass: one per part.
class PartMeters {
 public:
  PartMeters(const PcmSource& source, bool loudness, std::size_t parts)
      : channels_(source.Channels()), peaks_(parts, 0.0f), meters_(parts) {
    if (loudness) {
      for (auto& meter : meters_) meter.emplace(source.Channels(), source.Rate());
    }
  }

  void Add(std::size_t part, const float* samples, std::size_t count) {
    if (meters_[part]) {
      meters_[part]->Add(samples, count / static_cast<std::size_t>(channels_));
    } else {
      peaks_[part] = SamplePeak(samples, count, peaks_[part]);
    }
  }

  NormalizationGain Gain(const OutputSettings& settings) const {
    if (settings.normalize.mode != NormalizeSpec::kLoudness) {
      return PeakNormalization(*std::max_element(peaks_.begin(), peaks_.end()), settings.depth,
                               settings.dither);
    }
    std::vector<const LoudnessMeter*> parts;
    double truePeak = 0.0;
    for (const auto& meter : meters_) {
      parts.push_back(&*meter);
      truePeak = std::max(truePeak, meter->TruePeak());
    }
    return LoudnessNormalization(LoudnessMeter::IntegratedLufs(parts), truePeak,
                                 settings.normalize.targetLufs);
  }

 private:
  int channels_;
  std::vector<float> peaks_;
  std::vector<std::optional<LoudnessMeter>> meters_;
};

}  // namespace

GainMeasurement MeasureGain(PcmSource& source, const OutputSettings& settings, DecodePass& pass,
                            const std::atomic<bool>* cancel,
                            const std::function<void()>& frameDone) {
  const bool loudness = settings.normalize.mode == NormalizeSpec::kLoudness;
  pass.form = SampleForm::kFloat;
  const std::int64_t parts = std::clamp<std::int64_t>(
      source.LengthMs() / (kMeasurePartSeconds * 1000), 1, kMaxMeasureParts);
  pass.segments = source.Plan(static_cast<unsigned>(parts), kMeasurePartSeconds * source.Rate(),
                              SampleForm::kFloat, settings.depth);
  const std::thread::id owner = std::this_thread::get_id();
  std::optional<PartMeters> meters;
  pass.block = [&](std::size_t i, const unsigned char* data, std::size_t bytes, std::int64_t) {
    meters->Add(i, reinterpret_cast<const float*>(data), bytes / sizeof(float));
    if (frameDone && std::this_thread::get_id() == owner) frameDone();
    return true;
  };
  GainMeasurement result;
  meters.emplace(source, loudness, std::max<std::size_t>(1, pass.segments.size()));
  DecodeStatus status = source.Decode(pass, cancel);
  if (status == DecodeStatus::kRedecode) {
    // A part did not decode as planned: measure in one run instead, afresh.
    result.cutFails = true;
    pass.segments.clear();
    pass.frames = 0;
    meters.emplace(source, loudness, 1);
    status = source.Decode(pass, cancel);
  }
  result.status = status == DecodeStatus::kComplete ? status : DecodeStatus::kStopped;
  if (status == DecodeStatus::kComplete) {
    NormalizationGain gain = meters->Gain(settings);
    result.gain = gain.gain;
    result.reason = std::move(gain.reason);
  }
  return result;
}

}  // namespace cli
