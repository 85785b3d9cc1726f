// Scales PCM samples in place by one common gain: each sample becomes sample × gain rounded to
// the nearest integer (halves to even) and kept within the sample range. 16-bit samples are
// signed little-endian words; 8-bit samples are unsigned bytes centred on 128, scaled around
// that centre.
// Threading: immutable after construction; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace app {

class TSampleScaler {
 public:
  // Largest magnitude a normalized sample reaches at each width.
  static constexpr std::int32_t kTarget16 = 32767;
  static constexpr std::int32_t kTarget8 = 127;

  // `bits` is 8 or 16 (anything else is refused with std::invalid_argument).
  TSampleScaler(int bits, long double gain);

  int Bits() const { return bits_; }
  long double Gain() const { return gain_; }

  // One sample: the unsigned byte value for 8 bits, the signed word for 16 bits.
  std::int32_t Scale(std::int32_t sample) const;

  // Scales every whole sample of the first `byteCount` bytes; a trailing partial 16-bit sample
  // (an odd last byte) is left as it is.
  void Apply(void* data, std::size_t byteCount) const;

 private:
  int bits_ = 16;
  long double gain_ = 1.0L;
  // The result for every possible sample, indexed by the sample's raw bits: each sample of a
  // block then costs one lookup, with exactly the value the per-sample rounding gives.
  std::vector<std::uint16_t> table_;
};

}  // namespace app
