#include "cli/Quantizer.h"

#include <cstring>

namespace cli {

namespace {

// splitmix64: a well-mixed 64-bit value for each input, so that the noise of sample n is a
// function of the seed and n alone.
std::uint64_t Mix(std::uint64_t x) {
  std::uint64_t z = x + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

constexpr double kTwoToMinus32 = 1.0 / 4294967296.0;

}  // namespace

Quantizer::Quantizer(OutputDepth depth, double gain, bool dither, std::uint64_t seed)
    : depth_(depth),
      gain_(gain),
      scale_(gain * static_cast<double>(std::int64_t{1} << (BitsPerSample(depth) - 1))),
      dither_(dither && depth == OutputDepth::k16),
      seed_(Mix(seed)) {}

void Quantizer::Convert(const float* in, std::size_t samples, unsigned char* out) {
  switch (depth_) {
    case OutputDepth::k16:
      if (dither_)
        ConvertInteger<2, true>(in, samples, out);
      else
        ConvertInteger<2, false>(in, samples, out);
      break;
    case OutputDepth::k24:
      ConvertInteger<3, false>(in, samples, out);
      break;
    case OutputDepth::k32:
      ConvertInteger<4, false>(in, samples, out);
      break;
    case OutputDepth::k32Float:
      ConvertFloat(in, samples, out);
      break;
  }
}

template <int kBytes, bool kDither>
void Quantizer::ConvertInteger(const float* in, std::size_t samples, unsigned char* out) {
  constexpr std::int64_t kMax = (std::int64_t{1} << (kBytes * 8 - 1)) - 1;
  constexpr std::int64_t kMin = -kMax - 1;
  // A value rounds into the range exactly when it lies strictly between these.
  constexpr double kUpper = static_cast<double>(kMax) + 0.5;
  constexpr double kLower = static_cast<double>(kMin) - 0.5;
  const double scale = scale_;
  std::int64_t clipped = 0;
  for (std::size_t i = 0; i < samples; ++i) {
    double x = static_cast<double>(in[i]) * scale;
    if constexpr (kDither) x += NextDither();
    std::int64_t value;
    if (x > kLower && x < kUpper) {
      value = static_cast<std::int64_t>(x >= 0.0 ? x + 0.5 : x - 0.5);
    } else if (x >= kUpper) {
      value = kMax;
      ++clipped;
    } else if (x <= kLower) {
      value = kMin;
      ++clipped;
    } else {
      value = 0;  // NaN
    }
    const auto bits = static_cast<std::uint32_t>(value);
    for (int b = 0; b < kBytes; ++b) out[b] = static_cast<unsigned char>(bits >> (8 * b));
    out += kBytes;
  }
  clipped_ += clipped;
}

void Quantizer::ConvertFloat(const float* in, std::size_t samples, unsigned char* out) const {
  const double gain = gain_;
  for (std::size_t i = 0; i < samples; ++i) {
    const auto value = static_cast<float>(static_cast<double>(in[i]) * gain);
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    for (int b = 0; b < 4; ++b) out[b] = static_cast<unsigned char>(bits >> (8 * b));
    out += 4;
  }
}

double Quantizer::NextDither() {
  // One mixed value per sample gives the two 32-bit uniform values.
  const std::uint64_t r = Mix(seed_ ^ position_++);
  const auto a = static_cast<double>(r >> 32);
  const auto b = static_cast<double>(r & 0xFFFFFFFFull);
  return (a + b) * kTwoToMinus32 - 1.0;
}

}  // namespace cli
