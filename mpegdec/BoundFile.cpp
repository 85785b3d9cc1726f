// Binding a file finds the MPEG stream in it, checks that it really is one, and measures it
// exactly.
//
// Finding the stream. Tags at either end and a RIFF wrapper are taken off first. The stream
// starts where four frame headers follow each other exactly (same version, layer and rate, each
// where the previous frame ends); libmpg123 on its own takes far less for MPEG audio. From
// there the frames are mapped to the end of the file: where they stop following each other,
// the next such run goes on, and whatever lies between (junk, a destroyed header) is left out.
// libmpg123 reads only the mapped frames, so its resync never decodes false frames as noise.
//
// Measuring. Binding scans every frame header (a walk over the headers, no decoding), so
// Frames and the length are exact whatever a Xing or VBRI header claims; streams whose decoded
// length the scan cannot predict (a format change part-way, fewer frames than the LAME header
// announced) are decoded once. Time is the decoded PCM length in milliseconds, rounded.
//
// Output format. The format announced at binding (the stream's first sample rate, one or two
// channels after the channel mode, samples of the chosen format) is forced on libmpg123, so a
// stream whose channel count or sample rate changes part-way is converted (channels mixed or
// duplicated, rates resampled by libmpg123's NtoM resampler) instead of changing the format under
// the caller.
#include "mpegdec/BoundFile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "mpegdec/CachedReader.h"
#include "mpegdec/Clamp.h"
#include "mpegdec/MpegParse.h"

