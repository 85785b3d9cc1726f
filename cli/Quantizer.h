// Turns float samples (full scale +-1.0) into the little-endian samples of an output depth, with
// a gain, rounding to nearest and, for 16 bits on request, triangular (TPDF) dither.
// The dither of a sample depends only on the seed and the sample's index in the file, so parts of
// a file quantized apart by several quantizers (SetPosition) equal one quantizer's output.
// Threading: one thread at a time; an object keeps its position and clip count.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/OutputDepth.h"

namespace cli {

class Quantizer {
 public:
  // `gain` multiplies every sample. `dither` only acts at 16 bits; `seed` makes its noise
  // repeatable.
  Quantizer(OutputDepth depth, double gain, bool dither, std::uint64_t seed);

  // Writes `samples` samples (all channels counted) from `in` to `out`, which holds
  // samples * BytesPerSample(depth) bytes. Integers: in * gain * 2^(bits-1), rounded to nearest
  // (halves away from zero), clamped to the depth's range; 24-bit samples take 3 bytes. Float:
  // in * gain, never clamped. A NaN sample is written as 0.
  void Convert(const float* in, std::size_t samples, unsigned char* out);
  // The index in the file (all channels counted) of the next sample converted; 0 at first.
  void SetPosition(std::uint64_t sample) { position_ = sample; }

  // Integer samples clamped so far.
  std::int64_t Clipped() const { return clipped_; }

 private:
  template <int kBytes, bool kDither>
  void ConvertInteger(const float* in, std::size_t samples, unsigned char* out);
  void ConvertFloat(const float* in, std::size_t samples, unsigned char* out) const;
  // Triangular noise in (-1, 1) LSB: the sum of two independent uniform values in [-0.5, 0.5).
  double NextDither();

  OutputDepth depth_ = OutputDepth::k16;
  double gain_ = 1.0;
  double scale_ = 1.0;  // gain * 2^(bits-1)
  bool dither_ = false;
  std::uint64_t seed_ = 0;      // mixed from the seed given
  std::uint64_t position_ = 0;  // index of the next sample
  std::int64_t clipped_ = 0;
};

}  // namespace cli
