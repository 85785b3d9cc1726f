#include "acm/MsAdpcm.h"

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

#include "platform/ByteOrder.h"

namespace acm {

namespace {

constexpr std::array<int, 16> kAdaptation = {230, 230, 230, 230, 307, 409, 512, 614,
                                             768, 614, 512, 409, 307, 230, 230, 230};
constexpr int kMinDelta = 16;
// Keeps the step's growth (×3 at most per code) within int; real streams never come near it.
constexpr int kMaxDelta = INT_MAX / 768;
constexpr std::uint32_t kHeaderBytes = 7;  // per channel

struct Coefficients {
  int first = 0;
  int second = 0;
};

class MsAdpcmDecoder final : public SelfContainedBlockDecoder {
 public:
  MsAdpcmDecoder(const BlockLayout& layout, std::vector<Coefficients> coefficients)
      : SelfContainedBlockDecoder(layout), coefficients_(std::move(coefficients)) {}

 private:
  struct Channel {
    Coefficients coefficients;
    int delta = 0;
    int newest = 0;
    int older = 0;
  };

  // The two header samples and one per whole code of every channel.
  std::size_t framesInShortBlock(std::size_t bytes) const override {
    const std::size_t headers = std::size_t{kHeaderBytes} * layout_.channels;
    if (bytes < headers) return 0;
    return 2 + (bytes - headers) * 2 / layout_.channels;
  }

  void decodeBlock(const std::uint8_t* data, std::uint32_t frames,
                   std::int16_t* out) const override {
    const std::uint32_t channels = layout_.channels;
    std::array<Channel, 2> state{};
    for (std::uint32_t c = 0; c < channels; ++c) {
      // A predictor number beyond the table is read as the first pair, so a damaged header
      // spoils one block only.
      const std::uint8_t predictor = data[c];
      state[c].coefficients = coefficients_[predictor < coefficients_.size() ? predictor : 0];
      state[c].delta = platform::ReadS16(data + channels + 2 * c);
      state[c].newest = platform::ReadS16(data + 3 * channels + 2 * c);
      state[c].older = platform::ReadS16(data + 5 * channels + 2 * c);
      // The older sample comes first in time.
      out[c] = static_cast<std::int16_t>(state[c].older);
      if (frames > 1) out[channels + c] = static_cast<std::int16_t>(state[c].newest);
    }
    // Two codes per byte, high nibble first; in stereo the high one is left, the low one right.
    const std::uint8_t* codes = data + kHeaderBytes * channels;
    const std::size_t total = frames > 2 ? std::size_t{frames - 2} * channels : 0;
    std::int16_t* target = out + 2 * channels;
    Channel& second = state[channels - 1];
    std::size_t n = 0;
    for (; n + 1 < total; n += 2) {
      const std::uint8_t byte = codes[n / 2];
      target[n] = expand(state[0], byte >> 4);
      target[n + 1] = expand(second, byte & 0x0F);
    }
    if (n < total) target[n] = expand(state[0], codes[n / 2] >> 4);
  }

  static std::int16_t expand(Channel& ch, unsigned code) {
    // 64 bits: two full-range products of custom coefficients overflow 32.
    const auto predicted = static_cast<int>((std::int64_t{ch.newest} * ch.coefficients.first +
                                             std::int64_t{ch.older} * ch.coefficients.second) >>
                                            8);
    const int signedCode = static_cast<int>(code) - ((code & 8) != 0 ? 16 : 0);
    const int sample = std::clamp(predicted + signedCode * ch.delta, -32768, 32767);
    ch.delta = std::clamp((kAdaptation[code] * ch.delta) >> 8, kMinDelta, kMaxDelta);
    ch.older = ch.newest;
    ch.newest = sample;
    return static_cast<std::int16_t>(sample);
  }

  std::vector<Coefficients> coefficients_;
};

}  // namespace

std::optional<BlockLayout> MsAdpcmCodec::layout(const WaveFormat& format) const {
  const ACMWAVEFORMATEX& h = format.header;
  const std::vector<std::uint8_t>& extra = format.extra;
  if (h.wBitsPerSample != 4 || h.nChannels == 0 || h.nChannels > 2 || extra.size() < 4) {
    return std::nullopt;
  }
  const std::uint32_t channels = h.nChannels;
  const std::uint32_t frames = extra[0] | (extra[1] << 8);
  const std::uint32_t pairs = extra[2] | (extra[3] << 8);
  if (pairs == 0 || pairs > kMsAdpcmMaxCoefficients || extra.size() < 4 + 4 * pairs) {
    return std::nullopt;
  }
  if (h.nBlockAlign < kHeaderBytes * channels) return std::nullopt;
  const std::uint32_t most = (h.nBlockAlign - kHeaderBytes * channels) * 2 / channels + 2;
  if (frames < 2 || frames > most) return std::nullopt;
  return BlockLayout{h.nBlockAlign, frames, channels};
}

std::unique_ptr<BlockDecoder> MsAdpcmCodec::decoder(const WaveFormat& format,
                                                    const BlockLayout& layout) const {
  const std::vector<std::uint8_t>& extra = format.extra;
  const std::uint32_t pairs = extra[2] | (extra[3] << 8);
  std::vector<Coefficients> coefficients(pairs);
  for (std::uint32_t i = 0; i < pairs; ++i) {
    coefficients[i].first = platform::ReadS16(&extra[4 + 4 * i]);
    coefficients[i].second = platform::ReadS16(&extra[6 + 4 * i]);
  }
  return std::make_unique<MsAdpcmDecoder>(layout, std::move(coefficients));
}

}  // namespace acm
