// The MPEG decoder library over libmpg123.
//
// Binding a file (mpeg_SetFileName) finds the MPEG stream in it, checks that it really is one,
// and measures it exactly; opening it (mpeg_OpenFile) starts decoding. Decoded PCM goes through a
// small look-ahead buffer so that the read that delivers the last bytes already reports the end.
//
// Finding the stream. Tags at either end and a RIFF wrapper are taken off first. The stream
// starts where four frame headers follow each other exactly (same version, layer and rate, each
// where the previous frame ends); libmpg123 on its own takes far less for MPEG audio. From
// there the frames are mapped to the end of the file: where they stop following each other,
// the next such run goes on, and whatever lies between (junk, a destroyed header) is left out.
// libmpg123 reads only the mapped frames, so its resync never decodes false frames as noise.
//
// Positions. The decoded PCM is gapless: the encoder delay and padding that a LAME/Xing header
// announces are not part of it. A frame index counts frames on that decoded timeline: frame k
// starts at PCM sample k * (samples per frame), which is exactly k * FrameTime milliseconds into
// the PCM that the caller receives. Frame 0 is the first sample delivered, however much of the
// first MPEG frames the encoder delay takes away, so frame positions and Time share one time
// base. Positions past the last sample put the stream at its end. Opening, resetting and
// positioning at frame 0 restart the decoder from scratch and repeat the first decode sample for
// sample; other positions use libmpg123's indexed seek, which lands on the exact sample but may
// round a few samples one step differently from a decode that ran through (seen with some MPEG 2
// and mono layer III streams). Streams that change format part-way are positioned by decoding
// from the start, because libmpg123 cannot map their sample positions.
//
// Measuring. Binding scans every frame header (a walk over the headers, no decoding), so
// Frames and the length are exact whatever a Xing or VBRI header claims; streams whose decoded
// length the scan cannot predict (a format change part-way, fewer frames than the LAME header
// announced) are decoded once. Time is the decoded PCM length in milliseconds, rounded, and
// reading delivers exactly that many samples (should damage end the decoding early, the rest
// is silence).
//
// Output format. The format announced at binding (16-bit, the stream's first sample rate, one or
// two channels after the channel mode) is forced on libmpg123, so a stream whose channel count
// or sample rate changes part-way is converted (channels mixed or duplicated, rates resampled by
// libmpg123's NtoM resampler) instead of changing the format under the caller.
#include "mpegdec/mpegdec.h"

#include <fcntl.h>
#include <mpg123.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "mpegdec/MpegParse.h"

namespace {

using mpegdec::ByteRange;
using mpegdec::FrameRun;

// Junk tolerated between the tags and the first frame.
constexpr size_t kJunkLimit = size_t(1) << 20;
// Room after the junk limit for the frames of a run that starts just before it.
constexpr size_t kRunMargin = size_t(64) << 10;
// Frame headers that must follow each other before a file counts as MPEG audio.
constexpr int kRequiredFrames = 4;
// Layer III frames decoded ahead of a seek target: enough to refill the largest bit reservoir
// (255 bytes at 8 kbit/s in MPEG 2 reach back about 24 frames).
constexpr long kPreFrames = 32;
constexpr size_t kDecodeChunk = 16384;

// A vector whose new elements are left uninitialised: decoded PCM is written over them at once,
// so zero-filling every chunk first would only cost time.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <typename U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using PcmBuffer = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;
// Decoder calls that may return nothing before the stream counts as ended.
constexpr int kMaxIdleReads = 100000;

const char* const kErrorTexts[] = {
    "No error",
    "Invalid or unknown decoder handle",
    "Out of memory",
    "The file cannot be opened or read",
    "No MPEG audio stream was found in the file",
    "No file is bound to the decoder",
    "The file is not open for decoding",
    "Not allowed while the file is open for decoding",
    "Invalid argument",
    "Positioning in the stream failed",
    "The stream cannot be decoded",
    "Not supported by this decoder library",
    "Resource and pointer names are not supported",
    "Decoding was aborted",
};
constexpr int kErrorCount = int(sizeof kErrorTexts / sizeof kErrorTexts[0]);

bool libraryReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = mpg123_init() == MPG123_OK; });
  return ready;
}

size_t readFully(int fd, uint64_t offset, void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got =
        pread(fd, static_cast<char*>(buffer) + done, size - done, off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += size_t(got);
  }
  return done;
}

// Reads of a file through a read-ahead block: binding looks at every frame header and
// libmpg123 asks for each header and frame separately, a few bytes at a time.
class CachedReader {
 public:
  static constexpr size_t kBlockSize = 64 * 1024;

  explicit CachedReader(int fd = -1) : fd_(fd) {}
  void setFd(int fd) {
    fd_ = fd;
    blockLength_ = 0;
  }

