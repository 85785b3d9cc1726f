#include "mpegdec/MpegInstance.h"

#include "mpegdec/Clamp.h"

using mpegdec::BoundFile;
using mpegdec::Playback;

void mpeg_instance::setDecodeCallback(mpeg_decode_callback callback, void* data) {
  decodeCallback_ = callback;
  decodeData_ = data;
}

// The channel count follows the mode, so it cannot change while the file is open.
int32_t mpeg_instance::setChannelMode(int32_t mode) {
  mode &= 0xFF;
  if (mode > MPEG_CHANNEL_DOWNMIX) return MPEG_ERR_BAD_ARGUMENT;
  if (playback_) return mode == settings_.channelMode ? MPEG_OK : MPEG_ERR_ALREADY_OPEN;
  settings_.channelMode = mode;
  return MPEG_OK;
}

// The sample size follows the format, so it cannot change while the file is open either.
int32_t mpeg_instance::setSampleFormat(int32_t format) {
  if (mpegdec::sampleBytesOf(format) == 0) return MPEG_ERR_BAD_ARGUMENT;
  if (playback_) return format == settings_.sampleFormat ? MPEG_OK : MPEG_ERR_ALREADY_OPEN;
  settings_.sampleFormat = format;
  return MPEG_OK;
}

int32_t mpeg_instance::bind(const char* name) {
  if (playback_) return MPEG_ERR_ALREADY_OPEN;
  const bool wasBound = bound_ != nullptr;
  bound_.reset();
  closedFrame_ = 0;
  closedClipped_ = 0;
  const int32_t result = BoundFile::bind(name, settings_, bound_);
  if (bound_ || wasBound) notifyChange();
  return result;
}

int32_t mpeg_instance::clear() {
  playback_.reset();
  closedFrame_ = 0;
  closedClipped_ = 0;
  if (bound_) {
    bound_.reset();
    notifyChange();
  }
  return MPEG_OK;
}

int32_t mpeg_instance::open() {
  if (!bound_) return MPEG_ERR_NO_FILE;
  if (playback_) return MPEG_ERR_ALREADY_OPEN;
  closedClipped_ = 0;
  if (!bound_->prepareOutput(settings_.channelMode, settings_.sampleFormat)) {
    return MPEG_ERR_DECODE_FAILED;
  }
  playback_ = std::make_unique<Playback>(*bound_);
  int32_t result = playback_->start();
  // A position set before opening is where decoding starts.
  if (result == MPEG_OK && closedFrame_ > 0) result = playback_->seek(closedFrame_);
  if (result != MPEG_OK) playback_.reset();
  closedFrame_ = 0;
  return result;
}

int32_t mpeg_instance::close() {
  if (!playback_) return MPEG_ERR_NOT_OPEN;
  closedClipped_ = playback_->clippedSamples();
  playback_.reset();
  closedFrame_ = 0;  // the next open starts at the first frame again
  return MPEG_OK;
}

int32_t mpeg_instance::setPosition(int32_t frame) {
  if (!bound_) return MPEG_ERR_NO_FILE;
  if (frame < 0 || frame > bound_->positionFrames()) return MPEG_ERR_BAD_ARGUMENT;
  if (!playback_) {
    closedFrame_ = frame;
    return MPEG_OK;
  }
  return playback_->seek(frame);
}

int32_t mpeg_instance::read(void* buffer, int32_t count) {
  if (!playback_) return -MPEG_ERR_NOT_OPEN;
  if (count < 0 || (!buffer && count > 0)) return -MPEG_ERR_BAD_ARGUMENT;
  if (abortRequested_.exchange(false)) return -MPEG_ERR_ABORTED;
  if (decodeCallback_ &&
      decodeCallback_(decodeData_, mpegdec::clampToInt32(playback_->deliveredBytes())) != 0) {
    return -MPEG_ERR_ABORTED;
  }
  return playback_->read(buffer, count);
}

int32_t mpeg_instance::position() const {
  if (!bound_) return -1;
  if (!playback_) return closedFrame_;
  return mpegdec::clampToInt32(playback_->position() / bound_->samplesPerFrame());
}

int64_t mpeg_instance::clippedSamples() const {
  return playback_ ? playback_->clippedSamples() : closedClipped_;
}

void mpeg_instance::notifyChange() {
  if (changeCallback_) changeCallback_(0, changeData_);
}
