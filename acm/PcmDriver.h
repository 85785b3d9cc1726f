// The PCM converter: any supported PCM format to any other in one step (bits, channels and rate
// together). It also reads 24- and 32-bit PCM, which it narrows to 16 bits first.
#ifndef QUELBARIN_ACM_PCMDRIVER_H
#define QUELBARIN_ACM_PCMDRIVER_H

#include "acm/Driver.h"

namespace acm {

// Conversion order: decode to 16 bits, stereo → mono, resample, mono → stereo, encode. Mixing
// down before and spreading out after the resampler keeps it on the fewer channels.
class PcmDriver final : public Driver {
 public:
  bool isCodec() const override { return false; }
  std::uint32_t maxFormatBytes() const override { return kFormatHeaderBytes; }

  // Fields the request does not fix are taken from the source; the bits of a 24- or 32-bit
  // source become 16.
  std::optional<WaveFormat> suggest(const WaveFormat& source,
                                    const FormatRequest& request) const override;
  bool canConvert(const WaveFormat& source, const WaveFormat& destination) const override;
  std::unique_ptr<Converter> open(const WaveFormat& source, const WaveFormat& destination,
                                  Quality quality) const override;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_PCMDRIVER_H