  size_t read(uint64_t offset, void* buffer, size_t size) {
    if (size >= kBlockSize) return readFully(fd_, offset, buffer, size);
    if (offset < blockStart_ || offset + size > blockStart_ + blockLength_) {
      block_.resize(kBlockSize);
      blockStart_ = offset;
      blockLength_ = readFully(fd_, offset, block_.data(), kBlockSize);
    }
    const size_t available =
        offset >= blockStart_ + blockLength_ ? 0 : size_t(blockStart_ + blockLength_ - offset);
    const size_t n = std::min(size, available);
    std::memcpy(buffer, block_.data() + (offset - blockStart_), n);
    return n;
  }

 private:
  int fd_;
  std::vector<char> block_;
  uint64_t blockStart_ = 0;
  size_t blockLength_ = 0;
};

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// libmpg123 reads the frames of the file through this, as one stream: the spans of consecutive
// frames found at binding, without the tags, the RIFF wrapper or junk between frames (whose
// false frame headers libmpg123's resync would otherwise decode as noise).
struct StreamReader {
  int fd = -1;
  CachedReader cache;
  std::vector<mpegdec::FrameSpan> spans;
  std::vector<int64_t> starts;  // stream offset of each span
  int64_t size = 0;
  int64_t position = 0;

  void setSpans(std::vector<mpegdec::FrameSpan> frameSpans) {
    spans = std::move(frameSpans);
    starts.clear();
    size = 0;
    for (const auto& span : spans) {
      starts.push_back(size);
      size += int64_t(span.end - span.begin);
    }
  }
};

mpg123_ssize_t readStream(void* handle, void* buffer, size_t size) {
  auto* reader = static_cast<StreamReader*>(handle);
  if (reader->position >= reader->size || size == 0) return 0;
  // The span holding the position; reads stop at its end (libmpg123 reads again).
  const auto next =
      std::upper_bound(reader->starts.begin(), reader->starts.end(), reader->position);
  const size_t index = size_t(next - reader->starts.begin()) - 1;
  const int64_t offset = reader->position - reader->starts[index];
  const auto& span = reader->spans[index];
  const int64_t left = int64_t(span.end - span.begin) - offset;
  size = size_t(std::min<int64_t>(int64_t(size), left));
  const size_t got = reader->cache.read(uint64_t(int64_t(span.begin) + offset), buffer, size);
  if (got == 0 && size > 0) return 0;
  reader->position += int64_t(got);
  return mpg123_ssize_t(got);
}

off_t seekStream(void* handle, off_t offset, int whence) {
  auto* reader = static_cast<StreamReader*>(handle);
  int64_t base;
  switch (whence) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = reader->position;
      break;
    case SEEK_END:
      base = reader->size;
      break;
    default:
      errno = EINVAL;
      return -1;
  }
  const int64_t target = base + int64_t(offset);
  if (target < 0) {
    errno = EINVAL;
    return -1;
  }
  reader->position = target;
  return off_t(target);
}

// One libmpg123 handle reading the frames of one file, with a fixed output format.
class Decoder {
 public:
  enum class Status { Ok, End, Failed };

