#include "cli/MpegSource.h"

#include <algorithm>

#include "cli/LibraryMessages.h"
#include "cli/SegmentedDecode.h"
#include "sources/Mpeg.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

// Decoder reads: whole sample frames of every format fit (16384 float samples).
constexpr std::int32_t kReadBytes = 65536;
// The slack of the length from the time: a second for its rounding and one frame.
constexpr std::int64_t kSlackMs = 1000;
constexpr std::int64_t kSlackFrames = 1152;

std::int32_t DecoderFormat(const DecodePass& pass) {
  return pass.form == SampleForm::kFloat ? MPEG_SAMPLES_FLOAT32 : DecoderSampleFormat(pass.depth);
}

int DecodedBytesPerSample(const DecodePass& pass) {
  return pass.form == SampleForm::kFloat ? 4 : BytesPerSample(pass.depth);
}

}  // namespace

MpegSource::MpegSource() = default;
MpegSource::~MpegSource() = default;

bool MpegSource::Bind(const fs::path& source) {
  // A missing or old module is the WAVE reader's to report; here it only means "not this way".
  LibraryMessageCapture quiet;
  try {
    decoder_ = std::make_unique<sources::TMMMpeg>();
    if (sources::Mpeg().SetSampleFormat == nullptr) return false;  // a module before version 21
    decoder_->SetFileName(source.native());
    if (decoder_->IsEmpty() || decoder_->PCMFormat() == nullptr) return false;
  } catch (const std::exception&) {
    decoder_.reset();
    return false;
  }
  source_ = source;
  channels_ = decoder_->PCMFormat()->nChannels;
  rate_ = static_cast<int>(decoder_->PCMFormat()->nSamplesPerSec);
  lengthMs_ = decoder_->Time();
  return channels_ > 0 && rate_ > 0;
}

std::uint64_t MpegSource::MaxFrames() const {
  return static_cast<std::uint64_t>(lengthMs_ + kSlackMs) * rate_ / 1000 + kSlackFrames;
}

std::vector<SourceSegment> MpegSource::Plan(unsigned max, std::int64_t minFrames, SampleForm,
                                            OutputDepth) {
  if (max <= 1 || sources::Mpeg().PlanSegments == nullptr) return {};
  const std::vector<TMpegSegment> segments =
      decoder_->PlanSegments(static_cast<std::int32_t>(max), minFrames);
  if (segments.size() <= 1) return {};
  std::vector<SourceSegment> plan;
  for (const TMpegSegment& s : segments) {
    plan.push_back({s.FirstSample, s.Samples, planned_.size()});
    planned_.push_back(s);
  }
  return plan;
}

sources::TMMMpeg& MpegSource::Decoder(std::size_t w) {
  if (w == 0) return *decoder_;
  return *helpers_[w - 1];
}

DecodeStatus MpegSource::Decode(DecodePass& pass, const std::atomic<bool>* cancel) {
  // Binding the helpers' decoders walks the file: done here, before the threads start.
  while (helpers_.size() + 1 < PassWorkers(pass)) {
    helpers_.push_back(std::make_unique<sources::TMMMpeg>());
    helpers_.back()->SetFileName(source_.native());
  }
  const std::int32_t format = DecoderFormat(pass);
  const int bytesPerSample = DecodedBytesPerSample(pass);
  const bool segmented = !pass.segments.empty();
  std::vector<std::vector<unsigned char>> buffers(PassWorkers(pass));
  const auto segment = [&](std::size_t w, std::size_t i,
                           const std::atomic<bool>& stop) -> DecodeStatus {
    sources::TMMMpeg& decoder = Decoder(w);
    std::vector<unsigned char>& buffer = buffers[w];
    buffer.resize(kReadBytes);
    decoder.SetSampleFormat(format);
    std::int64_t sample = 0;
    std::int64_t expected = -1;
    if (segmented) {
      const SourceSegment& s = pass.segments[i];
      decoder.OpenSegment(planned_.at(s.id));
      sample = s.firstFrame * channels_;
      expected = sample + s.frames * channels_;
    } else {
      decoder.OpenFile();
    }
    const auto stopped = [&] { return stop || (cancel != nullptr && cancel->load()); };
    DecodeStatus status = DecodeStatus::kComplete;
    try {
      while (!stopped()) {
        const std::int32_t bytes = decoder.ReadData(buffer.data(), kReadBytes);
        if (bytes <= 0) break;
        const std::int64_t samples = bytes / bytesPerSample;
        pass.frames += samples / channels_;
        if (!pass.block(i, buffer.data(), static_cast<std::size_t>(bytes), sample)) {
          status = DecodeStatus::kStopped;
          break;
        }
        sample += samples;
      }
    } catch (const sources::EMMMpegError&) {
      // The module reports a segment that cannot be decoded apart by failing its reads.
      if (!segmented) throw;
      status = DecodeStatus::kRedecode;
    }
    pass.clipped += decoder.ClippedSamples();
    decoder.CloseFile();
    if (status == DecodeStatus::kComplete && stopped()) return DecodeStatus::kStopped;
    if (status == DecodeStatus::kComplete && expected >= 0 && sample != expected) {
      return DecodeStatus::kRedecode;
    }
    return status;
  };
  return DecodeSegments(pass, cancel, segment);
}

SourceTags MpegSource::Tags() const {
  SourceTags tags = ReadSourceTags(source_);
  notices_ = tags.notices;  // the same on every read
  return tags;
}

}  // namespace cli
