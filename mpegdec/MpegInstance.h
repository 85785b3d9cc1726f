// One decoder instance behind an MPEG_HANDLE: its settings and callbacks, the bound file, and
// the playback while that file is open. The states are: empty (no file), bound (a file, not
// open) and open (decoding); the methods below check them and move between them.
// Threading: one thread at a time calls an instance, except requestAbort, which any thread may
// call at any time.
#ifndef QUELBARIN_MPEGDEC_MPEGINSTANCE_H
#define QUELBARIN_MPEGDEC_MPEGINSTANCE_H

#include <atomic>
#include <cstdint>
#include <memory>

#include "mpegdec/BoundFile.h"
#include "mpegdec/Playback.h"
#include "mpegdec/SegmentPlayback.h"
#include "mpegdec/mpegdec.h"

struct mpeg_instance {
 public:
  mpeg_instance(mpeg_change_callback callback, void* data)
      : changeCallback_(callback), changeData_(data) {}

  // Settings kept for the next bind.
  void setTrailingBytes(int64_t bytes) { settings_.trailingBytes = bytes; }
  void setFileOffset(int64_t offset) { settings_.fileOffset = offset; }
  void setDecodeCallback(mpeg_decode_callback callback, void* data);
  int32_t setChannelMode(int32_t mode);
  int channelMode() const { return settings_.channelMode; }
  int32_t setSampleFormat(int32_t format);
  int sampleFormat() const { return settings_.sampleFormat; }

  // Each returns MPEG_OK or the MPEG_ERR_* number that its entry point documents.
  int32_t bind(const char* name);
  int32_t clear();
  int32_t open();
  int32_t close();
  int32_t setPosition(int32_t frame);
  int32_t planSegments(int32_t max, int64_t minSamples, TMpegSegment* segments, int32_t* count);
  int32_t openSegment(const TMpegSegment* segment);
  // Bytes read, or a negated error number.
  int32_t read(void* buffer, int32_t count);
  void requestAbort() { abortRequested_ = true; }

  const mpegdec::BoundFile* bound() const { return bound_.get(); }
  bool isOpen() const { return playback_ || segment_; }
  // The frame of the next bytes read; -1 without a bound file.
  int32_t position() const;
  bool done() const;
  // Samples clipped by the open decoding, or by the last one of the bound file.
  int64_t clippedSamples() const;

 private:
  void notifyChange();
  int64_t deliveredBytes() const;  // by the open playback or segment

  const mpeg_change_callback changeCallback_;
  void* const changeData_;
  mpeg_decode_callback decodeCallback_ = nullptr;
  void* decodeData_ = nullptr;
  mpegdec::BindSettings settings_;
  std::atomic<bool> abortRequested_{false};
  std::unique_ptr<mpegdec::BoundFile> bound_;
  std::unique_ptr<mpegdec::Playback> playback_;  // non-null while open; reads *bound_
  // Instead of playback_, while one segment of a plan is open.
  std::unique_ptr<mpegdec::SegmentPlayback> segment_;
  // While a bound file is not open: the frame at which the next open starts decoding.
  int32_t closedFrame_ = 0;
  // While a bound file is not open: the clip count of its last decoding.
  int64_t closedClipped_ = 0;
};

#endif  // QUELBARIN_MPEGDEC_MPEGINSTANCE_H
