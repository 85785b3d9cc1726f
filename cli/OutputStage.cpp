#include "cli/OutputStage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <vector>

#include "cli/GainMeasure.h"
#include "cli/OutputFile.h"
#include "cli/Quantizer.h"
#include "cli/ResultTexts.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

// The shortest segment worth a thread of its own, in seconds.
constexpr std::int64_t kMinSegmentSeconds = 20;
// The dither's noise is the same for every run, so that one input gives one output.
constexpr std::uint64_t kDitherSeed = 0x5175656C62617269ull;

std::string FormatGain(double gain) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f dB", 20.0 * std::log10(gain));
  return text;
}

}  // namespace

// One writing pass: the samples' way from the source into the file.
struct OutputStage::Writing {
  explicit Writing(const fs::path& destination) : file(destination) {}
  DecodePass pass;
  std::optional<double> gain;
  bool quantize = false;  // float samples quantized here, else written as they come
  bool copy = false;      // samples the source stores as the output's, copied file to file
  int outputBytes = 2;    // per sample in the file
  std::vector<std::optional<Quantizer>> quantizers;  // one per segment
  std::vector<std::vector<unsigned char>> buffers;   // one per segment, for quantized samples
  OutputFile file;
  int index = 0;  // of `passes`, for the progress
  int passes = 1;
};

OutputStage::OutputStage(const OutputSettings& settings, HelperPool* pool,
                         const std::atomic<bool>* cancel, const FileConverter::Progress& progress)
    : settings_(settings), pool_(pool), cancel_(cancel), progress_(progress) {}

unsigned OutputStage::Threads() const {
  return pool_ != nullptr ? pool_->PartsPerFile() : std::max(settings_.parts, 1u);
}

void OutputStage::SetUp(DecodePass& pass) const {
  pass.depth = settings_.depth;
  pass.threads = Threads();
  pass.pool = pool_;
}

void OutputStage::ReportProgress(std::int64_t frames, int pass, int passes) const {
  const std::int64_t length = source_->LengthMs();
  if (!progress_ || length <= 0 || std::this_thread::get_id() != owner_) return;
  const std::int64_t ms = std::min(frames * 1000 / source_->Rate(), length);
  progress_((length * pass + ms) / passes, length);
}

ConversionResult OutputStage::Run(PcmSource& source, const fs::path& destination,
                                  const fs::path& partial) {
  source_ = &source;
  owner_ = std::this_thread::get_id();
  try {
    std::optional<double> gain;
    std::string gainReason;
    bool cut = true;
    if (settings_.normalize.mode != NormalizeSpec::kNone) {
      DecodePass pass;
      SetUp(pass);
      const GainMeasurement measured =
          MeasureGain(source, settings_, pass, cancel_, [&] { ReportProgress(pass.frames, 0, 2); });
      messages_ = pass.messages;
      if (measured.status != DecodeStatus::kComplete) return CancelledResult();
      gain = measured.gain;
      gainReason = measured.reason;
      cut = !measured.cutFails;
    }
    WriteOutcome outcome = Write(source, destination, partial, gain, cut);
    if (outcome.redecode) outcome = Write(source, destination, partial, gain, false);
    std::vector<std::string> notices = source.Notices();
    for (const std::string& message : messages_) {
      if (std::find(notices.begin(), notices.end(), message) == notices.end()) {
        notices.push_back(message);
      }
    }
    outcome.result.notices = std::move(notices);
    if (outcome.result.status == ConversionResult::kConverted) {
      outcome.result.gainReason = std::move(gainReason);
    }
    return outcome.result;
  } catch (const std::exception& e) {
    return Failed("conversion failed: " + std::string(e.what()));
  }
}