  Decoder(int fd, std::vector<mpegdec::FrameSpan> spans) {
    reader_.fd = fd;
    reader_.cache.setFd(fd);
    reader_.setSpans(std::move(spans));
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() {
    if (handle_) mpg123_delete(handle_);
  }

  bool create() {
    handle_ = mpg123_new(nullptr, nullptr);
    if (!handle_) return false;
    const long keep = MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_ENDIAN;
    const long drop = MPG123_FORCE_MONO | MPG123_FORCE_STEREO | MPG123_FORCE_8BIT |
                      MPG123_FORCE_FLOAT | MPG123_NO_RESYNC | MPG123_FUZZY | MPG123_BIG_ENDIAN |
                      MPG123_NO_FRANKENSTEIN | MPG123_IGNORE_INFOFRAME;
    return mpg123_param2(handle_, MPG123_VERBOSE, 0, 0) == MPG123_OK &&
           mpg123_param2(handle_, MPG123_ADD_FLAGS, keep, 0) == MPG123_OK &&
           mpg123_param2(handle_, MPG123_REMOVE_FLAGS, drop, 0) == MPG123_OK &&
           mpg123_param2(handle_, MPG123_RESYNC_LIMIT, -1, 0) == MPG123_OK &&
           mpg123_param2(handle_, MPG123_PREFRAMES, kPreFrames, 0) == MPG123_OK &&
           mpg123_replace_reader_handle(handle_, readStream, seekStream, nullptr) == MPG123_OK;
  }

  // The output format of the next open: `monoFlag` (MPG123_MONO_LEFT, _RIGHT or _MIX) says how
  // two channels become one when `channels` is 1.
  bool setOutput(long rate, int channels, long monoFlag) {
    rate_ = rate;
    channels_ = channels;
    return mpg123_param2(handle_, MPG123_REMOVE_FLAGS, MPG123_FORCE_MONO, 0) == MPG123_OK &&
           (channels != 1 || mpg123_param2(handle_, MPG123_ADD_FLAGS, monoFlag, 0) == MPG123_OK) &&
           mpg123_format_none(handle_) == MPG123_OK &&
           mpg123_format(handle_, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO,
                         MPG123_ENC_SIGNED_16) == MPG123_OK;
  }

  // Starts the stream afresh. Reopening (rather than seeking back) resets every bit of decoder
  // state, so a restart repeats the first decode sample for sample.
  bool open() {
    mpg123_close(handle_);
    reader_.position = 0;
    if (mpg123_open_handle(handle_, &reader_) != MPG123_OK) return false;
    if (!index_.empty()) {
      mpg123_set_index(handle_, index_.data(), indexStep_, index_.size());
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    return mpg123_getformat(handle_, &rate, &channels, &encoding) == MPG123_OK && rate == rate_ &&
           channels == channels_ && encoding == MPG123_ENC_SIGNED_16;
  }

  // Keeps the frame index of a scan, so that later opens seek without reading ahead.
  void saveIndex() {
    off_t* offsets = nullptr;
    off_t step = 0;
    size_t fill = 0;
    if (mpg123_index(handle_, &offsets, &step, &fill) == MPG123_OK && offsets && fill > 0) {
      index_.assign(offsets, offsets + fill);
      indexStep_ = step;
    }
  }

  // Appends the next decoded bytes (possibly none) to `out`.
  Status decode(PcmBuffer& out) {
    const size_t old = out.size();
    out.resize(old + kDecodeChunk);
    size_t done = 0;
    const int rc = mpg123_read(handle_, out.data() + old, kDecodeChunk, &done);
    done -= done % size_t(2 * channels_);
    out.resize(old + done);
    switch (rc) {
      case MPG123_OK:
        return Status::Ok;
      case MPG123_NEW_FORMAT:
        return formatUnchanged() ? Status::Ok : Status::Failed;
      case MPG123_DONE:
        return Status::End;
      default:
        return Status::Failed;
    }
  }

  mpg123_handle* handle() const { return handle_; }
  int channels() const { return channels_; }
  int64_t streamBytes() const { return reader_.size; }

 private:
  bool formatUnchanged() {
    long rate = 0;
    int channels = 0, encoding = 0;
    return mpg123_getformat(handle_, &rate, &channels, &encoding) == MPG123_OK && rate == rate_ &&
           channels == channels_ && encoding == MPG123_ENC_SIGNED_16;
  }

  mpg123_handle* handle_ = nullptr;
  StreamReader reader_;
  long rate_ = 0;
  int channels_ = 0;
  std::vector<off_t> index_;
  off_t indexStep_ = 0;
};

// A file bound to an instance and what binding found out about it.
struct BoundFile {
  std::string name;
  FileDescriptor file;  // declared before the decoder, which reads through it
  std::unique_ptr<Decoder> decoder;
  TMpegFileInfo info{};
  int streamChannels = 0;  // of the first frame
  int samplesPerFrame = 0;
  uint64_t streamBytes = 0;
  int64_t totalSamples = 0;
  int64_t positionFrames = 0;  // valid frame indexes are below this
  // libmpg123's sample positions are not to be trusted (the stream changes format part-way):
  // positions are reached by decoding from the start.
  bool seekByDecoding = false;
  // The channel mode the decoder is set up for.
  int outputMode = -1;
};

// Decoding state while the file is open.
struct Playback {
  PcmBuffer pcm;
  size_t head = 0;       // first undelivered byte in pcm
  int64_t position = 0;  // sample index of pcm[head]
  int64_t discard = 0;   // decoded samples still to drop (positioning by decoding)
  int64_t deliveredBytes = 0;
  bool decoderEnded = false;
  bool decoderFailed = false;
  bool done = false;

  size_t buffered() const { return pcm.size() - head; }
  void restart(int64_t at) {
    pcm.clear();
    head = 0;
    position = at;
    discard = 0;
    decoderEnded = false;
    decoderFailed = false;
    done = false;
  }
};

int outputChannels(int streamChannels, int channelMode) {
  return streamChannels == 1 || channelMode != MPEG_CHANNEL_BOTH ? 1 : 2;
}

long monoFlag(int channelMode) {
  switch (channelMode) {
    case MPEG_CHANNEL_LEFT:
      return MPG123_MONO_LEFT;
    case MPEG_CHANNEL_RIGHT:
      return MPG123_MONO_RIGHT;
    default:
      return MPG123_MONO_MIX;
  }
}

bool isUnsupportedName(const char* name) {
  return strncasecmp(name, "RESOURCE://", 11) == 0 || strncasecmp(name, "POINTER://", 10) == 0;
}

int32_t clampToInt32(int64_t value) {
  return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

struct mpeg_instance {
  mpeg_change_callback changeCallback = nullptr;
  void* changeData = nullptr;
  mpeg_decode_callback decodeCallback = nullptr;
  void* decodeData = nullptr;
  int channelMode = MPEG_CHANNEL_BOTH;
  int64_t trailingBytes = 0;
  int64_t fileOffset = 0;
  std::atomic<bool> abortRequested{false};
  std::unique_ptr<BoundFile> bound;
  std::unique_ptr<Playback> playback;  // non-null while open
  // While a bound file is not open: the frame at which the next open starts decoding.
  int32_t closedFrame = 0;

  void notifyChange() {
    if (changeCallback) changeCallback(0, changeData);
  }

  int32_t bind(const char* name);
  int32_t open();
  int32_t reopen();
  int32_t read(void* buffer, int32_t count);
  int32_t setPosition(int32_t frame);
  bool fill(size_t bytes);
};

namespace {

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::unordered_set<const mpeg_instance*>& registry() {
  static std::unordered_set<const mpeg_instance*> instances;
  return instances;
}

mpeg_instance* lookup(MPEG_HANDLE handle) {
  if (!handle) return nullptr;
  std::lock_guard<std::mutex> lock(registryMutex());
  return registry().count(handle) ? handle : nullptr;
}

// Finds the first run of frames in `range` and moves range.begin to it.
bool locateFirstFrame(int fd, ByteRange& range, FrameRun& run) {
  const size_t window = size_t(std::min<uint64_t>(range.size(), kJunkLimit + kRunMargin));
  std::vector<uint8_t> bytes(window);
  if (readFully(fd, range.begin, bytes.data(), window) != window) return false;
  const auto found =
      mpegdec::findFrameRun(bytes, kJunkLimit, kRequiredFrames, window == range.size());
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
    if (status != Decoder::Status::Ok || idle > kMaxIdleReads) break;
  }
  samples = bytes / (2 * decoder.channels());
  return true;
}

// Measures the bound stream: frames, exact PCM length and the stream parameters.
int32_t measure(BoundFile& file, const FrameRun& run, int channelMode) {
  Decoder& decoder = *file.decoder;
  mpg123_handle* mh = decoder.handle();
  file.streamChannels = run.first.channels();
  file.samplesPerFrame = run.first.samplesPerFrame;
  const long rate = run.first.sampleRate;
  const int channels = outputChannels(file.streamChannels, channelMode);
  if (!decoder.setOutput(rate, channels, monoFlag(channelMode))) return MPEG_ERR_DECODE_FAILED;
  file.outputMode = channelMode;
  if (!decoder.open()) return MPEG_ERR_NOT_MPEG;

  mpg123_frameinfo2 frame{};
  if (mpg123_info2(mh, &frame) != MPG123_OK) return MPEG_ERR_NOT_MPEG;
  long encoderDelay = -1;
  double unused = 0;
  mpg123_getstate2(mh, MPG123_ENC_DELAY, &encoderDelay, &unused);
  const off_t announcedFrames = mpg123_framelength(mh);

  // The scan reads every frame header once: it gives the real frame count (whatever a Xing
  // header claims), the exact length, and a complete seek index.
  const bool scanned = mpg123_scan(mh) == MPG123_OK;
  const off_t frames = mpg123_framelength(mh);
  const off_t length = mpg123_length(mh);
  long frankenstein = 0;
  mpg123_getstate2(mh, MPG123_FRANKENSTEIN, &frankenstein, &unused);
  decoder.saveIndex();

  // libmpg123's length is the decoded length unless the stream changes format part-way, or has
  // fewer frames than its LAME header announced (then decoding without a scan keeps trimming
  // the encoder delay, which the scanned length no longer counts). Those streams are measured
  // by decoding them once.
  file.seekByDecoding = !scanned || frankenstein != 0;
  const bool lengthUnreliable =
      file.seekByDecoding || length < 0 ||
      (encoderDelay >= 0 && announcedFrames > 0 && frames != announcedFrames);
  int64_t total = length;
  if (lengthUnreliable && !countByDecoding(decoder, total)) return MPEG_ERR_NOT_MPEG;
  if (total <= 0 || frames <= 0) return MPEG_ERR_NOT_MPEG;

  // The first frames must decode to samples.
  if (!decoder.open()) return MPEG_ERR_NOT_MPEG;
  PcmBuffer first;
  for (int tries = 0; first.empty() && tries < 64; ++tries) {
    if (decoder.decode(first) != Decoder::Status::Ok) break;
  }
  if (first.empty()) return MPEG_ERR_NOT_MPEG;

  file.totalSamples = total;
  file.streamBytes = uint64_t(decoder.streamBytes());
  file.positionFrames =
      std::max<int64_t>(frames, (total + file.samplesPerFrame - 1) / file.samplesPerFrame);

  TMpegFileInfo& info = file.info;
  info = TMpegFileInfo{};
  info.Version = frame.version == MPG123_1_0 ? MPEG_VERSION_1 : MPEG_VERSION_2LSF;
  info.Layer = frame.layer;
  info.SampleRate = int32_t(frame.rate);
  info.PlayBackRate = int32_t(rate);
  // The mode of the run's first frame, which set the channels delivered: libmpg123 may report
  // that of a later frame, and a caller takes the channel count from this.
  info.Mode = uint8_t(run.first.mode);
  info.Frames = clampToInt32(frames);
  info.Time = clampToInt32((total * 1000 + rate / 2) / rate);
  info.FrameTime = file.samplesPerFrame * 1000.0 / double(rate);
  const double seconds = double(frames) * file.samplesPerFrame / double(rate);
  const int average = int(std::lround(double(file.streamBytes) * 8.0 / seconds / 1000.0));
  const bool constant = frame.vbr == MPG123_CBR && frame.bitrate > 0 &&
                        std::abs(average - frame.bitrate) <= std::max(2, frame.bitrate / 32);
  info.BitRate = constant ? frame.bitrate : average;
  return MPEG_OK;
}

}  // namespace

int32_t mpeg_instance::bind(const char* name) {
  const bool wasBound = bound != nullptr;
  bound.reset();
  closedFrame = 0;
  const int32_t result = [&]() -> int32_t {
    if (!name) return MPEG_ERR_BAD_ARGUMENT;
    if (isUnsupportedName(name)) return MPEG_ERR_UNSUPPORTED_NAME;
    if (!libraryReady()) return MPEG_ERR_DECODE_FAILED;
    auto file = std::make_unique<BoundFile>();
    file->name = name;
    // Non-blocking, so that a FIFO or device name cannot stall the open; such names are
    // refused below, and reads from regular files do not care.
    file->file.reset(::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int fd = file->file.get();
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
      return MPEG_ERR_OPEN_FAILED;
    }
    const uint64_t size = uint64_t(status.st_size);
    auto cached = std::make_shared<CachedReader>(fd);
    const mpegdec::ByteReader reader = [cached](uint64_t offset, void* buffer, size_t count) {
      return cached->read(offset, buffer, count);
    };

    ByteRange range{0, size};
    const auto kind = mpegdec::locateRiffData(reader, size, range);
    if (kind == mpegdec::RiffKind::OtherAudio) return MPEG_ERR_NOT_MPEG;
    if (kind == mpegdec::RiffKind::NotRiff) {
      range.begin = std::min<uint64_t>(size, uint64_t(fileOffset));
    }
    if (trailingBytes > 0) {
      range.end = std::max(range.begin,
                           std::min(range.end, size - std::min<uint64_t>(size, trailingBytes)));
    }
    mpegdec::trimTrailingTags(reader, range);
    ByteRange audio = range;
    mpegdec::skipLeadingTags(reader, audio);
    FrameRun run;
    if (!locateFirstFrame(fd, audio, run)) {
      // A tag whose size field is wrong: look for the frames from the start instead.
      audio = range;
      if (!locateFirstFrame(fd, audio, run)) return MPEG_ERR_NOT_MPEG;
    }

    auto spans = mpegdec::mapFrames(reader, audio, kRequiredFrames, kJunkLimit);
    if (spans.empty()) return MPEG_ERR_NOT_MPEG;
    file->decoder = std::make_unique<Decoder>(fd, std::move(spans));
    if (!file->decoder->create()) return MPEG_ERR_NO_MEMORY;
    const int32_t measured = measure(*file, run, channelMode);
    if (measured != MPEG_OK) return measured;
    bound = std::move(file);
    return MPEG_OK;
  }();
  if (bound || wasBound) notifyChange();
  return result;
}

int32_t mpeg_instance::reopen() {
  if (!bound->decoder->open()) return MPEG_ERR_DECODE_FAILED;
  playback->restart(0);
  return MPEG_OK;
}

int32_t mpeg_instance::open() {
  if (!bound) return MPEG_ERR_NO_FILE;
  if (playback) return MPEG_ERR_ALREADY_OPEN;
  BoundFile& file = *bound;
  if (file.outputMode != channelMode) {
    const int channels = outputChannels(file.streamChannels, channelMode);
    if (!file.decoder->setOutput(file.info.PlayBackRate, channels, monoFlag(channelMode))) {
      return MPEG_ERR_DECODE_FAILED;
    }
    file.outputMode = channelMode;
  }
  playback = std::make_unique<Playback>();
  int32_t result = reopen();
  // A position set before opening is where decoding starts.
  if (result == MPEG_OK && closedFrame > 0) result = setPosition(closedFrame);
  if (result != MPEG_OK) playback.reset();
  closedFrame = 0;
  return result;
}

// Decodes until `bytes` are buffered or the decoder has ended.
bool mpeg_instance::fill(size_t bytes) {
  Playback& play = *playback;
  Decoder& decoder = *bound->decoder;
  const size_t sampleBytes = size_t(2 * decoder.channels());
  int idle = 0;
  while (play.buffered() < bytes && !play.decoderEnded) {
    if (play.head > 0) {
      play.pcm.erase(play.pcm.begin(), play.pcm.begin() + ptrdiff_t(play.head));
      play.head = 0;
    }
    const size_t before = play.pcm.size();
    const auto status = decoder.decode(play.pcm);
    size_t got = play.pcm.size() - before;
    if (play.discard > 0 && got > 0) {
      const size_t drop = size_t(std::min<int64_t>(play.discard, int64_t(got / sampleBytes)));
      play.pcm.erase(play.pcm.begin() + ptrdiff_t(before),
                     play.pcm.begin() + ptrdiff_t(before + drop * sampleBytes));
      play.discard -= int64_t(drop);
    }
    idle = got == 0 ? idle + 1 : 0;
    if (status != Decoder::Status::Ok || idle > kMaxIdleReads) play.decoderEnded = true;
    if (status == Decoder::Status::Failed) play.decoderFailed = true;
  }
  // Damage that only shows while decoding (a false header taken for a frame of another rate)
  // can end the stream a little before the measured length. The missing samples are concealed
  // with silence, so the length announced at binding holds. A decoding error ends it instead.
  if (play.decoderEnded && !play.decoderFailed) {
    const int64_t missing =
        bound->totalSamples - play.position - int64_t(play.buffered() / sampleBytes);
    const size_t shortfall = bytes - std::min(bytes, play.buffered());
    const int64_t wanted = int64_t((shortfall + sampleBytes - 1) / sampleBytes);
    if (missing > 0) {
      play.pcm.insert(play.pcm.end(), size_t(std::min(missing, wanted)) * sampleBytes, 0);
    }
  }
  return play.buffered() >= bytes;
}

int32_t mpeg_instance::read(void* buffer, int32_t count) {
  if (!playback) return -MPEG_ERR_NOT_OPEN;
  if (count < 0 || (!buffer && count > 0)) return -MPEG_ERR_BAD_ARGUMENT;
  if (abortRequested.exchange(false)) return -MPEG_ERR_ABORTED;
  Playback& play = *playback;
  if (decodeCallback && decodeCallback(decodeData, clampToInt32(play.deliveredBytes)) != 0) {
    return -MPEG_ERR_ABORTED;
  }
  const int64_t sampleBytes = 2 * bound->decoder->channels();
  const int64_t remaining = bound->totalSamples - play.position;
  if (remaining <= 0) {
    play.done = true;
    return 0;
  }
  const int64_t want = std::min<int64_t>(count / sampleBytes, remaining) * sampleBytes;
  if (want == 0) return count == 0 ? 0 : -MPEG_ERR_BAD_ARGUMENT;
  // One sample more than asked for tells whether these are the last bytes.
  fill(size_t(want + sampleBytes));
  const int64_t bytes = std::min<int64_t>(want, int64_t(play.buffered()));
  if (bytes > 0) std::memcpy(buffer, play.pcm.data() + play.head, size_t(bytes));
  play.head += size_t(bytes);
  play.position += bytes / sampleBytes;
  play.deliveredBytes += bytes;
  play.done = play.position >= bound->totalSamples || (play.decoderEnded && play.buffered() == 0);
  return int32_t(bytes);
}

int32_t mpeg_instance::setPosition(int32_t frame) {
  if (!bound) return MPEG_ERR_NO_FILE;
  BoundFile& file = *bound;
  if (frame < 0 || frame > file.positionFrames) return MPEG_ERR_BAD_ARGUMENT;
  if (!playback) {
    closedFrame = frame;
    return MPEG_OK;
  }
  const int64_t target = int64_t(frame) * file.samplesPerFrame;
  Playback& play = *playback;
  if (target >= file.totalSamples) {
    play.restart(file.totalSamples);
    play.decoderEnded = true;
    play.done = true;
    return MPEG_OK;
  }
  if (target > 0 && !file.seekByDecoding) {
    const off_t reached = mpg123_seek(file.decoder->handle(), off_t(target), SEEK_SET);
    if (reached == off_t(target)) {
      play.restart(target);
      return MPEG_OK;
    }
  }
  // From the start: frame 0, streams whose sample positions libmpg123 cannot map, and the
  // fallback when a seek misses its target.
  if (!file.decoder->open()) {
    play.restart(0);
    play.decoderEnded = true;
    play.done = true;
    return MPEG_ERR_SEEK_FAILED;
  }
  play.restart(target);
  play.discard = target;
  return MPEG_OK;
}

// ---- The C interface ----

extern "C" {

int32_t mpeg_Version(void) {
  return MPEGDEC_VERSION;
}

MPEG_HANDLE mpeg_Init(int32_t* code, mpeg_change_callback callback, void* data) {
  auto* instance = new (std::nothrow) mpeg_instance;
  if (!instance || !libraryReady()) {
    delete instance;
    if (code) *code = instance ? MPEG_ERR_DECODE_FAILED : MPEG_ERR_NO_MEMORY;
    return nullptr;
  }
  instance->changeCallback = callback;
  instance->changeData = data;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().insert(instance);
  }
  if (code) *code = MPEG_OK;
  return instance;
}

int32_t mpeg_Done(MPEG_HANDLE* handle) {
  if (!handle) return MPEG_ERR_NO_HANDLE;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (!*handle || registry().erase(*handle) == 0) return MPEG_ERR_NO_HANDLE;
  }
  delete *handle;
  *handle = nullptr;
  return MPEG_OK;
}

int32_t mpeg_SetDecodeCallback(MPEG_HANDLE handle, mpeg_decode_callback callback, void* data) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  instance->decodeCallback = callback;
  instance->decodeData = data;
  return MPEG_OK;
}

