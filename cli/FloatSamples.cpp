#include "cli/FloatSamples.h"

#include <cstdint>
#include <cstring>

#include "acm/ExtensibleFormat.h"

namespace cli {

namespace {

std::optional<RawSamples> IntegerLayout(int bits) {
  switch (bits) {
    case 8:
      return RawSamples::kUnsigned8;
    case 16:
      return RawSamples::kSigned16;
    case 24:
      return RawSamples::kSigned24;
    case 32:
      return RawSamples::kSigned32;
    default:
      return std::nullopt;
  }
}

std::optional<RawSamples> FloatLayout(int bits) {
  if (bits == 32) return RawSamples::kFloat32;
  if (bits == 64) return RawSamples::kFloat64;
  return std::nullopt;
}

template <int kBytes>
void IntegersToFloat(const unsigned char* in, std::size_t samples, float* out) {
  constexpr double kScale = 1.0 / static_cast<double>(std::int64_t{1} << (kBytes * 8 - 1));
  for (std::size_t i = 0; i < samples; ++i, in += kBytes) {
    std::uint32_t bits = 0;
    for (int b = 0; b < kBytes; ++b) bits |= std::uint32_t{in[b]} << (8 * b);
    // Sign-extend from the sample's top bit.
    const auto value = static_cast<std::int32_t>(bits << (32 - 8 * kBytes)) >> (32 - 8 * kBytes);
    out[i] = static_cast<float>(value * kScale);
  }
}

}  // namespace

std::optional<RawSamples> RawSamplesOf(const stream::TWaveFormatEx* format) {
  if (format == nullptr) return std::nullopt;
  const int bits = format->wBitsPerSample;
  switch (format->wFormatTag) {
    case stream::WAVE_FORMAT_PCM:
      return IntegerLayout(bits);
    case acm::kWaveFormatIeeeFloat:
      return FloatLayout(bits);
    case acm::kWaveFormatExtensible: {
      if (format->cbSize < acm::kExtensibleExtraBytes) return std::nullopt;
      const auto* extra = reinterpret_cast<const unsigned char*>(format + 1);
      std::uint16_t valid = 0;
      std::memcpy(&valid, extra + acm::kValidBitsOffset, sizeof valid);
      if (valid != bits) return std::nullopt;
      acm::Guid sub{};
      std::memcpy(sub.data(), extra + acm::kSubFormatOffset, sub.size());
      if (sub == acm::kSubFormatPcm) return IntegerLayout(bits);
      if (sub == acm::kSubFormatIeeeFloat) return FloatLayout(bits);
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

int RawSampleBytes(RawSamples layout) {
  switch (layout) {
    case RawSamples::kUnsigned8:
      return 1;
    case RawSamples::kSigned16:
      return 2;
    case RawSamples::kSigned24:
      return 3;
    case RawSamples::kSigned32:
    case RawSamples::kFloat32:
      return 4;
    case RawSamples::kFloat64:
      return 8;
  }
  return 2;
}

void ToFloat(RawSamples layout, const unsigned char* in, std::size_t samples, float* out) {
  switch (layout) {
    case RawSamples::kUnsigned8:
      for (std::size_t i = 0; i < samples; ++i) out[i] = (in[i] - 128) / 128.0f;
      break;
    case RawSamples::kSigned16:
      IntegersToFloat<2>(in, samples, out);
      break;
    case RawSamples::kSigned24:
      IntegersToFloat<3>(in, samples, out);
      break;
    case RawSamples::kSigned32:
      IntegersToFloat<4>(in, samples, out);
      break;
    case RawSamples::kFloat32:
      std::memcpy(out, in, samples * sizeof(float));  // little-endian host
      break;
    case RawSamples::kFloat64:
      for (std::size_t i = 0; i < samples; ++i) {
        double value;
        std::memcpy(&value, in + i * sizeof value, sizeof value);
        out[i] = static_cast<float>(value);
      }
      break;
  }
}

void Widen8To16(const unsigned char* in, std::size_t samples, unsigned char* out) {
  for (std::size_t i = 0; i < samples; ++i) {
    const auto value = static_cast<std::uint16_t>((in[i] - 128) * 256);
    out[2 * i] = static_cast<unsigned char>(value);
    out[2 * i + 1] = static_cast<unsigned char>(value >> 8);
  }
}

}  // namespace cli
