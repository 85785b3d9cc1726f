// Sample conversions between the PCM layouts and the 16-bit signed working form the drivers use.
#ifndef QUELBARIN_ACM_PCMSAMPLES_H
#define QUELBARIN_ACM_PCMSAMPLES_H

#include <cstddef>
#include <cstdint>

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

// Reads `samples` little-endian samples of `bits` (8 or 16) into 16-bit form.
void decodeSamples(const std::uint8_t* source, std::size_t samples, unsigned bits,
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
