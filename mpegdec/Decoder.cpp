#include "mpegdec/Decoder.h"

#include <mpg123.h>

#include <mutex>

#include "mpegdec/mpegdec.h"

namespace mpegdec {
namespace {

// Layer III frames decoded ahead of a seek target: enough to refill the largest bit reservoir
// (255 bytes at 8 kbit/s in MPEG 2 reach back about 24 frames).
constexpr long kPreFrames = 32;
constexpr size_t kDecodeChunk = 16384;

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

// libmpg123's encoding for an MPEG_SAMPLES_* value; 0 for none.
int encodingOf(int sampleFormat) {
  switch (sampleFormat) {
    case MPEG_SAMPLES_S16:
      return MPG123_ENC_SIGNED_16;
    case MPEG_SAMPLES_S24:
      return MPG123_ENC_SIGNED_24;
    case MPEG_SAMPLES_S32:
      return MPG123_ENC_SIGNED_32;
    case MPEG_SAMPLES_FLOAT32:
      return MPG123_ENC_FLOAT_32;
    default:
      return 0;
  }
}

}  // namespace

int sampleBytesOf(int sampleFormat) {
  const int encoding = encodingOf(sampleFormat);
  return encoding == 0 ? 0 : mpg123_encsize(encoding);
}

bool Decoder::libraryReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = mpg123_init() == MPG123_OK; });
  return ready;
}

Decoder::Decoder(int fd, std::vector<FrameSpan> spans) : reader_(fd, std::move(spans)) {}

Decoder::~Decoder() {
  if (handle_) mpg123_delete(handle_);
}

bool Decoder::create(bool gapless, bool infoFrame) {
  handle_ = mpg123_new(nullptr, nullptr);
  if (!handle_) return false;
  const long keep = MPG123_QUIET | MPG123_FORCE_ENDIAN | (gapless ? MPG123_GAPLESS : 0) |
                    (infoFrame ? 0 : MPG123_IGNORE_INFOFRAME);
  const long drop = (gapless ? 0 : MPG123_GAPLESS) | MPG123_FORCE_MONO | MPG123_FORCE_STEREO |
                    MPG123_FORCE_8BIT | MPG123_FORCE_FLOAT | MPG123_NO_RESYNC | MPG123_FUZZY |
                    MPG123_BIG_ENDIAN | MPG123_NO_FRANKENSTEIN |
                    (infoFrame ? MPG123_IGNORE_INFOFRAME : 0);
  return mpg123_param2(handle_, MPG123_VERBOSE, 0, 0) == MPG123_OK &&
         mpg123_param2(handle_, MPG123_ADD_FLAGS, keep, 0) == MPG123_OK &&
         mpg123_param2(handle_, MPG123_REMOVE_FLAGS, drop, 0) == MPG123_OK &&
         mpg123_param2(handle_, MPG123_RESYNC_LIMIT, -1, 0) == MPG123_OK &&
         mpg123_param2(handle_, MPG123_PREFRAMES, kPreFrames, 0) == MPG123_OK &&
         mpg123_replace_reader_handle(handle_, StreamReader::read, StreamReader::seek, nullptr) ==
             MPG123_OK;
}

bool Decoder::setOutput(long rate, int channels, int channelMode, int sampleFormat) {
  const int encoding = encodingOf(sampleFormat);
  if (encoding == 0) return false;
  rate_ = rate;
  channels_ = channels;
  encoding_ = encoding;
  sampleBytes_ = mpg123_encsize(encoding);
  return mpg123_param2(handle_, MPG123_REMOVE_FLAGS, MPG123_FORCE_MONO, 0) == MPG123_OK &&
         (channels != 1 ||
          mpg123_param2(handle_, MPG123_ADD_FLAGS, monoFlag(channelMode), 0) == MPG123_OK) &&
         mpg123_format_none(handle_) == MPG123_OK &&
         mpg123_format(handle_, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO, encoding) ==
             MPG123_OK;
}

bool Decoder::open() {
  mpg123_close(handle_);
  reader_.rewind();
  if (mpg123_open_handle(handle_, &reader_) != MPG123_OK) return false;
  if (!index_.empty()) mpg123_set_index(handle_, index_.data(), indexStep_, index_.size());
  return formatUnchanged();
}

