#include "cli/MpegConversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
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
// The shortest segment worth a decoder of its own, in seconds.
constexpr std::int64_t kMinSegmentSeconds = 20;
// The measuring pass of a normalization works in parts of about this length.
constexpr std::int64_t kMeasurePartSeconds = 30;
constexpr std::int64_t kMaxMeasureParts = 8;  // opening a segment walks the file
// The dither's noise is the same for every run, so that one input gives one output.
constexpr std::uint64_t kDitherSeed = 0x5175656C62617269ull;

// The tags go after the samples: the INFO list, then the ID3v2 tag (pictures included).
void AddTags(wave::TWaveIOHandle& handle, SourceTags& tags) {
  for (const auto& [id, text] : tags.info) wave::WaveIOSetInfoText(&handle, id.c_str(), text);
  if (!tags.id3v2.empty()) {
    handle.trailingChunks.push_back({wave::kFourCCId3, std::move(tags.id3v2)});
  }
}

// Bytes the INFO list and the trailing chunks add to the file.
std::uint64_t TagBytes(const wave::TWaveIOHandle& handle) {
  return wave::InfoListWrittenSize(handle.info.get()) +
         wave::RiffChunksWrittenSize(handle.trailingChunks);
}

// Writes all of `bytes` at `offset`; false with errno set when the file system refused.
bool WriteAt(int fd, const unsigned char* bytes, std::size_t count, std::uint64_t offset) {
  while (count > 0) {
    const ssize_t n = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

// A file descriptor closed when it goes.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int get() const { return fd_; }
  // Closes now; the errno of a failed close, else 0.
  int Close() {
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

std::string FormatGain(double gain) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f dB", 20.0 * std::log10(gain));
  return text;
}

}  // namespace

MpegConversion::MpegConversion() = default;
MpegConversion::~MpegConversion() = default;

// One decoding pass: the sample format, the segments and what each block read becomes.
struct MpegConversion::Pass {
  explicit Pass(const OutputSettings& s) : settings(s) {}
  const OutputSettings& settings;
  std::int32_t format = MPEG_SAMPLES_S16;
  std::vector<TMpegSegment> segments;  // empty: the whole file in one run from the start
  int index = 0;                       // of `passes`, for the progress
  int passes = 1;
  // Called for each block on the thread of its segment: the segment's index, the bytes, and
  // the index in the file (all channels counted) of the block's first sample. False stops.
  std::function<bool(std::size_t, const unsigned char*, std::int32_t, std::int64_t)> block;
  std::atomic<std::int64_t> frames{0};   // decoded so far, all segments
  std::atomic<std::int64_t> clipped{0};  // by the decoders
};

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

unsigned MpegConversion::Parts(const OutputSettings& settings) const {
  return pool_ != nullptr ? pool_->PartsPerFile() : std::max(settings.parts, 1u);
}

std::vector<TMpegSegment> MpegConversion::Plan(unsigned max, std::int64_t minSeconds) const {
  if (max <= 1 || sources::Mpeg().PlanSegments == nullptr) return {};
  std::vector<TMpegSegment> segments =
      decoder_->PlanSegments(static_cast<std::int32_t>(max), minSeconds * rate_);
  if (segments.size() <= 1) segments.clear();
  return segments;
}

bool MpegConversion::Decode(Pass& pass) {
  const std::size_t count = std::max<std::size_t>(1, pass.segments.size());
  // One worker per part the file is worth now, each decoding a run of consecutive segments.
  const std::size_t workers = std::clamp<std::size_t>(Parts(pass.settings), 1, count);
  // Worker 0 uses the bound decoder; the others bind decoders of their own, kept for the next
  // pass so that the file is bound once per decoder, not once per pass.
  while (helpers_.size() + 1 < workers) {
    helpers_.push_back(std::make_unique<sources::TMMMpeg>());
    helpers_.back()->SetFileName(source_.native());
  }
  const int bytesPerSample = pass.format == MPEG_SAMPLES_S16   ? 2
                             : pass.format == MPEG_SAMPLES_S24 ? 3
                                                               : 4;
  std::mutex mutex;
  std::exception_ptr error;  // the first a worker raised; under mutex
  std::atomic<bool> stop{false};
  // Decodes segment i (the whole file when there are none) with `decoder`.
  const auto decodeSegment = [&](sources::TMMMpeg& decoder, std::size_t i, bool reports,
                                 std::vector<unsigned char>& buffer) {
    std::int64_t sample = 0;
    std::int64_t expected = -1;
    if (pass.segments.empty()) {
      decoder.OpenFile();
    } else {
      decoder.OpenSegment(pass.segments[i]);
      sample = pass.segments[i].FirstSample * channels_;
      expected = sample + pass.segments[i].Samples * channels_;
    }
    while (!stop && !Cancelled()) {
      const std::int32_t bytes = decoder.ReadData(buffer.data(), kReadBytes);
      if (bytes <= 0) break;
      if (!pass.block(i, buffer.data(), bytes, sample)) {
        stop = true;
        break;
      }
      const std::int64_t samples = bytes / bytesPerSample;
      sample += samples;
      const std::int64_t frames = pass.frames += samples / channels_;
      if (reports) ReportProgress(frames, pass.index, pass.passes);
    }
    pass.clipped += decoder.ClippedSamples();
    decoder.CloseFile();
    if (expected >= 0 && !stop && !Cancelled() && sample != expected) {
      throw std::runtime_error("a segment decoded to another length than planned");
    }
  };
  std::vector<std::function<void()>> parts;
  for (std::size_t w = 0; w < workers; ++w) {
    parts.emplace_back([&, w] {
      sources::TMMMpeg& decoder = w == 0 ? *decoder_ : *helpers_[w - 1];
      try {
        decoder.SetSampleFormat(pass.format);
        std::vector<unsigned char> buffer(kReadBytes);
        for (std::size_t i = w * count / workers; i < (w + 1) * count / workers && !stop; ++i) {
          decodeSegment(decoder, i, w == 0, buffer);
        }
      } catch (...) {
        std::lock_guard lock(mutex);
        if (!error) error = std::current_exception();
        stop = true;
      }
    });
  }
  RunParts(pool_, parts);
  if (error) std::rethrow_exception(error);
  return !stop && !Cancelled();
}

std::optional<NormalizationGain> MpegConversion::MeasureGain(const OutputSettings& settings) {
  const bool loudness = settings.normalize.mode == NormalizeSpec::kLoudness;
  Pass pass{settings};
  pass.format = MPEG_SAMPLES_FLOAT32;
  // Measured in parts of a fixed length whatever the number of threads, so that the gain, and
  // the file, are the same for every -j: each part has its own meter, and the parts' loudness
  // is combined (a part's meter starts afresh at its first sample).
  pass.segments = Plan(
      static_cast<unsigned>(std::min<std::int64_t>(
          std::max<std::int64_t>(lengthMs_ / (kMeasurePartSeconds * 1000), 1), kMaxMeasureParts)),
      kMeasurePartSeconds);
  pass.passes = 2;
  std::vector<std::optional<LoudnessMeter>> meters;
  std::vector<float> peaks;
  const auto startMeters = [&] {
    const std::size_t count = std::max<std::size_t>(1, pass.segments.size());
    meters = std::vector<std::optional<LoudnessMeter>>(count);
    peaks.assign(count, 0.0f);
    if (loudness) {
      for (auto& meter : meters) meter.emplace(channels_, rate_);
    }
  };
  startMeters();
  pass.block = [&](std::size_t i, const unsigned char* data, std::int32_t bytes, std::int64_t) {
    const auto* samples = reinterpret_cast<const float*>(data);
    const std::size_t n = static_cast<std::size_t>(bytes) / sizeof(float);
    if (loudness) {
      meters[i]->Add(samples, n / channels_);
    } else {
      peaks[i] = SamplePeak(samples, n, peaks[i]);
    }
    return true;
  };
  bool complete = false;
  try {
    complete = Decode(pass);
  } catch (const std::exception&) {
    if (pass.segments.empty()) throw;
    // A part did not decode as planned: measure in one run instead.
    pass.segments.clear();
    pass.frames = 0;
    startMeters();
    complete = Decode(pass);
  }
  if (!complete) return std::nullopt;
  if (loudness) {
    std::vector<const LoudnessMeter*> parts;
    double truePeak = 0.0;
    for (const auto& meter : meters) {
      parts.push_back(&*meter);
      truePeak = std::max(truePeak, meter->TruePeak());
    }
    return LoudnessNormalization(LoudnessMeter::IntegratedLufs(parts), truePeak,
                                 settings.normalize.targetLufs);
  }
  return PeakNormalization(*std::max_element(peaks.begin(), peaks.end()), settings.depth,
                           settings.dither);
}

ConversionResult MpegConversion::Run(const fs::path& source, const fs::path& destination,
                                     const fs::path& partial, const OutputSettings& settings,
                                     HelperPool* pool, const std::atomic<bool>* cancel,
                                     const FileConverter::Progress& progress) {
  pool_ = pool;
  cancel_ = cancel;
  progress_ = &progress;
  try {
    std::optional<double> gain;
    std::optional<NormalizationGain> measured;
    const bool normalize = settings.normalize.mode != NormalizeSpec::kNone;
    if (normalize) {
      measured = MeasureGain(settings);
      if (!measured) return CancelledResult();
      gain = measured->gain;
    }
    std::vector<TMpegSegment> segments = Plan(Parts(settings), kMinSegmentSeconds);
    ConversionResult result =
        Write(source, destination, partial, settings, gain, std::move(segments));
    if (result.status == ConversionResult::kFailed && result.reason.empty()) {
      // A segment did not decode as planned: the file is decoded in one run instead.
      result = Write(source, destination, partial, settings, gain, {});
    }
    if (measured) result.gainReason = measured->reason;
    return result;
  } catch (const std::exception& e) {
    return Failed("conversion failed: " + std::string(e.what()));
  }
}

ConversionResult MpegConversion::Write(const fs::path& source, const fs::path& destination,
                                       const fs::path& partial, const OutputSettings& settings,
                                       std::optional<double> gain,
                                       std::vector<TMpegSegment> segments) {
  Pass pass{settings};
  pass.segments = std::move(segments);
  const bool segmented = !pass.segments.empty();
  const std::size_t count = std::max<std::size_t>(1, pass.segments.size());
  // A gain is applied to the float samples and quantized here; otherwise the decoder's own
  // samples are written as they come.
  pass.format = gain ? MPEG_SAMPLES_FLOAT32 : DecoderSampleFormat(settings.depth);
  pass.index = gain ? 1 : 0;
  pass.passes = gain ? 2 : 1;
  std::vector<std::optional<Quantizer>> quantizers(count);
  std::vector<std::vector<unsigned char>> outputs(count);
  if (gain) {
    for (std::size_t i = 0; i < count; ++i) {
      quantizers[i].emplace(settings.depth, *gain, settings.dither, kDitherSeed);
      outputs[i].resize(kReadBytes);
    }
  }

  const std::vector<char> format = MakeOutputFormat(settings.depth, channels_, rate_);
  wave::WaveIOHandlePtr handle;
  if (wave::WaveIOFromFormat(handle, reinterpret_cast<const stream::TWaveFormatEx*>(
                                         format.data())) != wave::kWaveIOOk) {
    return Failed("cannot write " + destination.native() + ": unsupported output format");
  }
  std::vector<std::string> tagNotices;
  if (settings.tags) {
    SourceTags tags = ReadSourceTags(source);
    AddTags(*handle, tags);
    tagNotices = std::move(tags.notices);
  }
  const int bytesPerSample = BytesPerSample(settings.depth);
  const int decodedBytesPerSample = gain ? 4 : bytesPerSample;
  // The length is known before decoding: exactly from the segments, else from the time, with a
  // second and a frame of slack for its rounding.
  const std::uint64_t samples =
      segmented ? static_cast<std::uint64_t>(pass.segments.back().FirstSample +
                                             pass.segments.back().Samples)
                : static_cast<std::uint64_t>(lengthMs_ + 1000) * rate_ / 1000 + 1152;
  const std::uint64_t dataBytes = samples * channels_ * bytesPerSample;
  const std::uint64_t fileBytes =
      12 + 8 + format.size() + 8 + dataBytes + 1 + 12 + TagBytes(*handle);
  handle->rf64 = fileBytes - 8 > wave::kMaxRiffSize;

  platform::mmioClearWriteError();
  if (wave::WaveIOCreateFile(handle.get(), partial.native()) != wave::kWaveIOOk ||
      wave::WaveIOSetBuffer(handle.get(), kIoBufferBytes) != wave::kWaveIOOk) {
    return WriteFailed(destination, platform::mmioLastWriteError(), "cannot create the file");
  }
  // Segments write at their own places, each through the same descriptor: the data chunk is
  // first made its full length (a hole), then filled.
  std::optional<OpenFile> file;
  std::uint64_t dataOffset = 0;
  if (segmented) {
    if (wave::WaveIOSkipData(handle.get(), static_cast<std::int64_t>(dataBytes)) !=
        static_cast<std::int64_t>(dataBytes)) {
      return WriteFailed(destination, platform::mmioLastWriteError(), wave::kWriteFailedMessage);
    }
    dataOffset = handle->dataOffset;
    file.emplace(::open(partial.c_str(), O_WRONLY | O_CLOEXEC));
    if (file->get() < 0) return WriteFailed(destination, errno, wave::kWriteFailedMessage);
  }
  std::atomic<int> writeError{0};
  std::atomic<std::int64_t> written{0};
  pass.block = [&](std::size_t i, const unsigned char* data, std::int32_t bytes,
                   std::int64_t sample) {
    const std::size_t n = static_cast<std::size_t>(bytes) / decodedBytesPerSample;
    const unsigned char* block = data;
    std::size_t blockBytes = static_cast<std::size_t>(bytes);
    if (quantizers[i]) {
      quantizers[i]->SetPosition(static_cast<std::uint64_t>(sample));
      quantizers[i]->Convert(reinterpret_cast<const float*>(data), n, outputs[i].data());
      block = outputs[i].data();
      blockBytes = n * bytesPerSample;
    }
    const bool ok =
        segmented ? WriteAt(file->get(), block, blockBytes,
                            dataOffset + static_cast<std::uint64_t>(sample) * bytesPerSample)
                  : wave::WaveIOWrite(handle.get(), block, static_cast<std::int64_t>(blockBytes)) ==
                        static_cast<std::int64_t>(blockBytes);
    if (!ok) {
      int expected = 0;
      writeError.compare_exchange_strong(expected, segmented ? errno : 0);
      return false;
    }
    written += static_cast<std::int64_t>(blockBytes);
    return true;
  };
  bool complete = false;
  try {
    complete = Decode(pass);
  } catch (const std::exception&) {
    if (!segmented) throw;
    return Failed({});  // the caller decodes the file in one run
  }
  if (Cancelled()) return CancelledResult();
  if (!complete) {
    const int error = segmented ? writeError.load() : platform::mmioLastWriteError();
    return WriteFailed(destination, error, wave::kWriteFailedMessage);
  }
  if (file) {
    if (const int error = file->Close(); error != 0) {
      return WriteFailed(destination, error, wave::kWriteFailedMessage);
    }
  }
  if (wave::WaveIOFinalize(handle.get()) != wave::kWaveIOOk) {
    return WriteFailed(destination, platform::mmioLastWriteError(), wave::kFinalizeFailedMessage);
  }
  ConversionResult result(ConversionResult::kConverted);
  result.notices = std::move(tagNotices);
  result.bytes = written;
  std::int64_t clipped = pass.clipped;
  if (gain) {
    clipped = 0;
    for (const auto& q : quantizers) clipped += q->Clipped();
    result.gain = FormatGain(*gain);
  }
  result.clipped = clipped;
  return result;
}

}  // namespace cli