namespace mpegdec {
namespace {

// Junk tolerated between the tags and the first frame.
constexpr size_t kJunkLimit = size_t(1) << 20;
// Room after the junk limit for the frames of a run that starts just before it.
constexpr size_t kRunMargin = size_t(64) << 10;
// Frame headers that must follow each other before a file counts as MPEG audio.
constexpr int kRequiredFrames = 4;
// Where libmpg123 may find the info header of the first frame it decodes.
constexpr size_t kInfoSearchBytes = kJunkLimit + kRunMargin;
// The most frames an info header may claim and be used: more than 100 hours of the shortest
// frames (which libmpg123 counts through in about 0.1 s).
constexpr uint64_t kMaxInfoFrames = uint64_t(1) << 24;
// Decoder calls that may deliver nothing before the first samples of a stream.
constexpr int kFirstSampleTries = 64;

// Finds the first run of frames in `range` and moves range.begin to it.
bool locateFirstFrame(int fd, ByteRange& range, FrameRun& run) {
  const size_t window = size_t(std::min<uint64_t>(range.size(), kJunkLimit + kRunMargin));
  std::vector<uint8_t> bytes(window);
  if (readFully(fd, range.begin, bytes.data(), window) != window) return false;
  const auto found = findFrameRun(bytes, kJunkLimit, kRequiredFrames, window == range.size());
  if (!found) return false;
  run = *found;
  range.begin += found->offset;
  return true;
}

// Decodes the whole stream from the start and counts its samples.
bool countByDecoding(Decoder& decoder, int64_t& samples) {
  if (!decoder.open()) return false;
  PcmBuffer scratch;
  int64_t bytes = 0;
  int idle = 0;
  for (;;) {
    scratch.clear();
    const auto status = decoder.decode(scratch);
    bytes += int64_t(scratch.size());
    idle = scratch.empty() ? idle + 1 : 0;
    if (status != Decoder::Status::Ok || idle > Decoder::kMaxIdleReads) break;
  }
  samples = bytes / decoder.frameBytes();
  return true;
}

// The first frames must decode to samples.
bool decodesToSamples(Decoder& decoder) {
  if (!decoder.open()) return false;
  PcmBuffer first;
  for (int tries = 0; first.empty() && tries < kFirstSampleTries; ++tries) {
    if (decoder.decode(first) != Decoder::Status::Ok) break;
  }
  return !first.empty();
}

}  // namespace

int outputChannels(int streamChannels, int channelMode) {
  return streamChannels == 1 || channelMode != MPEG_CHANNEL_BOTH ? 1 : 2;
}

// Where binding found the stream.
struct BoundFile::Located {
  ByteRange audio;  // from the first frame to the end of the audio
  FrameRun run;     // the first run of frames
};

int32_t BoundFile::bind(const char* name, const BindSettings& settings,
                        std::unique_ptr<BoundFile>& out) {
  out.reset();
  if (!name) return MPEG_ERR_BAD_ARGUMENT;
  if (isUnsupportedName(name)) return MPEG_ERR_UNSUPPORTED_NAME;
  if (!Decoder::libraryReady()) return MPEG_ERR_DECODE_FAILED;
  auto file = std::make_unique<BoundFile>();
  file->name_ = name;
  openRegularFile(name, file->file_, file->fileSize_);
  if (file->file_.get() < 0) return MPEG_ERR_OPEN_FAILED;
  Located located;
  if (const int32_t rc = file->locate(settings, located); rc != MPEG_OK) return rc;
  if (const int32_t rc = file->measure(located, settings); rc != MPEG_OK) return rc;
  out = std::move(file);
  return MPEG_OK;
}

// Finds the audio between the wrapper and the tags, its first run of frames and the spans of
// frames the decoder reads, and makes the decoder.
int32_t BoundFile::locate(const BindSettings& settings, Located& located) {
  const int fd = file_.get();
  const uint64_t size = fileSize_;
  CachedReader cached(fd);
  const ByteReader reader = [&cached](uint64_t offset, void* buffer, size_t count) {
    return cached.read(offset, buffer, count);
  };

  ByteRange range{0, size};
  const auto kind = locateRiffData(reader, size, range);
  if (kind == RiffKind::OtherAudio) return MPEG_ERR_NOT_MPEG;
  if (kind == RiffKind::NotRiff) range.begin = std::min<uint64_t>(size, settings.fileOffset);
  if (settings.trailingBytes > 0) {
    const uint64_t trailer = std::min<uint64_t>(size, settings.trailingBytes);
    range.end = std::max(range.begin, std::min(range.end, size - trailer));
  }
  trimTrailingTags(reader, range);
  located.audio = range;
  skipLeadingTags(reader, located.audio);
  if (!locateFirstFrame(fd, located.audio, located.run)) {
    // A tag whose size field is wrong: look for the frames from the start instead.
    located.audio = range;
    if (!locateFirstFrame(fd, located.audio, located.run)) return MPEG_ERR_NOT_MPEG;
  }

  auto spans = mapFrames(reader, located.audio, kRequiredFrames, kJunkLimit);
  if (spans.empty()) return MPEG_ERR_NOT_MPEG;
  spans_ = spans;
  decoder_ = std::make_unique<Decoder>(fd, std::move(spans));
  // libmpg123 counts through every frame an info header claims when it resamples, one by one:
  // a forged count of four thousand million frames held a 9 KB file for minutes. A count past
  // any real stream's leaves the header unused.
  infoFrame_ = claimedInfoFrames(reader, located.audio, kInfoSearchBytes) <= kMaxInfoFrames;
  return decoder_->create(true, infoFrame_) ? MPEG_OK : MPEG_ERR_NO_MEMORY;
}

// Measures the stream: frames, exact PCM length and the stream parameters.
int32_t BoundFile::measure(const Located& located, const BindSettings& settings) {
  const FrameHeader& first = located.run.first;
  streamChannels_ = first.channels();
  firstMode_ = first.mode;
  streamRate_ = first.sampleRate;
  samplesPerFrame_ = first.samplesPerFrame;
  if (!prepareOutput(settings.channelMode, settings.sampleFormat)) return MPEG_ERR_DECODE_FAILED;
  Decoder::Survey survey;
  if (!decoder_->open() || !decoder_->survey(survey)) return MPEG_ERR_NOT_MPEG;
  int64_t total = 0;
  if (const int32_t rc = measureLength(survey, total); rc != MPEG_OK) return rc;
  if (!decodesToSamples(*decoder_)) return MPEG_ERR_NOT_MPEG;
  totalSamples_ = total;
  encoderDelay_ = survey.encoderDelay;
  streamBytes_ = uint64_t(decoder_->streamBytes());
  positionFrames_ =
      std::max<int64_t>(survey.frames, (total + samplesPerFrame_ - 1) / samplesPerFrame_);
  describe(survey, survey.frames, total);
  return MPEG_OK;
}

// libmpg123's length is the decoded length unless the stream changes format part-way, or has
// fewer frames than its LAME header announced (then decoding without a scan keeps trimming the
// encoder delay, which the scanned length no longer counts). Those streams are measured by
// decoding them once.
int32_t BoundFile::measureLength(const Decoder::Survey& survey, int64_t& total) {
  seekByDecoding_ = !survey.scanned || survey.formatChanges;
  const bool cutShort = survey.encoderDelay >= 0 && survey.announcedFrames > 0 &&
                        survey.frames != survey.announcedFrames;
  total = survey.length;
  if ((seekByDecoding_ || survey.length < 0 || cutShort) && !countByDecoding(*decoder_, total)) {
    return MPEG_ERR_NOT_MPEG;
  }
  return total > 0 && survey.frames > 0 ? MPEG_OK : MPEG_ERR_NOT_MPEG;
}

// Fills the file info.
void BoundFile::describe(const Decoder::Survey& survey, int64_t frames, int64_t total) {
  const long rate = streamRate_;
  info_ = TMpegFileInfo{};
  info_.Version = survey.mpeg1 ? MPEG_VERSION_1 : MPEG_VERSION_2LSF;
  info_.Layer = survey.layer;
  info_.SampleRate = int32_t(survey.rate);
  info_.PlayBackRate = int32_t(rate);
  // The mode of the run's first frame, which set the channels delivered: libmpg123 may report
  // that of a later frame, and a caller takes the channel count from this.
  info_.Mode = uint8_t(firstMode_);
  info_.Frames = clampToInt32(frames);
  info_.Time = clampToInt32((total * 1000 + rate / 2) / rate);
  info_.FrameTime = samplesPerFrame_ * 1000.0 / double(rate);
  const double seconds = double(frames) * samplesPerFrame_ / double(rate);
  const int average = int(std::lround(double(streamBytes_) * 8.0 / seconds / 1000.0));
  const bool constant = survey.constantBitrate && survey.bitrate > 0 &&
                        std::abs(average - survey.bitrate) <= std::max(2, survey.bitrate / 32);
  info_.BitRate = constant ? survey.bitrate : average;
}

bool BoundFile::configure(Decoder& decoder, int channelMode, int sampleFormat) const {
  const int channels = outputChannels(streamChannels_, channelMode);
  return decoder.setOutput(streamRate_, channels, channelMode, sampleFormat);
}

bool BoundFile::prepareOutput(int channelMode, int sampleFormat) {
  if (outputMode_ == channelMode && outputFormat_ == sampleFormat) return true;
  if (!configure(*decoder_, channelMode, sampleFormat)) {
    outputMode_ = outputFormat_ = -1;
    return false;
  }
  outputMode_ = channelMode;
  outputFormat_ = sampleFormat;
  return true;
}

}  // namespace mpegdec
