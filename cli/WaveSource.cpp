#include "cli/WaveSource.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "cli/Id3Scan.h"
#include "cli/LibraryMessages.h"
#include "cli/SegmentedDecode.h"
#include "platform/FileDescriptor.h"
#include "sources/AudioFile.h"
#include "sources/MpegBinding.h"
#include "stream/SyncDriver.h"
#include "stream/TimeConversions.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

// Sample frames read at a time from a stored file.
constexpr std::int64_t kReadFrames = 65536;
// Sample frames copied at a time from a stored file into the output (16 MiB of 16-bit stereo):
// between them the converter reports its progress and sees a cancel.
constexpr std::int64_t kCopyFrames = 1 << 22;
// The chain's blocks.
constexpr std::int32_t kChainBufferBytes = 32768;

// The table of format names that the library owns keeps the historic name of tag 3; a user
// converting a float WAV should read what it is.
std::string InputFormatName(const stream::TWaveFormatEx* format) {
  switch (format->wFormatTag) {
    case 0x0003:
      return "IEEE float";
    case 0xFFFE:
      return "WAVE_FORMAT_EXTENSIBLE";
    default:
      return wave::WaveFormatName(format);
  }
}

// The library's texts for a decoder module that is missing or too old name the module by a DLL
// name that no file here has; say which file is meant.
std::string DescribeLibraryError(const std::string& text) {
  if (text == sources::kUnableToLoadDecoder || text == sources::kInvalidDecoderVersion) {
    return std::string("cannot use the MPEG decoder module ") + sources::kMpegModuleName + " (" +
           text + ")";
  }
  return text;
}

// The reason for a source that the audio file does not take: the library's own message when it
// showed one (a decoder module that could not be loaded), else "not audio".
std::string NotAudioReason(const LibraryMessageCapture& capture) {
  if (!capture.Messages().empty()) return DescribeLibraryError(capture.Messages().back());
  return "not an audio file (neither MPEG audio nor WAVE)";
}

// The audio file of a chain: it decodes what no stored layout covers, with the drivers.
std::unique_ptr<sources::TMMAudioFile> OpenAudioFile(const fs::path& source) {
  auto audio = std::make_unique<sources::TMMAudioFile>(nullptr);
  // The decoder's samples go out as they are: no fade-in, no closing ramp.
  audio->SetApplyEnvelope(false);
  audio->SetFileName(source.native());
  return audio;
}

}  // namespace

WaveSource::WaveSource() = default;
WaveSource::~WaveSource() = default;

std::string WaveSource::Bind(const fs::path& source) {
  LibraryMessageCapture capture;
  std::unique_ptr<sources::TMMAudioFile> audio;
  try {
    // The audio file decides what the file is and whether a driver decodes its coding; its
    // messages are the ones the user gets.
    audio = OpenAudioFile(source);
  } catch (const sources::EMMAudioError&) {
    return NotAudioReason(capture);
  } catch (const std::exception& e) {
    return "cannot read audio: " + DescribeLibraryError(e.what());
  }
  const stream::TWaveFormatEx* format = audio->GetPWaveFormat();
  if (audio->IsEmpty() || format == nullptr) return NotAudioReason(capture);
  // A compressed WAVE file that no installed driver decodes would reach the output as it is.
  if (format->wFormatTag != stream::WAVE_FORMAT_PCM) {
    return "cannot decode its audio format (" + InputFormatName(format) + ")";
  }
  source_ = source;
  channels_ = format->nChannels;
  rate_ = static_cast<int>(format->nSamplesPerSec);
  lengthMs_ = audio->FileLength();
  if (wave::WaveIOReadInfo(description_, source.native(), nullptr, wave::kFourCCWave,
                           wave::kRiffModePath, kMaxInfoListBytes) == wave::kWaveIOOk) {
    stored_ = RawSamplesOf(description_->Format());
  }
  if (stored_) {
    maxFrames_ = static_cast<std::uint64_t>(description_->samples);
  } else {
    // From the length, with a second of slack for its rounding.
    maxFrames_ = static_cast<std::uint64_t>(stream::MsToBytes(*format, lengthMs_ + 1000)) /
                 std::max<std::uint16_t>(format->nBlockAlign, 1);
  }
  return {};
}

bool WaveSource::StoredAs(OutputDepth depth) const {
  if (!stored_) return false;
  switch (depth) {
    case OutputDepth::k16:
      return *stored_ == RawSamples::kSigned16;
    case OutputDepth::k24:
      return *stored_ == RawSamples::kSigned24;
    case OutputDepth::k32:
      return *stored_ == RawSamples::kSigned32;
    case OutputDepth::k32Float:
      return *stored_ == RawSamples::kFloat32;
  }
  return false;
}

