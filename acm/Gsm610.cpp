#include "acm/Gsm610.h"

#include <gsm.h>

#include <array>
#include <cstring>

namespace acm {

namespace {

constexpr std::size_t kFirstHalfBytes = 33;
constexpr std::size_t kFrameSamples = 160;

struct GsmDeleter {
  void operator()(gsm_state* state) const { gsm_destroy(state); }
};
using GsmHandle = std::unique_ptr<gsm_state, GsmDeleter>;

// A decoder state in WAV49 mode; null when libgsm has no memory.
GsmHandle makeWav49State() {
  GsmHandle state(gsm_create());
  if (!state) return nullptr;
  int on = 1;
  gsm_option(state.get(), GSM_OPT_WAV49, &on);
  return state;
}

class GsmDecoder final : public BlockDecoder {
 public:
  explicit GsmDecoder(GsmHandle state) : state_(std::move(state)) {}

  bool decodeBlocks(const std::uint8_t* data, std::size_t blocks, std::int16_t* out) override {
    static_assert(sizeof(gsm_signal) == sizeof(std::int16_t));
    for (std::size_t b = 0; b < blocks; ++b) {
      // libgsm takes a non-const pointer; it only reads the block.
      std::memcpy(block_.data(), data + b * kGsmBlockBytes, kGsmBlockBytes);
      gsm_signal* samples = reinterpret_cast<gsm_signal*>(out + b * kGsmFramesPerBlock);
      // The halves must go in order: the state's frame parity says which packing comes next.
      if (gsm_decode(state_.get(), block_.data(), samples) < 0 ||
          gsm_decode(state_.get(), block_.data() + kFirstHalfBytes, samples + kFrameSamples) < 0) {
        return false;
      }
    }
    return true;
  }

  // A short block holds no whole pair of frames.
  std::size_t decodeShortBlock(const std::uint8_t*, std::size_t, std::int16_t*) override {
    return 0;
  }

  void reset() override {
    if (GsmHandle fresh = makeWav49State()) state_ = std::move(fresh);
  }

 private:
  GsmHandle state_;
  std::array<gsm_byte, kGsmBlockBytes> block_{};
};

}  // namespace

std::optional<BlockLayout> Gsm610Codec::layout(const WaveFormat& format) const {
  const ACMWAVEFORMATEX& h = format.header;
  if (h.nChannels != 1 || h.nBlockAlign != kGsmBlockBytes) return std::nullopt;
  if (format.extra.size() >= 2 &&
      (format.extra[0] | (format.extra[1] << 8)) != static_cast<int>(kGsmFramesPerBlock)) {
    return std::nullopt;
  }
  return BlockLayout{kGsmBlockBytes, kGsmFramesPerBlock, 1};
}

std::unique_ptr<BlockDecoder> Gsm610Codec::decoder(const WaveFormat&, const BlockLayout&) const {
  GsmHandle state = makeWav49State();
  if (!state) return nullptr;
  return std::make_unique<GsmDecoder>(std::move(state));
}

}  // namespace acm
