#include "cli/MpegConversion.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/LibraryMessages.h"
#include "cli/LoudnessMeter.h"
#include "cli/Quantizer.h"
#include "cli/ResultTexts.h"
#include "cli/SourceTags.h"
#include "platform/Mmio.h"
#include "sources/Mpeg.h"
#include "wave/WaveFile.h"
#include "wave/WaveIO.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

// Decoder reads: whole sample frames of every format fit (16384 float samples).
constexpr std::int32_t kReadBytes = 65536;
constexpr std::int32_t kIoBufferBytes = 262144;
// The shortest part of a measuring pass that gets a thread of its own.
constexpr std::int64_t kMinPartMs = 20000;
// The dither's noise is the same for every run, so that one input gives one output.
constexpr std::uint64_t kDitherSeed = 0x5175656C62617269ull;

// The tags go after the samples: the INFO list, then the ID3v2 tag (pictures included).
void AddTags(wave::TWaveIOHandle& handle, const SourceTags& tags) {
  for (const auto& [id, text] : tags.info) wave::WaveIOSetInfoText(&handle, id.c_str(), text);
  if (!tags.id3v2.empty()) handle.trailingChunks.push_back({wave::kFourCCId3, tags.id3v2});
}

// Bytes the INFO list and the trailing chunks add to the file.
std::uint64_t TagBytes(const wave::TWaveIOHandle& handle) {
  return wave::InfoListWrittenSize(handle.info.get()) +
         wave::RiffChunksWrittenSize(handle.trailingChunks);
}

std::string FormatGain(double gain) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f dB", 20.0 * std::log10(gain));
  return text;
}

}  // namespace

MpegConversion::MpegConversion() = default;
MpegConversion::~MpegConversion() = default;