bool WaveSource::Delivers(OutputDepth depth) const {
  // 16 bits: the chain's own samples, as before there were other depths.
  return StoredAs(depth) || depth == OutputDepth::k16;
}

std::vector<SourceSegment> WaveSource::Plan(unsigned max, std::int64_t minFrames, SampleForm form,
                                            OutputDepth) {
  // Samples copied as they are cost no work that threads could share, only the disk's; a copy
  // in one run keeps the file written in order.
  const bool fromStore = stored_ && form == SampleForm::kFloat;
  const std::int64_t frames = description_ ? description_->samples : 0;
  const std::int64_t count =
      std::min<std::int64_t>(max, minFrames > 0 ? frames / minFrames : frames);
  if (!fromStore || count <= 1) return {};
  std::vector<SourceSegment> plan;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t first = i * frames / count;
    plan.push_back({first, (i + 1) * frames / count - first, static_cast<std::size_t>(i)});
  }
  return plan;
}

DecodeStatus WaveSource::Decode(DecodePass& pass, const std::atomic<bool>* cancel) {
  if (pass.copy && pass.form == SampleForm::kOutput && StoredAs(pass.depth)) {
    return CopyStored(pass, cancel);
  }
  const bool fromStore =
      stored_ && (pass.form == SampleForm::kFloat || StoredAs(pass.depth) ||
                  (pass.depth == OutputDepth::k16 && *stored_ == RawSamples::kUnsigned8));
  return fromStore ? DecodeStored(pass, cancel) : DecodeThroughChain(pass, cancel);
}