// Only the normal decode mode (0) exists.
int32_t mpeg_SetDecodeMode(MPEG_HANDLE handle, int32_t mode) {
  if (!lookup(handle)) return MPEG_ERR_NO_HANDLE;
  return mode == 0 ? MPEG_OK : MPEG_ERR_UNSUPPORTED;
}

int32_t mpeg_Clear(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  instance->playback.reset();
  instance->closedFrame = 0;
  if (instance->bound) {
    instance->bound.reset();
    instance->notifyChange();
  }
  return MPEG_OK;
}

// Takes effect from the next mpeg_SetFileName.
int32_t mpeg_SetTrailingHeader(MPEG_HANDLE handle, int32_t bytes) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (bytes < 0) return MPEG_ERR_BAD_ARGUMENT;
  instance->trailingBytes = bytes;
  return MPEG_OK;
}

// Where the audio starts in files that are not RIFF wrapped; from the next mpeg_SetFileName.
int32_t mpeg_SetFileOffset(MPEG_HANDLE handle, int32_t offset) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (offset < 0) return MPEG_ERR_BAD_ARGUMENT;
  instance->fileOffset = offset;
  return MPEG_OK;
}

// Positioning is always exact; the setting is accepted and changes nothing.
int32_t mpeg_SetExactPosition(MPEG_HANDLE handle, int32_t /*exact*/) {
  return lookup(handle) ? MPEG_OK : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_SetFileName(MPEG_HANDLE handle, const char* name) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (instance->playback) return MPEG_ERR_ALREADY_OPEN;
  return instance->bind(name);
}

