// IMA ADPCM (tag 0x0011), 4 bits per sample, as laid out in WAVE files: each block starts with
// one 4-byte header per channel (the first sample and the step index), followed by the other
// samples in 4-byte words, 8 samples of one channel per word, channels taking turns, low nibble
// first. Decoded to and encoded from 16-bit PCM.
#ifndef QUELBARIN_ACM_IMAADPCM_H
#define QUELBARIN_ACM_IMAADPCM_H

#include <cstdint>

#include "acm/CodecDriver.h"

namespace acm {

inline constexpr std::uint16_t kWaveFormatImaAdpcm = 0x0011;

// The frames a block of `blockBytes` holds at most: the header sample plus 8 per word.
std::uint32_t imaFramesPerBlock(std::uint32_t blockBytes, std::uint32_t channels);

class ImaAdpcmCodec final : public Codec {
 public:
  std::uint16_t tag() const override { return kWaveFormatImaAdpcm; }
  std::uint32_t maxFormatBytes() const override { return kFormatHeaderBytes + 2; }
  // nBlockAlign must be a whole number of words per channel after the headers; the extra bytes,
  // when present, give wSamplesPerBlock, which may not exceed what a block holds.
  std::optional<BlockLayout> layout(const WaveFormat& format) const override;
  std::unique_ptr<BlockDecoder> decoder(const WaveFormat& format,
                                        const BlockLayout& layout) const override;
  // Blocks of 256 bytes per channel, doubled for each doubling of the rate above 11025 Hz.
  std::optional<WaveFormat> encodedFormat(std::uint16_t channels,
                                          std::uint32_t rate) const override;
  // Only blocks the decoder reads completely: wSamplesPerBlock equal to what a block holds.
  bool encodes(const WaveFormat& format, const BlockLayout& layout) const override;
  std::unique_ptr<BlockEncoder> encoder(const WaveFormat& format,
                                        const BlockLayout& layout) const override;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_IMAADPCM_H
