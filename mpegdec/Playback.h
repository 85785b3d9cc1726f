// Decoding of a bound file while it is open: reads, positions and the end of the stream.
// Threading: used on the thread that calls the instance; one call at a time.
#ifndef QUELBARIN_MPEGDEC_PLAYBACK_H
#define QUELBARIN_MPEGDEC_PLAYBACK_H

#include <cstddef>
#include <cstdint>

#include "mpegdec/BoundFile.h"
#include "mpegdec/PcmBuffer.h"

namespace mpegdec {

class Playback {
 public:
  explicit Playback(BoundFile& file) : file_(file) {}

  // Starts decoding at the first frame: MPEG_OK, or MPEG_ERR_DECODE_FAILED.
  int32_t start();
  // Positions at `frame` (0 .. positionFrames): MPEG_OK, or MPEG_ERR_SEEK_FAILED (then the
  // stream stands at its end).
  int32_t seek(int32_t frame);
  // Up to `count` bytes of whole sample frames into `buffer`; 0 at the end;
  // -MPEG_ERR_BAD_ARGUMENT when `count` holds no whole sample frame.
  int32_t read(void* buffer, int32_t count);

  // Sample index of the next byte delivered.
  int64_t position() const { return position_; }
  int64_t deliveredBytes() const { return deliveredBytes_; }
  // Samples clipped since the last start or positioning, as far as decoded.
  int64_t clippedSamples() const { return clipped_; }
  // The read that delivered the last bytes has happened.
  bool done() const { return done_; }

 private:
  void restart(int64_t at);
  void endHere(int64_t at);
  void fill(size_t bytes);
  void dropDiscarded(size_t from);
  void concealShortfall(size_t bytes);

  BoundFile& file_;  // not owned; outlives the playback
  PcmBuffer pcm_;    // decoded, not yet delivered; pcm_[0] is sample position_
  int64_t position_ = 0;
  int64_t discard_ = 0;  // decoded samples still to drop (positioning by decoding)
  int64_t deliveredBytes_ = 0;
  int64_t clipped_ = 0;
  bool decoderEnded_ = false;
  bool decoderFailed_ = false;
  bool done_ = false;
};

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_PLAYBACK_H
