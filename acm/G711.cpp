#include "acm/G711.h"

#include <algorithm>
#include <array>

namespace acm {

namespace {

constexpr int kSignBit = 0x80;
constexpr int kQuantMask = 0x0F;
constexpr int kSegmentShift = 4;
constexpr int kSegmentMask = 0x70;
constexpr int kMuLawBias = 0x84;
constexpr int kMuLawClip = 8159;  // the largest 14-bit magnitude before the bias

// The upper ends of the eight segments, in 13-bit (A-law) and 14-bit (mu-law) magnitudes.
constexpr std::array<int, 8> kALawSegmentEnds = {0x1F,  0x3F,  0x7F,  0xFF,
                                                 0x1FF, 0x3FF, 0x7FF, 0xFFF};
constexpr std::array<int, 8> kMuLawSegmentEnds = {0x3F,  0x7F,  0xFF,  0x1FF,
                                                  0x3FF, 0x7FF, 0xFFF, 0x1FFF};

int segmentOf(int magnitude, const std::array<int, 8>& ends) {
  int segment = 0;
  while (segment < 8 && magnitude > ends[segment]) ++segment;
  return segment;
}

template <std::int16_t (*Expand)(std::uint8_t)>
const std::array<std::int16_t, 256>& expansionTable() {
  static const std::array<std::int16_t, 256> table = [] {
    std::array<std::int16_t, 256> t{};
    for (int code = 0; code < 256; ++code) t[code] = Expand(static_cast<std::uint8_t>(code));
    return t;
  }();
  return table;
}

class G711Decoder final : public BlockDecoder {
 public:
  G711Decoder(const std::array<std::int16_t, 256>& table, std::uint32_t channels)
      : table_(table), channels_(channels) {}

  bool decodeBlocks(const std::uint8_t* data, std::size_t blocks, std::int16_t* out) override {
    for (std::size_t i = 0, n = blocks * channels_; i < n; ++i) out[i] = table_[data[i]];
    return true;
  }
  // A block is one frame: a short one holds no whole frame.
  std::size_t decodeShortBlock(const std::uint8_t*, std::size_t, std::int16_t*) override {
    return 0;
  }

 private:
  const std::array<std::int16_t, 256>& table_;
  std::uint32_t channels_;
};

template <std::uint8_t (*Compress)(std::int16_t)>
class G711Encoder final : public BlockEncoder {
 public:
  explicit G711Encoder(std::uint32_t channels) : channels_(channels) {}

  void encodeBlocks(const std::int16_t* frames, std::size_t blocks, std::uint8_t* out) override {
    for (std::size_t i = 0, n = blocks * channels_; i < n; ++i) out[i] = Compress(frames[i]);
  }

 private:
  std::uint32_t channels_;
};

}  // namespace

std::int16_t aLawToLinear(std::uint8_t code) {
  const int value = code ^ 0x55;
  int magnitude = (value & kQuantMask) << 4;
  const int segment = (value & kSegmentMask) >> kSegmentShift;
  if (segment == 0) {
    magnitude += 8;
  } else {
    magnitude = (magnitude + 0x108) << (segment - 1);
  }
  return static_cast<std::int16_t>((value & kSignBit) != 0 ? magnitude : -magnitude);
}

std::int16_t muLawToLinear(std::uint8_t code) {
  const int value = ~code & 0xFF;
  const int magnitude = (((value & kQuantMask) << 3) + kMuLawBias)
                        << ((value & kSegmentMask) >> kSegmentShift);
  return static_cast<std::int16_t>((value & kSignBit) != 0 ? kMuLawBias - magnitude
                                                           : magnitude - kMuLawBias);
}

std::uint8_t linearToALaw(std::int16_t sample) {
  int value = std::min((sample + 4) >> 3, 4095);
  int mask = 0xD5;
  if (value < 0) {
    mask = 0x55;
    value = -value - 1;
  }
  const int segment = segmentOf(value, kALawSegmentEnds);
  if (segment >= 8) return static_cast<std::uint8_t>(0x7F ^ mask);
  const int step = (segment < 2) ? (value >> 1) : (value >> segment);
  return static_cast<std::uint8_t>(((segment << kSegmentShift) | (step & kQuantMask)) ^ mask);
}

std::uint8_t linearToMuLaw(std::int16_t sample) {
  int value = std::min((sample + 2) >> 2, 8191);
  int mask = 0xFF;
  if (value < 0) {
    value = -value;
    mask = 0x7F;
  }
  value = std::min(value, kMuLawClip) + (kMuLawBias >> 2);
  const int segment = segmentOf(value, kMuLawSegmentEnds);
  if (segment >= 8) return static_cast<std::uint8_t>(0x7F ^ mask);
  const int step = (value >> (segment + 1)) & kQuantMask;
  return static_cast<std::uint8_t>(((segment << kSegmentShift) | step) ^ mask);
}

std::optional<BlockLayout> G711Codec::layout(const WaveFormat& format) const {
  const ACMWAVEFORMATEX& h = format.header;
  if (h.wBitsPerSample != 8 || h.nBlockAlign != h.nChannels) return std::nullopt;
  return BlockLayout{h.nBlockAlign, 1, h.nChannels};
}

std::unique_ptr<BlockDecoder> G711Codec::decoder(const WaveFormat&,
                                                 const BlockLayout& layout) const {
  const auto& table =
      tag_ == kWaveFormatALaw ? expansionTable<aLawToLinear>() : expansionTable<muLawToLinear>();
  return std::make_unique<G711Decoder>(table, layout.channels);
}

std::optional<WaveFormat> G711Codec::encodedFormat(std::uint16_t channels,
                                                   std::uint32_t rate) const {
  WaveFormat format;
  format.header.wFormatTag = tag_;
  format.header.nChannels = channels;
  format.header.nSamplesPerSec = rate;
  format.header.nBlockAlign = channels;
  format.header.nAvgBytesPerSec = rate * channels;
  format.header.wBitsPerSample = 8;
  return format;
}

std::unique_ptr<BlockEncoder> G711Codec::encoder(const WaveFormat&,
                                                 const BlockLayout& layout) const {
  if (tag_ == kWaveFormatALaw) return std::make_unique<G711Encoder<linearToALaw>>(layout.channels);
  return std::make_unique<G711Encoder<linearToMuLaw>>(layout.channels);
}

}  // namespace acm
