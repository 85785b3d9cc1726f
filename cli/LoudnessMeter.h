// Measures the integrated loudness (EBU R128, in LUFS, with libebur128) and the true peak (with
// our own interpolator: libebur128's costs three times the decoding) of interleaved float
// samples, and the plain sample peak. A file may be measured in consecutive parts, one meter
// each, and the parts' loudness combined.
// Threading: one thread at a time per meter; SamplePeak from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "cli/TruePeakMeter.h"

namespace cli {

class LoudnessMeter {
 public:
  // Throws std::invalid_argument when libebur128 takes neither the channels nor the rate, and
  // std::bad_alloc when it cannot allocate.
  LoudnessMeter(int channels, int rate);
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  // Adds `frames` frames of `channels` interleaved samples (full scale +-1.0).
  // Throws std::bad_alloc when the measurement cannot grow.
  void Add(const float* interleaved, std::size_t frames);

  // The gated loudness of everything added, in LUFS; -infinity for silence or nothing added.
  double IntegratedLufs() const;
  // The gated loudness of the parts that `meters` measured, as if one meter had measured them
  // all (same channels and rate).
  static double IntegratedLufs(const std::vector<const LoudnessMeter*>& meters);

  // The largest oversampled peak over all channels, linear (1.0 is full scale).
  double TruePeak() const { return truePeak_.Peak(); }

 private:
  struct State;  // owns the libebur128 measurement
  std::unique_ptr<State> state_;
  TruePeakMeter truePeak_;
};

// The largest of `sofar` and the magnitudes of `samples` samples; NaN samples are ignored.
float SamplePeak(const float* samples, std::size_t count, float sofar);

}  // namespace cli
