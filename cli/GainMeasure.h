// The measuring pass of a normalization: decodes a source in float and gives the gain that
// takes its sample peak, or its loudness, where the settings ask.
// Threading: called on the converting thread; the source's segments are measured on the helper
// pool's threads too, each part with meters of its own.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "cli/OutputSettings.h"
#include "cli/PcmSource.h"

namespace cli {

struct GainMeasurement {
  DecodeStatus status = DecodeStatus::kComplete;  // kComplete or kStopped (cancelled)
  double gain = 1.0;
  std::string reason;  // why the gain was left at 1 (silence), for -v; else empty
  // The parts did not decode apart and the source was measured in one run: cutting the writing
  // pass would fail the same way.
  bool cutFails = false;
};

// Measures `source` for `settings.normalize` (which must not be kNone) in parts of a fixed
// length whatever the number of threads, so that the gain, and the file, are the same for every
// -j; `pass` gives the threads and pool and receives the progress counts. `frameDone` is called
// on the calling thread after each of its blocks. Throws what the source throws.
GainMeasurement MeasureGain(PcmSource& source, const OutputSettings& settings, DecodePass& pass,
                            const std::atomic<bool>* cancel,
                            const std::function<void()>& frameDone);

}  // namespace cli
