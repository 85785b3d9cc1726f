// Decoding of one segment of a plan (SegmentPlan) while it is open: a decoder of its own reads
// the segment's bytes with gapless decoding off, the warm-up's samples are dropped and exactly
// the segment's samples are delivered.
// Threading: used on the thread that calls the instance; one call at a time.
#ifndef QUELBARIN_MPEGDEC_SEGMENTPLAYBACK_H
#define QUELBARIN_MPEGDEC_SEGMENTPLAYBACK_H

#include <cstdint>

#include "mpegdec/BoundFile.h"
#include "mpegdec/Decoder.h"
#include "mpegdec/PcmBuffer.h"
#include "mpegdec/SegmentPlan.h"

namespace mpegdec {

class SegmentPlayback {
 public:
  // `firstSample` is the segment's first sample in the decode of the whole file.
  SegmentPlayback(const BoundFile& file, const SegmentSource& source, int64_t firstSample);

  // Starts decoding in the given output: MPEG_OK, MPEG_ERR_NO_MEMORY or MPEG_ERR_DECODE_FAILED.
  int32_t start(int channelMode, int sampleFormat);
  // Up to `count` bytes of whole sample frames into `buffer`; 0 at the end;
  // -MPEG_ERR_BAD_ARGUMENT when `count` holds no whole sample frame; -MPEG_ERR_DECODE_FAILED
  // from the read at which the decoder fails or ends before the segment does, and after it.
  int32_t read(void* buffer, int32_t count);

  // Sample index, in the decode of the whole file, of the next byte delivered.
  int64_t position() const { return firstSample_ + delivered_; }
  int64_t deliveredBytes() const { return deliveredBytes_; }
  // Samples clipped so far, the warm-up's included.
  int64_t clippedSamples() const { return clipped_; }
  bool done() const { return done_; }

 private:
  void fill(size_t bytes);

  Decoder decoder_;
  const BoundFile& file_;  // not owned; outlives the playback
  SegmentSource source_;
  int64_t firstSample_;
  PcmBuffer pcm_;          // decoded and kept, not yet delivered
  int64_t skip_ = 0;       // decoded samples still to drop
  int64_t delivered_ = 0;  // sample frames
  int64_t deliveredBytes_ = 0;
  int64_t clipped_ = 0;
  bool decoderEnded_ = false;
  bool failed_ = false;
  bool done_ = false;
};

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_SEGMENTPLAYBACK_H
