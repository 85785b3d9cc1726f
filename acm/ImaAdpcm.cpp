#include "acm/ImaAdpcm.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/ByteOrder.h"

namespace acm {

namespace {

constexpr std::array<int, 89> kStepSizes = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 16> kIndexSteps = {-1, -1, -1, -1, 2, 4, 6, 8,
                                             -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kMaxIndex = static_cast<int>(kStepSizes.size()) - 1;
constexpr std::uint32_t kHeaderBytes = 4;  // per channel
constexpr std::uint32_t kWordBytes = 4;    // 8 samples of one channel
constexpr std::uint32_t kSamplesPerWord = 8;

std::int16_t clamp16(int value) {
  return static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
}

// One channel's predictor and step index.
struct ImaState {
  int predictor = 0;
  int index = 0;

  std::int16_t expand(unsigned nibble) {
    const int step = kStepSizes[index];
    int difference = step >> 3;
    if ((nibble & 4) != 0) difference += step;
    if ((nibble & 2) != 0) difference += step >> 1;
    if ((nibble & 1) != 0) difference += step >> 2;
    predictor = clamp16((nibble & 8) != 0 ? predictor - difference : predictor + difference);
    index = std::clamp(index + kIndexSteps[nibble], 0, kMaxIndex);
    return static_cast<std::int16_t>(predictor);
  }

  // The nibble whose expansion comes closest below the difference to `sample`, applied.
  unsigned compress(int sample) {
    int difference = sample - predictor;
    unsigned nibble = 0;
    if (difference < 0) {
      nibble = 8;
      difference = -difference;
    }
    int step = kStepSizes[index];
    for (unsigned bit = 4; bit != 0; bit >>= 1) {
      if (difference >= step) {
        nibble |= bit;
        difference -= step;
      }
      step >>= 1;
    }
    expand(nibble);
    return nibble;
  }
};

class ImaDecoder final : public SelfContainedBlockDecoder {
 public:
  using SelfContainedBlockDecoder::SelfContainedBlockDecoder;

 private:
  // The header sample and 8 per whole word of every channel.
  std::size_t framesInShortBlock(std::size_t bytes) const override {
    const std::size_t headers = std::size_t{kHeaderBytes} * layout_.channels;
    if (bytes < headers) return 0;
    return 1 + (bytes - headers) / (std::size_t{kWordBytes} * layout_.channels) * kSamplesPerWord;
  }

  void decodeBlock(const std::uint8_t* data, std::uint32_t frames,
                   std::int16_t* out) const override {
    const std::uint32_t channels = layout_.channels;
    const std::uint8_t* words = data + kHeaderBytes * channels;
    for (std::uint32_t c = 0; c < channels; ++c) {
      ImaState state;
      state.predictor = platform::ReadS16(data + kHeaderBytes * c);
      // A step index out of range is read as 0, so a damaged header spoils one block only.
      state.index = data[kHeaderBytes * c + 2] <= kMaxIndex ? data[kHeaderBytes * c + 2] : 0;
      out[c] = static_cast<std::int16_t>(state.predictor);
      // Word w of this channel holds frames 1 + 8w .. 8 + 8w, low nibble first.
      std::int16_t* target = out + channels + c;
      const std::uint32_t coded = frames - 1;
      for (std::uint32_t k = 0; k < coded; k += kSamplesPerWord) {
        const std::uint8_t* word = words + (k / kSamplesPerWord * channels + c) * kWordBytes;
        const std::uint32_t inWord = std::min(kSamplesPerWord, coded - k);
        for (std::uint32_t j = 0; j < inWord; ++j) {
          const unsigned nibble = (j % 2 == 0) ? (word[j / 2] & 0x0F) : (word[j / 2] >> 4);
          *target = state.expand(nibble);
          target += channels;
        }
      }
    }
  }
};

class ImaEncoder final : public BlockEncoder {
 public:
  explicit ImaEncoder(const BlockLayout& layout) : layout_(layout), indexes_(layout.channels, 0) {}

  void encodeBlocks(const std::int16_t* frames, std::size_t blocks, std::uint8_t* out) override {
    for (std::size_t b = 0; b < blocks; ++b) {
      encodeBlock(frames, out);
      frames += std::size_t{layout_.framesPerBlock} * layout_.channels;
      out += layout_.blockBytes;
    }
  }

  void reset() override { std::fill(indexes_.begin(), indexes_.end(), 0); }

 private:
  void encodeBlock(const std::int16_t* frames, std::uint8_t* out) {
    const std::uint32_t channels = layout_.channels;
    std::uint8_t* words = out + kHeaderBytes * channels;
    std::fill(words, out + layout_.blockBytes, 0);
    for (std::uint32_t c = 0; c < channels; ++c) {
      // The step index carries over from the previous block, so the next one starts adapted.
      ImaState state;
      state.predictor = frames[c];
      state.index = indexes_[c];
      const auto first = static_cast<std::uint16_t>(frames[c]);
      out[kHeaderBytes * c] = static_cast<std::uint8_t>(first & 0xFF);
      out[kHeaderBytes * c + 1] = static_cast<std::uint8_t>(first >> 8);
      out[kHeaderBytes * c + 2] = static_cast<std::uint8_t>(state.index);
      out[kHeaderBytes * c + 3] = 0;
      for (std::uint32_t i = 1; i < layout_.framesPerBlock; ++i) {
        const std::uint32_t k = i - 1;
        const unsigned nibble = state.compress(frames[std::size_t{i} * channels + c]);
        std::uint8_t& byte =
            words[(k / kSamplesPerWord * channels + c) * kWordBytes + (k % kSamplesPerWord) / 2];
        byte |= static_cast<std::uint8_t>(k % 2 == 0 ? nibble : nibble << 4);
      }
      indexes_[c] = state.index;
    }
  }

  BlockLayout layout_;
  std::vector<int> indexes_;
};

}  // namespace

std::uint32_t imaFramesPerBlock(std::uint32_t blockBytes, std::uint32_t channels) {
  if (channels == 0 || blockBytes <= kHeaderBytes * channels) return 0;
  return (blockBytes - kHeaderBytes * channels) / (kWordBytes * channels) * kSamplesPerWord + 1;
}

std::optional<BlockLayout> ImaAdpcmCodec::layout(const WaveFormat& format) const {
  const ACMWAVEFORMATEX& h = format.header;
  if (h.wBitsPerSample != 4 || h.nChannels == 0) return std::nullopt;
  const std::uint32_t channels = h.nChannels;
  if (h.nBlockAlign % (kWordBytes * channels) != 0) return std::nullopt;
  const std::uint32_t most = imaFramesPerBlock(h.nBlockAlign, channels);
  if (most < 2) return std::nullopt;
  std::uint32_t frames = most;
  if (format.extra.size() >= 2) {
    frames = format.extra[0] | (format.extra[1] << 8);
    if (frames == 0 || frames > most) return std::nullopt;
  }
  return BlockLayout{h.nBlockAlign, frames, channels};
}

std::unique_ptr<BlockDecoder> ImaAdpcmCodec::decoder(const WaveFormat&,
                                                     const BlockLayout& layout) const {
  return std::make_unique<ImaDecoder>(layout);
}

std::optional<WaveFormat> ImaAdpcmCodec::encodedFormat(std::uint16_t channels,
                                                       std::uint32_t rate) const {
  const std::uint32_t scale = std::max<std::uint32_t>(1, rate / 11025);
  const std::uint32_t blockBytes = 256 * channels * scale;
  const std::uint32_t frames = imaFramesPerBlock(blockBytes, channels);
  WaveFormat format;
  format.header.wFormatTag = kWaveFormatImaAdpcm;
  format.header.nChannels = channels;
  format.header.nSamplesPerSec = rate;
  format.header.nBlockAlign = static_cast<std::uint16_t>(blockBytes);
  format.header.nAvgBytesPerSec =
      static_cast<std::uint32_t>((std::uint64_t{rate} * blockBytes + frames / 2) / frames);
  format.header.wBitsPerSample = 4;
  format.extra = {static_cast<std::uint8_t>(frames & 0xFF), static_cast<std::uint8_t>(frames >> 8)};
  return format;
}

bool ImaAdpcmCodec::encodes(const WaveFormat& format, const BlockLayout& layout) const {
  return layout.framesPerBlock == imaFramesPerBlock(format.header.nBlockAlign, layout.channels);
}

std::unique_ptr<BlockEncoder> ImaAdpcmCodec::encoder(const WaveFormat&,
                                                     const BlockLayout& layout) const {
  return std::make_unique<ImaEncoder>(layout);
}

}  // namespace acm
