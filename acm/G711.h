// CCITT G.711 A-law (tag 0x0006) and mu-law (tag 0x0007): one byte per sample, decoded to and
// encoded from 16-bit PCM.
#ifndef QUELBARIN_ACM_G711_H
#define QUELBARIN_ACM_G711_H

#include <cstdint>

#include "acm/CodecDriver.h"

namespace acm {

inline constexpr std::uint16_t kWaveFormatALaw = 0x0006;
inline constexpr std::uint16_t kWaveFormatMuLaw = 0x0007;

// The standard expansions: A-law to 13 significant bits, mu-law to 14, both scaled to 16 bits
// (A-law 0xD5 → 8, mu-law 0xFF → 0, mu-law 0x00 → −32124).
std::int16_t aLawToLinear(std::uint8_t code);
std::int16_t muLawToLinear(std::uint8_t code);
// The standard compressions of the sample rounded to 13 (A-law) or 14 (mu-law) bits: the
// segment and step whose interval holds it; clipped at the largest code.
std::uint8_t linearToALaw(std::int16_t sample);
std::uint8_t linearToMuLaw(std::int16_t sample);

// Both laws: blocks are single frames (nBlockAlign = channels, 8 bits per sample).
class G711Codec final : public Codec {
 public:
  explicit G711Codec(std::uint16_t tag) : tag_(tag) {}

  std::uint16_t tag() const override { return tag_; }
  std::uint32_t maxFormatBytes() const override { return kFormatHeaderBytes; }
  std::optional<BlockLayout> layout(const WaveFormat& format) const override;
  std::unique_ptr<BlockDecoder> decoder(const WaveFormat& format,
                                        const BlockLayout& layout) const override;
  std::optional<WaveFormat> encodedFormat(std::uint16_t channels,
                                          std::uint32_t rate) const override;
  bool encodes(const WaveFormat&, const BlockLayout&) const override { return true; }
  std::unique_ptr<BlockEncoder> encoder(const WaveFormat& format,
                                        const BlockLayout& layout) const override;

 private:
  std::uint16_t tag_;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_G711_H
