#include "acm/PcmSamples.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "platform/ByteOrder.h"

namespace acm {

namespace {

// A little-endian word of `bytes` bytes, left-justified in 32 bits (the low bytes zero).
std::int32_t leftJustified(const std::uint8_t* p, unsigned bytes) {
  std::uint32_t word = 0;
  for (unsigned b = 0; b < bytes; ++b) word |= std::uint32_t{p[b]} << (8 * (4 - bytes + b));
  return static_cast<std::int32_t>(word);
}

template <typename Float>
Float readFloat(const std::uint8_t* p) {
  using Bits = std::conditional_t<sizeof(Float) == 4, std::uint32_t, std::uint64_t>;
  Bits word = 0;
  for (std::size_t b = 0; b < sizeof(Float); ++b) word |= Bits{p[b]} << (8 * b);
  Float value;
  std::memcpy(&value, &word, sizeof value);
  return value;
}

}  // namespace

std::int32_t floatToSample32(double x) {
  constexpr double kFullScale = 2147483648.0;  // 2^31
  if (std::isnan(x)) return 0;
  const double scaled = x * kFullScale;
  if (scaled >= kFullScale - 1) return std::numeric_limits<std::int32_t>::max();
  if (scaled <= -kFullScale) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

void decodeSamples(const std::uint8_t* source, std::size_t samples, unsigned bits,
                   std::int16_t* out) {
  if (bits == 8) {
    for (std::size_t i = 0; i < samples; ++i) out[i] = sample8To16(source[i]);
    return;
  }
  if (bits == 24 || bits == 32) {
    const unsigned bytes = bits / 8;
    for (std::size_t i = 0; i < samples; ++i) {
      out[i] = sample32To16(leftJustified(source + i * bytes, bytes));
    }
    return;
  }
  for (std::size_t i = 0; i < samples; ++i) {
    out[i] = static_cast<std::int16_t>(platform::ReadS16(source + 2 * i));
  }
}

void decodeFloatSamples(const std::uint8_t* source, std::size_t samples, unsigned bits,
                        std::int16_t* out) {
  if (bits == 32) {
    for (std::size_t i = 0; i < samples; ++i) {
      out[i] = sample32To16(floatToSample32(readFloat<float>(source + 4 * i)));
    }
    return;
  }
  for (std::size_t i = 0; i < samples; ++i) {
    out[i] = sample32To16(floatToSample32(readFloat<double>(source + 8 * i)));
  }
}

void encodeSamples(const std::int16_t* samples, std::size_t count, unsigned bits,
                   std::uint8_t* out) {
  if (bits == 8) {
    for (std::size_t i = 0; i < count; ++i) out[i] = sample16To8(samples[i]);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) platform::WriteS16(out + 2 * i, samples[i]);
}

void mixToMono(const std::int16_t* stereo, std::size_t frames, std::int16_t* out) {
  for (std::size_t i = 0; i < frames; ++i) {
    const int sum = stereo[2 * i] + stereo[2 * i + 1];
    out[i] = static_cast<std::int16_t>(sum / 2);
  }
}

void duplicateToStereo(const std::int16_t* mono, std::size_t frames, std::int16_t* out) {
  for (std::size_t i = 0; i < frames; ++i) {
    out[2 * i] = mono[i];
    out[2 * i + 1] = mono[i];
  }
}

}  // namespace acm
