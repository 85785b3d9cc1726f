#include "acm/SampleCodec.h"

#include <algorithm>

#include "acm/PcmSamples.h"

namespace acm {

namespace {

class SampleDecoder final : public BlockDecoder {
 public:
  SampleDecoder(const SampleCoding& coding, std::uint32_t channels)
      : coding_(coding), channels_(channels) {}

  bool decodeBlocks(const std::uint8_t* data, std::size_t blocks, std::int16_t* out) override {
    const std::size_t samples = blocks * channels_;
    if (coding_.isFloat) {
      decodeFloatSamples(data, samples, coding_.bits, out);
    } else {
      decodeSamples(data, samples, coding_.bits, out);
    }
    return true;
  }
  // A block is one frame: a short one holds no whole frame.
  std::size_t decodeShortBlock(const std::uint8_t*, std::size_t, std::int16_t*) override {
    return 0;
  }

 private:
  SampleCoding coding_;
  std::uint32_t channels_;
};

bool isFloatBits(std::uint32_t bits) {
  return bits == 32 || bits == 64;
}

}  // namespace

std::optional<SampleCoding> sampleCodingOf(const WaveFormat& format) {
  const std::uint16_t bits = format.header.wBitsPerSample;
  if (format.header.wFormatTag == kWaveFormatIeeeFloat) {
    if (!isFloatBits(bits)) return std::nullopt;
    return SampleCoding{true, bits};
  }
  if (format.header.wFormatTag != kWaveFormatExtensible ||
      format.extra.size() < kExtensibleExtraBytes) {
    return std::nullopt;
  }
  const auto& extra = format.extra;
  // 0 valid bits is what some writers put when all are valid. Fewer valid bits than the
  // container sit at its top, so the container is read as it is.
  const unsigned validBits = extra[kValidBitsOffset] | (extra[kValidBitsOffset + 1] << 8);
  if (validBits > bits) return std::nullopt;
  const auto subFormat = extra.begin() + kSubFormatOffset;
  if (std::equal(kSubFormatPcm.begin(), kSubFormatPcm.end(), subFormat)) {
    if (!isReadablePcmBits(bits)) return std::nullopt;
    return SampleCoding{false, bits};
  }
  if (std::equal(kSubFormatIeeeFloat.begin(), kSubFormatIeeeFloat.end(), subFormat)) {
    if (!isFloatBits(bits)) return std::nullopt;
    return SampleCoding{true, bits};
  }
  return std::nullopt;
}

std::optional<BlockLayout> SampleCodec::layout(const WaveFormat& format) const {
  const ACMWAVEFORMATEX& h = format.header;
  if (h.wFormatTag != tag_ || !sampleCodingOf(format)) return std::nullopt;
  if (h.nBlockAlign == 0 || h.nBlockAlign != h.nChannels * h.wBitsPerSample / 8) {
    return std::nullopt;
  }
  return BlockLayout{h.nBlockAlign, 1, h.nChannels};
}

std::unique_ptr<BlockDecoder> SampleCodec::decoder(const WaveFormat& format,
                                                   const BlockLayout& layout) const {
  const std::optional<SampleCoding> coding = sampleCodingOf(format);
  if (!coding) return nullptr;
  return std::make_unique<SampleDecoder>(*coding, layout.channels);
}

}  // namespace acm
