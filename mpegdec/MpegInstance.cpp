#include "mpegdec/MpegInstance.h"

#include <algorithm>

#include "mpegdec/Clamp.h"
#include "mpegdec/SegmentPlan.h"

using mpegdec::BoundFile;
using mpegdec::Playback;
using mpegdec::SegmentPlan;
using mpegdec::SegmentPlayback;

void mpeg_instance::setDecodeCallback(mpeg_decode_callback callback, void* data) {
  decodeCallback_ = callback;
  decodeData_ = data;
}

// The channel count follows the mode, so it cannot change while the file is open.
int32_t mpeg_instance::setChannelMode(int32_t mode) {
  mode &= 0xFF;
  if (mode > MPEG_CHANNEL_DOWNMIX) return MPEG_ERR_BAD_ARGUMENT;
  if (isOpen()) return mode == settings_.channelMode ? MPEG_OK : MPEG_ERR_ALREADY_OPEN;
  settings_.channelMode = mode;
  return MPEG_OK;
}

// The sample size follows the format, so it cannot change while the file is open either.
int32_t mpeg_instance::setSampleFormat(int32_t format) {
  if (mpegdec::sampleBytesOf(format) == 0) return MPEG_ERR_BAD_ARGUMENT;
  if (isOpen()) return format == settings_.sampleFormat ? MPEG_OK : MPEG_ERR_ALREADY_OPEN;
  settings_.sampleFormat = format;
  return MPEG_OK;
}

int32_t mpeg_instance::bind(const char* name) {
  if (isOpen()) return MPEG_ERR_ALREADY_OPEN;
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
  segment_.reset();
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
  if (isOpen()) return MPEG_ERR_ALREADY_OPEN;
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
  if (!isOpen()) return MPEG_ERR_NOT_OPEN;
  closedClipped_ = clippedSamples();
  playback_.reset();
  segment_.reset();
  closedFrame_ = 0;  // the next open starts at the first frame again
  return MPEG_OK;
}

int32_t mpeg_instance::setPosition(int32_t frame) {
  if (!bound_) return MPEG_ERR_NO_FILE;
  if (frame < 0 || frame > bound_->positionFrames()) return MPEG_ERR_BAD_ARGUMENT;
  if (segment_) return MPEG_ERR_UNSUPPORTED;  // a segment is read from its start to its end
  if (!playback_) {
    closedFrame_ = frame;
    return MPEG_OK;
  }
  return playback_->seek(frame);
}

int32_t mpeg_instance::planSegments(int32_t max, int64_t minSamples, TMpegSegment* segments,
                                    int32_t* count) {
  if (!segments || !count || max < 1 || minSamples < 0) return MPEG_ERR_BAD_ARGUMENT;
  if (!bound_) return MPEG_ERR_NO_FILE;
  const auto plan = SegmentPlan::make(*bound_, max, minSamples);
  std::copy(plan.begin(), plan.end(), segments);
  *count = int32_t(plan.size());
  return MPEG_OK;
}

int32_t mpeg_instance::openSegment(const TMpegSegment* segment) {
  if (!segment) return MPEG_ERR_BAD_ARGUMENT;
  if (!bound_) return MPEG_ERR_NO_FILE;
  if (isOpen()) return MPEG_ERR_ALREADY_OPEN;
  if (SegmentPlan::isWhole(*bound_, *segment)) {
    closedFrame_ = 0;
    return open();
  }
  const auto source = SegmentPlan::locate(*bound_, *segment);
  if (!source) return MPEG_ERR_BAD_ARGUMENT;
  closedClipped_ = 0;
  closedFrame_ = 0;
  auto playback = std::make_unique<SegmentPlayback>(*bound_, *source, segment->FirstSample);
  const int32_t result = playback->start(settings_.channelMode, settings_.sampleFormat);
  if (result == MPEG_OK) segment_ = std::move(playback);
  return result;
}

int32_t mpeg_instance::read(void* buffer, int32_t count) {
  if (!isOpen()) return -MPEG_ERR_NOT_OPEN;
  if (count < 0 || (!buffer && count > 0)) return -MPEG_ERR_BAD_ARGUMENT;
  if (abortRequested_.exchange(false)) return -MPEG_ERR_ABORTED;
  if (decodeCallback_ &&
      decodeCallback_(decodeData_, mpegdec::clampToInt32(deliveredBytes())) != 0) {
    return -MPEG_ERR_ABORTED;
  }
  return segment_ ? segment_->read(buffer, count) : playback_->read(buffer, count);
}

int64_t mpeg_instance::deliveredBytes() const {
  return segment_ ? segment_->deliveredBytes() : playback_->deliveredBytes();
}

bool mpeg_instance::done() const {
  if (segment_) return segment_->done();
  return !playback_ || playback_->done();
}

int32_t mpeg_instance::position() const {
  if (!bound_) return -1;
  if (!isOpen()) return closedFrame_;
  const int64_t sample = segment_ ? segment_->position() : playback_->position();
  return mpegdec::clampToInt32(sample / bound_->samplesPerFrame());
}

int64_t mpeg_instance::clippedSamples() const {
  if (segment_) return segment_->clippedSamples();
  return playback_ ? playback_->clippedSamples() : closedClipped_;
}

void mpeg_instance::notifyChange() {
  if (changeCallback_) changeCallback_(0, changeData_);
}
