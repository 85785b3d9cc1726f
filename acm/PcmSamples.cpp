#include "acm/PcmSamples.h"

namespace acm {

void decodeSamples(const std::uint8_t* source, std::size_t samples, unsigned bits,
                   std::int16_t* out) {
  if (bits == 8) {
    for (std::size_t i = 0; i < samples; ++i) out[i] = sample8To16(source[i]);
    return;
  }
  for (std::size_t i = 0; i < samples; ++i) {
    const auto low = static_cast<std::uint16_t>(source[2 * i]);
    const auto high = static_cast<std::uint16_t>(source[2 * i + 1]);
    out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
  }
}

void encodeSamples(const std::int16_t* samples, std::size_t count, unsigned bits,
                   std::uint8_t* out) {
  if (bits == 8) {
    for (std::size_t i = 0; i < count; ++i) out[i] = sample16To8(samples[i]);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const auto word = static_cast<std::uint16_t>(samples[i]);
    out[2 * i] = static_cast<std::uint8_t>(word & 0xFF);
    out[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
  }
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