int32_t mpeg_GetFileName(MPEG_HANDLE handle, char* buffer, int32_t size) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!buffer || size <= 0) return MPEG_ERR_BAD_ARGUMENT;
  buffer[0] = '\0';
  if (!instance->bound) return MPEG_ERR_NO_FILE;
  const std::string& name = instance->bound->name;
  if (name.size() >= size_t(size)) return MPEG_ERR_BAD_ARGUMENT;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return MPEG_OK;
}

int32_t mpeg_GetEmpty(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  return !instance || !instance->bound;
}

int32_t mpeg_GetFileInfo(MPEG_HANDLE handle, TMpegFileInfo* info) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!info) return MPEG_ERR_BAD_ARGUMENT;
  if (!instance->bound) {
    *info = TMpegFileInfo{};
    return MPEG_ERR_NO_FILE;
  }
  *info = instance->bound->info;
  return MPEG_OK;
}

// The channel count follows the mode, so it cannot change while the file is open.
int32_t mpeg_SetChannelMode(MPEG_HANDLE handle, int32_t mode) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  mode &= 0xFF;
  if (mode > MPEG_CHANNEL_DOWNMIX) return MPEG_ERR_BAD_ARGUMENT;
  if (instance->playback) return mode == instance->channelMode ? MPEG_OK : MPEG_ERR_ALREADY_OPEN;
  instance->channelMode = mode;
  return MPEG_OK;
}