bool Decoder::survey(Survey& survey) {
  mpg123_frameinfo2 frame{};
  if (mpg123_info2(handle_, &frame) != MPG123_OK) return false;
  survey.mpeg1 = frame.version == MPG123_1_0;
  survey.layer = frame.layer;
  survey.rate = frame.rate;
  survey.bitrate = frame.bitrate;
  survey.constantBitrate = frame.vbr == MPG123_CBR;
  double unused = 0;
  survey.encoderDelay = -1;
  mpg123_getstate2(handle_, MPG123_ENC_DELAY, &survey.encoderDelay, &unused);
  survey.announcedFrames = mpg123_framelength(handle_);
  // The scan reads every frame header once: it gives the real frame count (whatever a Xing
  // header claims), the exact length, and a complete seek index.
  survey.scanned = mpg123_scan(handle_) == MPG123_OK;
  survey.frames = mpg123_framelength(handle_);
  survey.length = mpg123_length(handle_);
  long frankenstein = 0;
  mpg123_getstate2(handle_, MPG123_FRANKENSTEIN, &frankenstein, &unused);
  survey.formatChanges = frankenstein != 0;
  saveIndex();
  return true;
}

bool Decoder::startFrameWalk() {
  mpg123_close(handle_);
  reader_.rewind();
  return mpg123_open_handle(handle_, &reader_) == MPG123_OK;
}

bool Decoder::nextFrame(FrameFacts& facts) {
  int rc = mpg123_framebyframe_next(handle_);
  if (rc == MPG123_NEW_FORMAT) rc = MPG123_OK;
  mpg123_frameinfo2 info{};
  unsigned long header = 0;
  unsigned char* body = nullptr;
  size_t bodyBytes = 0;
  if (rc != MPG123_OK || mpg123_info2(handle_, &info) != MPG123_OK ||
      mpg123_framedata(handle_, &header, &body, &bodyBytes) != MPG123_OK) {
    return false;
  }
  facts.offset = int64_t(mpg123_framepos(handle_));
  facts.size = info.framesize;
  facts.layer = info.layer;
  facts.mpeg1 = info.version == MPG123_1_0;
  facts.singleChannel = info.mode == MPG123_M_MONO;
  facts.rate = info.rate;
  facts.crc = (info.flags & MPG123_CRC) != 0;
  facts.mainDataBegin = 0;
  // The body follows the header and starts with the CRC word when there is one; then come the
  // side information's first bits: main_data_begin, 9 bits in MPEG 1 and 8 in MPEG 2 and 2.5.
  const size_t at = facts.crc ? 2 : 0;
  if (facts.layer == 3 && body && bodyBytes >= at + 2) {
    facts.mainDataBegin = facts.mpeg1 ? (body[at] << 1 | body[at + 1] >> 7) : body[at];
  }
  return true;
}

bool Decoder::seek(int64_t sample) {
  return mpg123_seek(handle_, off_t(sample), SEEK_SET) == off_t(sample);
}

Decoder::Status Decoder::decode(PcmBuffer& out) {
  // libmpg123 fills the room it is given, splitting a sample frame if that is what fits; room
  // for whole sample frames only keeps them whole.
  const size_t frame = size_t(frameBytes());
  const size_t room = kDecodeChunk - kDecodeChunk % frame;
  uint8_t* const space = out.appendUninitialised(room);
  size_t done = 0;
  const int rc = mpg123_read(handle_, space, room, &done);
  done -= done % frame;
  out.dropBack(room - done);
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

bool Decoder::formatUnchanged() {
  long rate = 0;
  int channels = 0, encoding = 0;
  return mpg123_getformat(handle_, &rate, &channels, &encoding) == MPG123_OK && rate == rate_ &&
         channels == channels_ && encoding == encoding_;
}

int64_t Decoder::takeClipped() {
  const long clipped = mpg123_clip(handle_);
  return clipped > 0 ? clipped : 0;
}

// Keeps the frame index of a scan, so that later opens seek without reading ahead.
void Decoder::saveIndex() {
  off_t* offsets = nullptr;
  off_t step = 0;
  size_t fill = 0;
  if (mpg123_index(handle_, &offsets, &step, &fill) == MPG123_OK && offsets && fill > 0) {
    index_.assign(offsets, offsets + fill);
    indexStep_ = step;
  }
}

}  // namespace mpegdec
