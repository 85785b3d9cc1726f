// GSM 06.10 full rate (tag 0x0031) in the WAV49 framing that WAVE files use: blocks of 65 bytes,
// each two 160-sample frames packed into 33 and 32 bytes. Decoding only, through libgsm. Mono.
#ifndef QUELBARIN_ACM_GSM610_H
#define QUELBARIN_ACM_GSM610_H

#include <cstdint>

#include "acm/CodecDriver.h"

namespace acm {

inline constexpr std::uint16_t kWaveFormatGsm610 = 0x0031;
inline constexpr std::uint32_t kGsmBlockBytes = 65;
inline constexpr std::uint32_t kGsmFramesPerBlock = 320;

class Gsm610Codec final : public Codec {
 public:
  std::uint16_t tag() const override { return kWaveFormatGsm610; }
  std::uint32_t maxFormatBytes() const override { return kFormatHeaderBytes + 2; }
  // Valid: mono, nBlockAlign 65, and wSamplesPerBlock 320 when the extra bytes give it.
  std::optional<BlockLayout> layout(const WaveFormat& format) const override;
  // Null when libgsm cannot make a decoder state.
  std::unique_ptr<BlockDecoder> decoder(const WaveFormat& format,
                                        const BlockLayout& layout) const override;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_GSM610_H
