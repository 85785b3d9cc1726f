#include "acm/CodecDriver.h"

#include <algorithm>
#include <vector>

#include "acm/PcmSamples.h"

namespace acm {

namespace {

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
  return (a + b - 1) / b;
}

// Compressed blocks → PCM. Only whole blocks are converted, except that a call with `end` (and
// without block alignment) also decodes what a short last block holds.
class DecodeConverter final : public Converter {
 public:
  DecodeConverter(const BlockLayout& layout, const ACMWAVEFORMATEX& destination,
                  std::unique_ptr<BlockDecoder> decoder)
      : layout_(layout),
        frameBytes_(destination.nBlockAlign),
        bits_(destination.wBitsPerSample),
        decoder_(std::move(decoder)) {}

  std::optional<std::uint64_t> destinationBytesFor(std::uint64_t sourceBytes) const override {
    return ceilDiv(sourceBytes, layout_.blockBytes) * layout_.framesPerBlock * frameBytes_;
  }

  std::uint64_t sourceBytesFor(std::uint64_t destinationBytes) const override {
    return destinationBytes / (std::uint64_t{layout_.framesPerBlock} * frameBytes_) *
           layout_.blockBytes;
  }

  void reset() override { decoder_->reset(); }

  std::optional<std::size_t> convert(std::span<const std::uint8_t> source,
                                     const ConvertOptions& options,
                                     std::vector<std::uint8_t>& out) override {
    const std::size_t blocks = source.size() / layout_.blockBytes;
    std::size_t used = blocks * layout_.blockBytes;
    const std::size_t rest = source.size() - used;
    const bool decodeRest = options.end && !options.blockAlign && rest > 0;

    const std::size_t samplesPerBlock = std::size_t{layout_.framesPerBlock} * layout_.channels;
    decoded_.resize((blocks + (decodeRest ? 1 : 0)) * samplesPerBlock);
    if (blocks > 0 && !decoder_->decodeBlocks(source.data(), blocks, decoded_.data())) {
      return std::nullopt;
    }
    std::size_t samples = blocks * samplesPerBlock;
    if (decodeRest) {
      const std::size_t frames =
          decoder_->decodeShortBlock(source.data() + used, rest, decoded_.data() + samples);
      samples += std::min<std::size_t>(frames, layout_.framesPerBlock) * layout_.channels;
      used = source.size();
    }

    const std::size_t base = out.size();
    out.resize(base + samples * (bits_ / 8));
    encodeSamples(decoded_.data(), samples, bits_, out.data() + base);
    return used;
  }

 private:
  BlockLayout layout_;
  std::uint32_t frameBytes_;
  unsigned bits_;
  std::unique_ptr<BlockDecoder> decoder_;
  std::vector<std::int16_t> decoded_;  // kept between calls to avoid reallocating
};

// PCM → compressed blocks. Frames that do not fill a block wait for the next call; `end` pads
// them with silence to a last whole block.
class EncodeConverter final : public Converter {
 public:
  EncodeConverter(const ACMWAVEFORMATEX& source, const BlockLayout& layout,
                  std::unique_ptr<BlockEncoder> encoder)
      : layout_(layout),
        frameBytes_(source.nBlockAlign),
        bits_(source.wBitsPerSample),
        encoder_(std::move(encoder)) {}

  std::optional<std::uint64_t> destinationBytesFor(std::uint64_t sourceBytes) const override {
    const std::uint64_t frames = sourceBytes / frameBytes_ + maxHeldFrames();
    return ceilDiv(frames, layout_.framesPerBlock) * layout_.blockBytes;
  }

  std::uint64_t sourceBytesFor(std::uint64_t destinationBytes) const override {
    const std::uint64_t frames = destinationBytes / layout_.blockBytes * layout_.framesPerBlock;
    return frames > maxHeldFrames() ? (frames - maxHeldFrames()) * frameBytes_ : 0;
  }

  void reset() override {
    pending_.clear();
    encoder_->reset();
  }

