// Integer helpers and the conversions between bytes, samples and milliseconds of a format.
#pragma once

#include <cstdint>

#include "stream/WaveFormat.h"

namespace stream {

inline std::int32_t Max(std::int32_t a, std::int32_t b) {
  return a > b ? a : b;
}
inline std::int32_t Min(std::int32_t a, std::int32_t b) {
  return a < b ? a : b;
}
// lo when v < lo, else the smaller of v and hi.
inline std::int32_t Clamp(std::int32_t v, std::int32_t lo, std::int32_t hi) {
  return v < lo ? lo : Min(v, hi);
}

// a*b/c in 64 bits, rounded to nearest (halves away from zero). 0 when c is 0.
std::int64_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c);

// Counts are 64-bit so that data between 2 GiB and 4 GiB converts without overflow.
std::int64_t BytesToSamples(const TWaveFormatEx& format, std::int64_t bytes);
std::int64_t BytesToMs(const TWaveFormatEx& format, std::int64_t bytes);
std::int64_t SamplesToMs(const TWaveFormatEx& format, std::int64_t samples);
std::int64_t MsToSamples(const TWaveFormatEx& format, std::int64_t ms);
// The next two round up to a whole multiple of nBlockAlign.
std::int64_t SamplesToBytes(const TWaveFormatEx& format, std::int64_t samples);
std::int64_t MsToBytes(const TWaveFormatEx& format, std::int64_t ms);

}  // namespace stream
