// Microsoft ADPCM (tag 0x0002), decoding only. Each block starts with a header per channel
// (predictor number, adaptive step, the two newest samples), followed by 4-bit codes, high
// nibble first, channels taking turns. The predictor pairs come from the format's extra bytes:
// wSamplesPerBlock, wNumCoef, then wNumCoef pairs of 8.8 fixed-point coefficients.
#ifndef QUELBARIN_ACM_MSADPCM_H
#define QUELBARIN_ACM_MSADPCM_H

#include <cstdint>

#include "acm/CodecDriver.h"

namespace acm {

inline constexpr std::uint16_t kWaveFormatMsAdpcm = 0x0002;
// A block header's predictor number is one byte.
inline constexpr std::uint32_t kMsAdpcmMaxCoefficients = 256;

class MsAdpcmCodec final : public Codec {
 public:
  std::uint16_t tag() const override { return kWaveFormatMsAdpcm; }
  std::uint32_t maxFormatBytes() const override {
    return kFormatHeaderBytes + 4 + 4 * kMsAdpcmMaxCoefficients;
  }
  // Valid: 4 bits per sample, 1 to 256 coefficient pairs all present in the extra bytes, and
  // 2 ≤ wSamplesPerBlock ≤ what nBlockAlign holds.
  std::optional<BlockLayout> layout(const WaveFormat& format) const override;
  std::unique_ptr<BlockDecoder> decoder(const WaveFormat& format,
                                        const BlockLayout& layout) const override;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_MSADPCM_H
