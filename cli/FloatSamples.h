// Turns the little-endian samples of a PCM or float WAVE file into 32-bit float samples (full
// scale +-1.0), and 8-bit PCM into 16-bit.
// Threading: any thread; the functions share nothing.
#pragma once

#include <cstddef>
#include <optional>

#include "stream/WaveFormat.h"

namespace cli {

enum class RawSamples { kUnsigned8, kSigned16, kSigned24, kSigned32, kFloat32, kFloat64 };

// The layout of the samples of `format`: PCM of 8, 16, 24 or 32 bits, IEEE float of 32 or 64
// bits, or the extensible record of one of those with all its bits valid; nothing for any other
// (compressed) format.
std::optional<RawSamples> RawSamplesOf(const stream::TWaveFormatEx* format);

// Bytes of one sample.
int RawSampleBytes(RawSamples layout);

// Converts `samples` samples from `in` into `out`. Integers are divided by 2^(bits-1) (8-bit
// samples are offset by 128 first), so every 8-, 16- and 24-bit value is exact.
void ToFloat(RawSamples layout, const unsigned char* in, std::size_t samples, float* out);

// 8-bit unsigned samples to 16-bit little-endian ones: (b - 128) * 256.
void Widen8To16(const unsigned char* in, std::size_t samples, unsigned char* out);

}  // namespace cli
