// The true peak of interleaved float samples: the largest magnitude of the signal oversampled
// four times, so that the peaks between samples, which a converter or a lossy encoder would
// reproduce, count too. The interpolator is a 49-tap windowed sinc (12 taps per phase); the
// samples themselves are phase 0. Fast enough to run beside the decoder on every sample.
// Threading: one thread at a time per meter.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace cli {

class TruePeakMeter {
 public:
  static constexpr int kTaps = 12;  // per phase

  explicit TruePeakMeter(int channels);

  // Adds `frames` frames of interleaved samples (full scale +-1.0). NaN samples count as 0.
  void Add(const float* interleaved, std::size_t frames);
  // The largest oversampled magnitude so far, over every channel (1.0 is full scale).
  double Peak() const { return peak_; }

 private:
  int channels_;
  // Per channel, the last kTaps - 1 samples followed by the block being measured.
  std::vector<std::vector<float>> lines_;
  std::vector<float> sums_;  // one phase's outputs for a block
  double peak_ = 0.0;
};

}  // namespace cli