OutputStage::WriteOutcome OutputStage::Write(PcmSource& source, const fs::path& destination,
                                             const fs::path& partial, std::optional<double> gain,
                                             bool cut) {
  Writing w(destination);
  w.gain = gain;
  SetUp(w.pass);
  // A gain is applied to float samples here, and so is a depth the source does not give.
  w.quantize = gain.has_value() || !source.Delivers(settings_.depth);
  w.pass.form = w.quantize ? SampleForm::kFloat : SampleForm::kOutput;
  // Stored samples that are already the output's go from file to file inside the kernel, into
  // data reserved at their full length; after a redecode they are read as far as they go.
  w.copy = !w.quantize && cut && source.CopiesStored(settings_.depth);
  if (cut) {
    w.pass.segments =
        source.Plan(Threads(), kMinSegmentSeconds * source.Rate(), w.pass.form, settings_.depth);
  }
  w.index = gain ? 1 : 0;
  w.passes = gain ? 2 : 1;
  if (auto failure = Prepare(w, partial)) return {false, *failure};
  const DecodeStatus status = DecodeInto(w);
  messages_.insert(messages_.end(), w.pass.messages.begin(), w.pass.messages.end());
  if (status == DecodeStatus::kRedecode) return {true, {}};
  return {false, Finish(w, status)};
}

std::optional<ConversionResult> OutputStage::Prepare(Writing& w, const fs::path& partial) {
  const std::size_t count = std::max<std::size_t>(1, w.pass.segments.size());
  w.outputBytes = BytesPerSample(settings_.depth);
  w.quantizers.resize(count);
  w.buffers.resize(count);
  if (w.quantize) {
    for (auto& q : w.quantizers)
      q.emplace(settings_.depth, w.gain.value_or(1.0), settings_.dither, kDitherSeed);
  }
  const bool segmented = !w.pass.segments.empty();
  // Exactly the segments' length, else the most the source may give.
  const std::uint64_t frames = segmented
                                   ? static_cast<std::uint64_t>(w.pass.segments.back().firstFrame +
                                                                w.pass.segments.back().frames)
                                   : source_->MaxFrames();
  const std::vector<char> format =
      MakeOutputFormat(settings_.depth, source_->Channels(), source_->Rate());
  const std::uint64_t dataBytes =
      frames * static_cast<std::uint64_t>(source_->Channels() * w.outputBytes);
  return w.file.Create(partial, format, settings_.tags ? source_->Tags() : SourceTags{}, dataBytes,
                       segmented || w.copy);
}

DecodeStatus OutputStage::DecodeInto(Writing& w) {
  const bool segmented = !w.pass.segments.empty();
  w.pass.block = [&](std::size_t i, const unsigned char* data, std::size_t bytes,
                     std::int64_t sample) {
    const unsigned char* block = data;
    std::size_t blockBytes = bytes;
    if (w.quantize) {
      const std::size_t n = bytes / sizeof(float);
      std::vector<unsigned char>& out = w.buffers[i];
      out.resize(n * static_cast<std::size_t>(w.outputBytes));
      w.quantizers[i]->SetPosition(static_cast<std::uint64_t>(sample));
      w.quantizers[i]->Convert(reinterpret_cast<const float*>(data), n, out.data());
      block = out.data();
      blockBytes = out.size();
    }
    const bool ok = segmented ? w.file.WriteAt(block, blockBytes,
                                               static_cast<std::uint64_t>(sample) * w.outputBytes)
                              : w.file.Append(block, blockBytes);
    if (ok) ReportProgress(w.pass.frames, w.index, w.passes);
    return ok;
  };
  if (w.copy) {
    w.pass.copy = [&](std::size_t, int fd, std::int64_t offset, std::int64_t bytes,
                      std::int64_t sample) {
      const std::int64_t n =
          w.file.CopyAt(fd, offset, bytes, static_cast<std::uint64_t>(sample) * w.outputBytes);
      if (n == bytes) ReportProgress(w.pass.frames, w.index, w.passes);
      return n;
    };
  }
  return source_->Decode(w.pass, cancel_);
}

ConversionResult OutputStage::Finish(Writing& w, DecodeStatus status) {
  if (Cancelled()) return CancelledResult();
  if (status != DecodeStatus::kComplete) return w.file.WriteFailure();
  if (auto failure = w.file.Finish()) return *failure;
  ConversionResult result(ConversionResult::kConverted);
  result.bytes = w.file.BytesWritten();
  result.clipped = w.pass.clipped;
  for (const auto& q : w.quantizers) {
    if (q) result.clipped += q->Clipped();
  }
  if (w.gain) result.gain = FormatGain(*w.gain);
  return result;
}

}  // namespace cli