  std::optional<std::size_t> convert(std::span<const std::uint8_t> source,
                                     const ConvertOptions& options,
                                     std::vector<std::uint8_t>& out) override {
    const std::size_t frames = source.size() / frameBytes_;
    const std::size_t held = pending_.size();
    pending_.resize(held + frames * layout_.channels);
    decodeSamples(source.data(), frames * layout_.channels, bits_, pending_.data() + held);

    const std::size_t samplesPerBlock = std::size_t{layout_.framesPerBlock} * layout_.channels;
    if (options.end && pending_.size() % samplesPerBlock != 0) {
      pending_.resize(ceilDiv(pending_.size(), samplesPerBlock) * samplesPerBlock, 0);
    }
    const std::size_t blocks = pending_.size() / samplesPerBlock;
    if (blocks > 0) {
      const std::size_t base = out.size();
      out.resize(base + blocks * layout_.blockBytes);
      encoder_->encodeBlocks(pending_.data(), blocks, out.data() + base);
      pending_.erase(pending_.begin(),
                     pending_.begin() + static_cast<std::ptrdiff_t>(blocks * samplesPerBlock));
    }
    return frames * frameBytes_;
  }

 private:
  std::uint64_t maxHeldFrames() const { return layout_.framesPerBlock - 1; }

  BlockLayout layout_;
  std::uint32_t frameBytes_;
  unsigned bits_;
  std::unique_ptr<BlockEncoder> encoder_;
  std::vector<std::int16_t> pending_;  // frames waiting for a whole block
};

bool sameShape(const WaveFormat& a, const WaveFormat& b) {
  return a.header.nChannels == b.header.nChannels &&
         a.header.nSamplesPerSec == b.header.nSamplesPerSec;
}

}  // namespace

std::optional<BlockLayout> CodecDriver::decodableLayout(const WaveFormat& format) const {
  if (format.header.wFormatTag != codec_.tag()) return std::nullopt;
  if (!isSupportedRate(format.header.nSamplesPerSec)) return std::nullopt;
  const std::optional<BlockLayout> layout = codec_.layout(format);
  if (!layout || layout->blockBytes == 0 || layout->framesPerBlock == 0 ||
      layout->channels != format.header.nChannels || !isSupportedPcmChannels(layout->channels)) {
    return std::nullopt;
  }
  return layout;
}

bool CodecDriver::decodes(const WaveFormat& source, const WaveFormat& destination) const {
  return decodableLayout(source) && isSupportedPcm(destination.header) &&
         sameShape(source, destination);
}

bool CodecDriver::encodesTo(const WaveFormat& source, const WaveFormat& destination) const {
  if (!isSupportedPcm(source.header) || !sameShape(source, destination)) return false;
  const std::optional<BlockLayout> layout = decodableLayout(destination);
  return layout && codec_.encodes(destination, *layout);
}

std::optional<WaveFormat> CodecDriver::suggest(const WaveFormat& source,
                                               const FormatRequest& request) const {
  const ACMWAVEFORMATEX& wanted = request.wanted;
  const std::uint16_t channels = source.header.nChannels;
  const std::uint32_t rate = source.header.nSamplesPerSec;
  if ((request.channels && wanted.nChannels != channels) ||
      (request.rate && wanted.nSamplesPerSec != rate)) {
    return std::nullopt;
  }
  if (decodableLayout(source)) {
    if (request.tag && wanted.wFormatTag != WAVE_FORMAT_PCM_TAG) return std::nullopt;
    const std::uint16_t bits = request.bits ? wanted.wBitsPerSample : 16;
    if (!isSupportedPcmBits(bits)) return std::nullopt;
    return makePcm(channels, rate, bits);
  }
  if (isSupportedPcm(source.header) && request.tag && wanted.wFormatTag == codec_.tag()) {
    std::optional<WaveFormat> encoded = codec_.encodedFormat(channels, rate);
    if (!encoded || (request.bits && wanted.wBitsPerSample != encoded->header.wBitsPerSample)) {
      return std::nullopt;
    }
    return encoded;
  }
  return std::nullopt;
}

bool CodecDriver::canConvert(const WaveFormat& source, const WaveFormat& destination) const {
  return decodes(source, destination) || encodesTo(source, destination);
}

std::unique_ptr<Converter> CodecDriver::open(const WaveFormat& source,
                                             const WaveFormat& destination, Quality) const {
  if (decodes(source, destination)) {
    const BlockLayout layout = *decodableLayout(source);
    std::unique_ptr<BlockDecoder> decoder = codec_.decoder(source, layout);
    if (!decoder) return nullptr;
    return std::make_unique<DecodeConverter>(layout, destination.header, std::move(decoder));
  }
  if (encodesTo(source, destination)) {
    const BlockLayout layout = *decodableLayout(destination);
    std::unique_ptr<BlockEncoder> encoder = codec_.encoder(destination, layout);
    if (!encoder) return nullptr;
    return std::make_unique<EncodeConverter>(source.header, layout, std::move(encoder));
  }
  return nullptr;
}

}  // namespace acm