DecodeStatus WaveSource::CopyStored(DecodePass& pass, const std::atomic<bool>* cancel) {
  platform::FileDescriptor file(::open(source_.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    throw std::runtime_error("cannot read " + source_.native() + ": " + std::strerror(errno));
  }
  const std::int64_t frameBytes = description_->Format()->nBlockAlign;
  const std::int64_t sampleBytes = RawSampleBytes(*stored_);
  const std::int64_t frames = description_->samples;
  const auto dataOffset = static_cast<std::int64_t>(description_->dataOffset);
  for (std::int64_t frame = 0; frame < frames;) {
    if (cancel != nullptr && cancel->load()) return DecodeStatus::kStopped;
    const std::int64_t count = std::min(kCopyFrames, frames - frame);
    pass.frames += count;
    const std::int64_t want = count * frameBytes;
    const std::int64_t got = pass.copy(0, file.Get(), dataOffset + frame * frameBytes, want,
                                       frame * frameBytes / sampleBytes);
    if (got < 0) return DecodeStatus::kStopped;
    // The file is shorter than when it was bound: its data are read again, as far as they go.
    if (got < want) return DecodeStatus::kRedecode;
    frame += count;
  }
  return DecodeStatus::kComplete;
}

DecodeStatus WaveSource::DecodeStored(DecodePass& pass, const std::atomic<bool>* cancel) {
  const RawSamples layout = *stored_;
  const int sampleBytes = RawSampleBytes(layout);
  const std::int64_t frameBytes = description_->Format()->nBlockAlign;
  const bool copy = pass.form == SampleForm::kOutput && StoredAs(pass.depth);
  const int outBytes = pass.form == SampleForm::kFloat ? 4 : 2;  // float, or 8 bits widened
  const auto segment = [&](std::size_t, std::size_t i,
                           const std::atomic<bool>& stop) -> DecodeStatus {
    // Each segment reads through a handle of its own.
    wave::WaveIOHandlePtr file;
    if (wave::WaveIOReadInfo(file, source_.native(), nullptr, wave::kFourCCWave,
                             wave::kRiffModePath) != wave::kWaveIOOk ||
        wave::WaveIOReopen(file.get()) != wave::kWaveIOOk) {
      throw std::runtime_error("cannot read " + source_.native());
    }
    std::int64_t frame = 0;
    std::int64_t end = file->samples;
    if (!pass.segments.empty()) {
      frame = pass.segments[i].firstFrame;
      end = frame + pass.segments[i].frames;
      if (wave::WaveIOSeek(file.get(), frame) != wave::kWaveIOOk) {
        throw std::runtime_error("cannot read " + source_.native());
      }
    }
    std::vector<unsigned char> in(static_cast<std::size_t>(kReadFrames * frameBytes));
    std::vector<unsigned char> out;
    while (frame < end) {
      if (stop || (cancel != nullptr && cancel->load())) return DecodeStatus::kStopped;
      const std::int64_t want = std::min(kReadFrames, end - frame) * frameBytes;
      const std::int64_t got = wave::WaveIORead(file.get(), in.data(), want);
      if (got <= 0) break;  // the data end early: what there is was delivered
      const std::int64_t frames = got / frameBytes;
      const auto samples = static_cast<std::size_t>(got / sampleBytes);
      const unsigned char* block = in.data();
      if (!copy) {
        out.resize(samples * outBytes);
        if (pass.form == SampleForm::kFloat) {
          ToFloat(layout, in.data(), samples, reinterpret_cast<float*>(out.data()));
        } else {
          Widen8To16(in.data(), samples, out.data());
        }
        block = out.data();
      }
      const std::size_t bytes = copy ? static_cast<std::size_t>(got) : samples * outBytes;
      pass.frames += frames;
      if (!pass.block(i, block, bytes, frame * channels_)) return DecodeStatus::kStopped;
      frame += frames;
      if (got < want) break;
    }
    return DecodeStatus::kComplete;
  };
  return DecodeSegments(pass, cancel, segment);
}

DecodeStatus WaveSource::DecodeThroughChain(DecodePass& pass, const std::atomic<bool>* cancel) {
  // Library messages of this run are the converter's to report, not to print on their own.
  LibraryMessageCapture capture;
  std::unique_ptr<sources::TMMAudioFile> audio = OpenAudioFile(source_);
  stream::TMMSyncDriver driver(nullptr);
  driver.SetBufferSize(kChainBufferBytes);
  driver.SetInput(audio.get());
  const stream::TWaveFormatEx* format = audio->GetPWaveFormat();
  const std::optional<RawSamples> layout = RawSamplesOf(format);
  if (!layout || (*layout != RawSamples::kSigned16 && *layout != RawSamples::kUnsigned8)) {
    driver.SetInput(nullptr);
    throw std::runtime_error("the decoder gave no 8- or 16-bit PCM");
  }
  const std::size_t sampleBytes = static_cast<std::size_t>(RawSampleBytes(*layout));
  std::vector<unsigned char> out;
  std::int64_t sample = 0;
  bool stopped = false;
  driver.OnBufferReady = [&](stream::TObject*, stream::PWaveHdr hdr) {
    if (stopped) return;
    const auto* data = reinterpret_cast<const unsigned char*>(hdr->Data());
    const std::size_t samples = hdr->dwBytesRecorded / sampleBytes;
    const unsigned char* block = data;
    std::size_t bytes = samples * sampleBytes;
    if (pass.form == SampleForm::kFloat) {
      out.resize(samples * sizeof(float));
      ToFloat(*layout, data, samples, reinterpret_cast<float*>(out.data()));
      block = out.data();
      bytes = out.size();
    } else if (*layout == RawSamples::kUnsigned8) {
      out.resize(samples * 2);
      Widen8To16(data, samples, out.data());
      block = out.data();
      bytes = out.size();
    }
    pass.frames += static_cast<std::int64_t>(samples) / channels_;
    if (!pass.block(0, block, bytes, sample) || (cancel != nullptr && cancel->load())) {
      stopped = true;
      driver.RequestCancel();
    }
    sample += static_cast<std::int64_t>(samples);
  };
  DecodeStatus status = DecodeStatus::kComplete;
  try {
    driver.Run();
  } catch (const stream::EMMSyncDriverError&) {
    // A cancel ends the run this way; any other failure of the driver is the source's.
    if (!stopped) {
      driver.SetInput(nullptr);
      throw;
    }
    status = DecodeStatus::kStopped;
  } catch (...) {
    driver.SetInput(nullptr);
    throw;
  }
  driver.SetInput(nullptr);
  return stopped ? DecodeStatus::kStopped : status;
}

SourceTags WaveSource::Tags() const {
  SourceTags tags;
  if (!description_) return tags;
  if (const std::uint64_t bytes = description_->infoListLeftOut; bytes != 0) {
    notices_.push_back("its INFO list of " + std::to_string(bytes) + " bytes is larger than " +
                       std::to_string(kMaxInfoListBytes >> 20) + " MiB and was left out");
  }
  if (const wave::TInfoList* info = description_->info.get()) {
    for (const wave::TInfoItem& item : info->items) {
      const std::optional<std::string> text = wave::InfoItemText(*info, item);
      if (!text || text->empty()) continue;
      std::string cut = CutInfoText(*text);
      if (cut.size() < text->size()) {
        notices_.push_back(std::string("its ") + wave::kInfoTable[item.index].id + " text of " +
                           std::to_string(text->size()) + " bytes was cut to " +
                           std::to_string(cut.size()));
      }
      tags.info.emplace_back(wave::kInfoTable[item.index].id, std::move(cut));
    }
  }
  const int id3 =
      wave::WaveIOReadChunk(*description_, wave::kFourCCId3, kMaxId3TagBytes, tags.id3v2);
  if (id3 == wave::kWaveIOChunkTooLarge) {
    notices_.push_back("its \"id3 \" chunk is larger than " +
                       std::to_string(kMaxId3TagBytes >> 20) + " MiB and was left out");
  }
  return tags;
}

}  // namespace cli
