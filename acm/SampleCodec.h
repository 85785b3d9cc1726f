// Uncompressed samples in records other than plain PCM: IEEE float (tag 0x0003, 32 or 64 bits)
// and the extensible record (tag 0xFFFE) with the PCM sub-format (8, 16, 24 or 32 bits) or the
// float one (32 or 64 bits). Each frame is a block of its own. Decoded to PCM of the same
// channels (1 or 2; speaker positions are not kept) and rate, 16 bits unless 8 are asked for;
// wide and float samples are rounded to nearest and clamped at full scale (PcmSamples.h).
// Decoding only.
#ifndef QUELBARIN_ACM_SAMPLECODEC_H
#define QUELBARIN_ACM_SAMPLECODEC_H

#include <cstdint>
#include <optional>

#include "acm/CodecDriver.h"
#include "acm/ExtensibleFormat.h"

namespace acm {

// How the samples of a record are coded.
struct SampleCoding {
  bool isFloat = false;
  std::uint16_t bits = 0;  // the container: bytes per sample × 8
};

// The coding of a float or extensible record; nullopt for other tags, other sub-formats,
// extensible records shorter than their 22 extra bytes, containers the decoder does not read and
// more valid bits than the container holds. Channels, rate and block size are not checked here.
std::optional<SampleCoding> sampleCodingOf(const WaveFormat& format);

class SampleCodec final : public Codec {
 public:
  // `tag` is kWaveFormatIeeeFloat or kWaveFormatExtensible.
  explicit SampleCodec(std::uint16_t tag) : tag_(tag) {}

  std::uint16_t tag() const override { return tag_; }
  std::uint32_t maxFormatBytes() const override {
    return kFormatHeaderBytes + (tag_ == kWaveFormatExtensible ? kExtensibleExtraBytes : 0);
  }
  // Valid: a coding sampleCodingOf() knows and nBlockAlign = channels × bits / 8.
  std::optional<BlockLayout> layout(const WaveFormat& format) const override;
  std::unique_ptr<BlockDecoder> decoder(const WaveFormat& format,
                                        const BlockLayout& layout) const override;

 private:
  std::uint16_t tag_;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_SAMPLECODEC_H