int32_t mpeg_GetChannelMode(MPEG_HANDLE handle, int32_t* mode) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!mode) return MPEG_ERR_BAD_ARGUMENT;
  const uint8_t value = uint8_t(instance->channelMode);
  std::memcpy(mode, &value, 1);  // the low byte of a little-endian value
  return MPEG_OK;
}

int32_t mpeg_SetPosition(MPEG_HANDLE handle, int32_t frame) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  return instance->setPosition(frame);
}

int32_t mpeg_GetPosition(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance || !instance->bound) return -1;
  if (!instance->playback) return instance->closedFrame;
  return clampToInt32(instance->playback->position / instance->bound->samplesPerFrame);
}

int32_t mpeg_OpenFile(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  return instance->open();
}

int32_t mpeg_CloseFile(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!instance->playback) return MPEG_ERR_NOT_OPEN;
  instance->playback.reset();
  instance->closedFrame = 0;  // the next open starts at the first frame again
  return MPEG_OK;
}

int32_t mpeg_ResetFile(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!instance->playback) return MPEG_ERR_NOT_OPEN;
  return instance->setPosition(0);
}

int32_t mpeg_ReadDataBytes(MPEG_HANDLE handle, void* buffer, int32_t count) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return -MPEG_ERR_NO_HANDLE;
  return instance->read(buffer, count);
}

