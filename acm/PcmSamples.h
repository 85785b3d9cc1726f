// Sample conversions between the PCM layouts and the 16-bit signed working form the drivers use.
#ifndef QUELBARIN_ACM_PCMSAMPLES_H
#define QUELBARIN_ACM_PCMSAMPLES_H

#include <cstddef>
#include <cstdint>
#include <limits>

namespace acm {

// 8-bit unsigned → 16-bit signed: (b − 128) × 256, so 0 → −32768, 128 → 0, 255 → 32512.
inline std::int16_t sample8To16(std::uint8_t b) {
  return static_cast<std::int16_t>((static_cast<int>(b) - 128) * 256);
}

// 16-bit signed → 8-bit unsigned: divide by 256 rounding toward zero, then add 128. This is the
// application's own bit conversion, so both paths give the same bytes (−1 → 128, −256 → 127,
// −32768 → 0, 32767 → 255). Since 8 → 16 → 8 is lossless, no rounding bias can build up there.
inline std::uint8_t sample16To8(std::int16_t s) {
  const int v = s;
  return static_cast<std::uint8_t>(((v + (v < 0 ? 255 : 0)) >> 8) + 128);
}

// 32-bit signed → 16-bit: rounded to nearest with halves upwards, clamped at 32767, no dither:
// (v + 32768) >> 16, so 0x8000 → 1 and −0x8000 → 0. A 24-bit sample is narrowed as v × 256.
// These are the samples sox writes when it narrows without dither.
inline std::int16_t sample32To16(std::int32_t v) {
  constexpr std::int32_t kLastUnclipped = std::numeric_limits<std::int32_t>::max() - 0x8000;
  if (v > kLastUnclipped) return std::numeric_limits<std::int16_t>::max();
  return static_cast<std::int16_t>((v + 0x8000) >> 16);
}

// IEEE float → 32-bit signed: x × 2^31 rounded to nearest with halves away from zero, clamped
// to the 32-bit range (so ±1.0 and beyond are full scale); NaN gives 0. Float samples reach 16
// bits through this and sample32To16, as a 32-bit integer file holding them would.
std::int32_t floatToSample32(double x);

// Reads `samples` little-endian integer samples of `bits` (8, 16, 24 or 32) into 16-bit form;
// 24 and 32 bits are narrowed by sample32To16.
void decodeSamples(const std::uint8_t* source, std::size_t samples, unsigned bits,
                   std::int16_t* out);
// Reads `samples` little-endian IEEE float samples of `bits` (32 or 64) into 16-bit form.
void decodeFloatSamples(const std::uint8_t* source, std::size_t samples, unsigned bits,
                        std::int16_t* out);
// Writes `samples` 16-bit samples as little-endian samples of `bits` (8 or 16).
void encodeSamples(const std::int16_t* samples, std::size_t count, unsigned bits,
                   std::uint8_t* out);

// Stereo → mono: the mean of left and right, truncated toward zero (symmetric about 0).
// `out` may be `stereo` itself.
void mixToMono(const std::int16_t* stereo, std::size_t frames, std::int16_t* out);
// Mono → stereo: each sample goes to both channels. `out` must not overlap `mono`.
void duplicateToStereo(const std::int16_t* mono, std::size_t frames, std::int16_t* out);

}  // namespace acm

#endif  // QUELBARIN_ACM_PCMSAMPLES_H
