// Cutting a bound file's decoded PCM into segments of whole frames that separate decoders can
// decode apart (each on its own thread) and that, put in order, give exactly the samples of one
// decode of the whole file.
//
// A segment's decoder starts a few frames before the segment (the warm-up) with gapless
// decoding off, and drops the warm-up's samples. The warm-up refills what a decoder carries from
// frame to frame: the polyphase synthesis history, the layer III overlap of the previous frame
// and the layer III bit reservoir. Files where that is not enough, or where the samples of the
// whole decode cannot be mapped onto frames, are not cut.
// Threading: stateless; called on the thread that calls the instance whose file it reads.
#ifndef QUELBARIN_MPEGDEC_SEGMENTPLAN_H
#define QUELBARIN_MPEGDEC_SEGMENTPLAN_H

#include <cstdint>
#include <optional>
#include <vector>

#include "mpegdec/BoundFile.h"
#include "mpegdec/mpegdec.h"

namespace mpegdec {

// What a segment's decoder reads and which of its samples it keeps.
struct SegmentSource {
  FrameSpan bytes;          // file bytes from the warm-up's first frame to the segment's end
  int64_t skipSamples = 0;  // decoded samples before the segment's first one
  int64_t samples = 0;      // the segment's length in sample frames
};

class SegmentPlan {
 public:
  // At most `max` segments of at least `minSamples` sample frames (max >= 1, minSamples >= 0);
  // the whole file as one segment when it cannot be cut safely.
  static std::vector<TMpegSegment> make(const BoundFile& file, int32_t max, int64_t minSamples);
  // The segment that stands for the whole file (decoded as usual).
  static TMpegSegment whole(const BoundFile& file);
  static bool isWhole(const BoundFile& file, const TMpegSegment& segment);
  // Where a segment of a plan of `file` is decoded from; nothing when `segment` is none (the
  // whole-file segment included: it needs no source).
  static std::optional<SegmentSource> locate(const BoundFile& file, const TMpegSegment& segment);
};

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_SEGMENTPLAN_H