bool MpegConversion::Bind(const fs::path& source) {
  // A missing or old module is the chain's to report; here it only means "not this way".
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

void MpegConversion::ReportProgress(std::int64_t frames, int pass, int passes) const {
  if (progress_ == nullptr || !*progress_ || lengthMs_ <= 0) return;
  const std::int64_t ms = std::min(frames * 1000 / rate_, lengthMs_);
  (*progress_)((lengthMs_ * pass + ms) / passes, lengthMs_);
}

// One part of the measuring pass: a run of whole frames, decoded by a decoder of its own.
struct MpegConversion::Part {
  std::int32_t firstFrame = 0;
  std::int64_t samples = 0;  // to measure, all channels counted; -1: to the end
  std::optional<LoudnessMeter> meter;
  float peak = 0.0f;
  std::exception_ptr error;
};

void MpegConversion::MeasurePart(sources::TMMMpeg& decoder, Part& part, bool reportProgress,
                                 int parts) const {
  try {
    decoder.SetSampleFormat(MPEG_SAMPLES_FLOAT32);
    decoder.OpenFile();
    // Positioning decodes a few frames before the first one, so that its samples are those of a
    // decode from the start.
    if (part.firstFrame > 0) decoder.SetPosition(part.firstFrame);
    std::vector<float> samples(kReadBytes / sizeof(float));
    std::int64_t left = part.samples < 0 ? INT64_MAX : part.samples;
    std::int64_t frames = 0;
    while (left > 0 && !Cancelled()) {
      const std::int64_t want = std::min<std::int64_t>(kReadBytes / 4, left) * 4;
      const std::int32_t bytes = decoder.ReadData(samples.data(), static_cast<std::int32_t>(want));
      if (bytes <= 0) break;
      const std::size_t count = static_cast<std::size_t>(bytes) / sizeof(float);
      left -= static_cast<std::int64_t>(count);
      if (part.meter) {
        part.meter->Add(samples.data(), count / channels_);
      } else {
        part.peak = SamplePeak(samples.data(), count, part.peak);
      }
      frames += static_cast<std::int64_t>(count) / channels_;
      if (reportProgress) ReportProgress(frames * parts, 0, 2);
    }
    decoder.CloseFile();
  } catch (...) {
    part.error = std::current_exception();
  }
}

std::optional<double> MpegConversion::MeasureGain(const OutputSettings& settings) {
  const bool loudness = settings.normalize.mode == NormalizeSpec::kLoudness;
  // The pass only measures, so it may run in parts on several threads; each part long enough
  // that the frames decoded before it cost little.
  const std::int32_t frames = decoder_->Frames();
  const auto longEnough = static_cast<unsigned>(std::max<std::int64_t>(1, lengthMs_ / kMinPartMs));
  const unsigned parts = frames > 0 ? std::clamp(settings.measureThreads, 1u, longEnough) : 1u;
  const auto samplesPerFrame =
      static_cast<std::int64_t>(std::lround(decoder_->FrameTime() * rate_ / 1000.0));
  std::vector<Part> results(parts);
  std::vector<std::unique_ptr<sources::TMMMpeg>> decoders;
  for (unsigned i = 0; i < parts; ++i) {
    Part& part = results[i];
    part.firstFrame = static_cast<std::int32_t>(static_cast<std::int64_t>(frames) * i / parts);
    const auto next =
        static_cast<std::int32_t>(static_cast<std::int64_t>(frames) * (i + 1) / parts);
    part.samples = i + 1 == parts ? -1 : (next - part.firstFrame) * samplesPerFrame * channels_;
    if (loudness) part.meter.emplace(channels_, rate_);
    if (i > 0) {
      decoders.push_back(std::make_unique<sources::TMMMpeg>());
      decoders.back()->SetFileName(source_.native());
    }
  }
  {
    std::vector<std::jthread> threads;
    for (unsigned i = 1; i < parts; ++i) {
      threads.emplace_back([this, &results, &decoders, i, parts] {
        MeasurePart(*decoders[i - 1], results[i], false, static_cast<int>(parts));
      });
    }
    MeasurePart(*decoder_, results[0], true, static_cast<int>(parts));
  }
  for (const Part& part : results) {
    if (part.error) std::rethrow_exception(part.error);
  }
  if (Cancelled()) return std::nullopt;
  if (loudness) {
    std::vector<const LoudnessMeter*> meters;
    double truePeak = 0.0;
    for (const Part& part : results) {
      meters.push_back(&*part.meter);
      truePeak = std::max(truePeak, part.meter->TruePeak());
    }
    return LoudnessGain(LoudnessMeter::IntegratedLufs(meters), truePeak,
                        settings.normalize.targetLufs);
  }
  float peak = 0.0f;
  for (const Part& part : results) peak = std::max(peak, part.peak);
  return PeakGain(peak, settings.depth, settings.dither);
}

ConversionResult MpegConversion::Run(const fs::path& source, const fs::path& destination,
                                     const fs::path& partial, const OutputSettings& settings,
                                     const std::atomic<bool>* cancel,
                                     const FileConverter::Progress& progress) {
  cancel_ = cancel;
  progress_ = &progress;
  try {
    std::optional<double> gain;
    const bool normalize = settings.normalize.mode != NormalizeSpec::kNone;
    if (normalize) {
      gain = MeasureGain(settings);
      if (!gain) return CancelledResult();
    }
    // A gain is applied to the float samples and quantized here; otherwise the decoder's own
    // samples are written as they come.
    const std::int32_t decoderSamples =
        normalize ? MPEG_SAMPLES_FLOAT32 : DecoderSampleFormat(settings.depth);
    std::optional<Quantizer> quantizer;
    if (normalize) quantizer.emplace(settings.depth, *gain, settings.dither, kDitherSeed);

    const std::vector<char> format = MakeOutputFormat(settings.depth, channels_, rate_);
    wave::WaveIOHandlePtr handle;
    if (wave::WaveIOFromFormat(handle, reinterpret_cast<const stream::TWaveFormatEx*>(
                                           format.data())) != wave::kWaveIOOk) {
      return Failed("cannot write " + destination.native() + ": unsupported output format");
    }
    if (settings.tags) AddTags(*handle, ReadSourceTags(source));
    // The length is known before decoding; a frame of slack covers the rounding of the time.
    const int bytesPerSample = BytesPerSample(settings.depth);
    const std::uint64_t dataBytes =
        (static_cast<std::uint64_t>(lengthMs_ + 1000) * rate_ / 1000 + 1152) * channels_ *
        bytesPerSample;
    const std::uint64_t fileBytes =
        12 + 8 + format.size() + 8 + dataBytes + 1 + 12 + TagBytes(*handle);
    handle->rf64 = fileBytes - 8 > wave::kMaxRiffSize;

    platform::mmioClearWriteError();
    if (wave::WaveIOCreateFile(handle.get(), partial.native()) != wave::kWaveIOOk ||
        wave::WaveIOSetBuffer(handle.get(), kIoBufferBytes) != wave::kWaveIOOk) {
      return WriteFailed(destination, platform::mmioLastWriteError(), "cannot create the file");
    }
    decoder_->SetSampleFormat(decoderSamples);
    decoder_->OpenFile();
    std::vector<unsigned char> in(kReadBytes);
    std::vector<unsigned char> out(quantizer ? kReadBytes : 0);
    const std::int32_t decodedBytesPerSample = normalize ? 4 : bytesPerSample;
    std::int64_t frames = 0;
    std::int64_t written = 0;
    for (;;) {
      if (Cancelled()) return CancelledResult();
      const std::int32_t bytes = decoder_->ReadData(in.data(), kReadBytes);
      if (bytes <= 0) break;
      const std::size_t count = static_cast<std::size_t>(bytes) / decodedBytesPerSample;
      const unsigned char* block = in.data();
      std::int64_t blockBytes = bytes;
      if (quantizer) {
        quantizer->Convert(reinterpret_cast<const float*>(in.data()), count, out.data());
        block = out.data();
        blockBytes = static_cast<std::int64_t>(count) * bytesPerSample;
      }
      if (wave::WaveIOWrite(handle.get(), block, blockBytes) != blockBytes) {
        return WriteFailed(destination, platform::mmioLastWriteError(), wave::kWriteFailedMessage);
      }
      written += blockBytes;
      frames += static_cast<std::int64_t>(count) / channels_;
      ReportProgress(frames, normalize ? 1 : 0, normalize ? 2 : 1);
    }
    const std::int64_t clipped = quantizer ? quantizer->Clipped() : decoder_->ClippedSamples();
    decoder_->CloseFile();
    if (wave::WaveIOFinalize(handle.get()) != wave::kWaveIOOk) {
      return WriteFailed(destination, platform::mmioLastWriteError(), wave::kFinalizeFailedMessage);
    }
    ConversionResult result(ConversionResult::kConverted);
    result.bytes = written;
    result.clipped = clipped;
    if (gain) result.gain = FormatGain(*gain);
    return result;
  } catch (const std::exception& e) {
    return Failed("conversion failed: " + std::string(e.what()));
  }
}

}  // namespace cli
