#include "acm/PcmDriver.h"

#include <algorithm>

#include "acm/PcmSamples.h"
#include "acm/Resampler.h"

namespace acm {

namespace {

class PcmConverter final : public Converter {
 public:
  PcmConverter(const ACMWAVEFORMATEX& source, const ACMWAVEFORMATEX& destination,
               std::unique_ptr<Resampler> resampler)
      : sourceChannels_(source.nChannels),
        sourceBits_(source.wBitsPerSample),
        sourceAlign_(source.nBlockAlign),
        destinationChannels_(destination.nChannels),
        destinationBits_(destination.wBitsPerSample),
        destinationAlign_(destination.nBlockAlign),
        resampler_(std::move(resampler)) {}

  std::optional<std::uint64_t> destinationBytesFor(std::uint64_t sourceBytes) const override {
    const std::uint64_t frames = sourceBytes / sourceAlign_;
    if (!resampler_) return frames * destinationAlign_;
    return (resampler_->outputFramesFor(frames) + resampler_->maxHeldFrames()) * destinationAlign_;
  }

  std::uint64_t sourceBytesFor(std::uint64_t destinationBytes) const override {
    const std::uint64_t frames = destinationBytes / destinationAlign_;
    if (!resampler_) return frames * sourceAlign_;
    const std::uint64_t held = resampler_->maxHeldFrames();
    if (frames <= held) return 0;
    return resampler_->inputFramesWithin(frames - held) * sourceAlign_;
  }

  void reset() override {
    if (resampler_) resampler_->clear();
  }

  std::optional<std::size_t> convert(std::span<const std::uint8_t> source,
                                     const ConvertOptions& options,
                                     std::vector<std::uint8_t>& out) override {
    // PCM has no partial blocks: only whole frames are converted, with or without blockAlign.
    std::size_t frames = source.size() / sourceAlign_;
    const std::size_t used = frames * sourceAlign_;

    decoded_.resize(frames * sourceChannels_);
    decodeSamples(source.data(), decoded_.size(), sourceBits_, decoded_.data());
    const std::int16_t* samples = decoded_.data();
    unsigned channels = sourceChannels_;

    if (channels == 2 && destinationChannels_ == 1) {
      mixToMono(decoded_.data(), frames, decoded_.data());
      channels = 1;
    }
    if (resampler_) {
      resampled_.clear();
      if (!resampler_->process(samples, frames, resampled_)) return std::nullopt;
      if (options.end && !resampler_->drain(resampled_)) return std::nullopt;
      samples = resampled_.data();
      frames = resampled_.size() / channels;
    }
    if (channels == 1 && destinationChannels_ == 2) {
      spread_.resize(frames * 2);
      duplicateToStereo(samples, frames, spread_.data());
      samples = spread_.data();
    }

    const std::size_t base = out.size();
    out.resize(base + frames * destinationAlign_);
    encodeSamples(samples, frames * destinationChannels_, destinationBits_, out.data() + base);
    return used;
  }

 private:
  unsigned sourceChannels_;
  unsigned sourceBits_;
  std::size_t sourceAlign_;
  unsigned destinationChannels_;
  unsigned destinationBits_;
  std::size_t destinationAlign_;
  std::unique_ptr<Resampler> resampler_;  // null when the rates are equal
  // Working buffers, kept between calls to avoid reallocating.
  std::vector<std::int16_t> decoded_;
  std::vector<std::int16_t> resampled_;
  std::vector<std::int16_t> spread_;
};

}  // namespace

std::optional<WaveFormat> PcmDriver::suggest(const WaveFormat& source,
                                             const FormatRequest& request) const {
  if (!isReadablePcm(source.header)) return std::nullopt;
  const ACMWAVEFORMATEX& wanted = request.wanted;
  if (request.tag && wanted.wFormatTag != WAVE_FORMAT_PCM_TAG) return std::nullopt;
  const std::uint16_t channels = request.channels ? wanted.nChannels : source.header.nChannels;
  const std::uint32_t rate = request.rate ? wanted.nSamplesPerSec : source.header.nSamplesPerSec;
  const std::uint16_t sourceBits = source.header.wBitsPerSample;
  const std::uint16_t bits = request.bits                     ? wanted.wBitsPerSample
                             : isSupportedPcmBits(sourceBits) ? sourceBits
                                                              : 16;
  if (!isSupportedPcmChannels(channels) || !isSupportedRate(rate) || !isSupportedPcmBits(bits)) {
    return std::nullopt;
  }
  return makePcm(channels, rate, bits);
}

bool PcmDriver::canConvert(const WaveFormat& source, const WaveFormat& destination) const {
  return isReadablePcm(source.header) && isSupportedPcm(destination.header);
}

std::unique_ptr<Converter> PcmDriver::open(const WaveFormat& source, const WaveFormat& destination,
                                           Quality quality) const {
  if (!canConvert(source, destination)) return nullptr;
  std::unique_ptr<Resampler> resampler;
  if (source.header.nSamplesPerSec != destination.header.nSamplesPerSec) {
    const unsigned channels = std::min(source.header.nChannels, destination.header.nChannels);
    resampler = Resampler::create(source.header.nSamplesPerSec, destination.header.nSamplesPerSec,
                                  channels, quality);
    if (!resampler) return nullptr;
  }
  return std::make_unique<PcmConverter>(source.header, destination.header, std::move(resampler));
}

}  // namespace acm