int32_t mpeg_ReadDataBytesEx(MPEG_HANDLE handle, void* buffer, int32_t count, int32_t* frame) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return -MPEG_ERR_NO_HANDLE;
  if (frame) *frame = mpeg_GetPosition(handle);
  return instance->read(buffer, count);
}

// May be called from another thread than the one reading: the next read returns
// -MPEG_ERR_ABORTED.
int32_t mpeg_AbortReadData(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  instance->abortRequested = true;
  return MPEG_OK;
}

int32_t mpeg_GetDone(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  return !instance || !instance->playback || instance->playback->done;
}

// Binding already scans every frame header, so Frames and Time are exact without this.
int32_t mpeg_ScanFile(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  return instance->bound ? MPEG_OK : MPEG_ERR_NO_FILE;
}

// As mpeg_ScanFile; `progress` hears once that all bytes of the stream were scanned.
int32_t mpeg_ScanFileEx(MPEG_HANDLE handle, mpeg_decode_callback progress, void* data) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!instance->bound) return MPEG_ERR_NO_FILE;
  const int32_t bytes = clampToInt32(int64_t(instance->bound->streamBytes));
  if (progress && progress(data, bytes) != 0) return MPEG_ERR_ABORTED;
  return MPEG_OK;
}

int32_t mpeg_EncryptFile(const char* /*source*/, const char* /*destination*/, int32_t /*key*/) {
  return MPEG_ERR_UNSUPPORTED;
}

// Copies the last 128 bytes of the file when they are an ID3v1 tag; otherwise the buffer is
// zeroed and the result is MPEG_ERR_NOT_MPEG (no tag).
int32_t mpeg_ReadID3Tag(const char* name, void* tag128) {
  if (!name || !tag128) return MPEG_ERR_BAD_ARGUMENT;
  std::memset(tag128, 0, 128);
  if (isUnsupportedName(name)) return MPEG_ERR_UNSUPPORTED_NAME;
  const FileDescriptor file(::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status {};
  if (file.get() < 0 || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return MPEG_ERR_OPEN_FAILED;
  }
  uint8_t tag[128];
  if (status.st_size < 128 ||
      readFully(file.get(), uint64_t(status.st_size) - 128, tag, 128) != 128 ||
      std::memcmp(tag, "TAG", 3) != 0) {
    return MPEG_ERR_NOT_MPEG;
  }
  std::memcpy(tag128, tag, 128);
  return MPEG_OK;
}

int32_t mpeg_GetErrorText(int32_t code, char* buffer, int32_t size) {
  if (!buffer || size <= 0) return MPEG_ERR_BAD_ARGUMENT;
  // Reads return negated error numbers; both signs name the same error.
  const int64_t number = code < 0 ? -int64_t(code) : int64_t(code);
  char text[64];
  if (number < kErrorCount) {
    std::snprintf(text, sizeof text, "%s", kErrorTexts[number]);
  } else {
    std::snprintf(text, sizeof text, "Unknown error %lld", static_cast<long long>(code));
  }
  std::snprintf(buffer, size_t(size), "%s", text);
  if (number >= kErrorCount) return MPEG_ERR_BAD_ARGUMENT;
  return std::strlen(text) < size_t(size) ? MPEG_OK : MPEG_ERR_BAD_ARGUMENT;
}

}  // extern "C"
